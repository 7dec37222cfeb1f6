#pragma once
// Where a written file goes until it is complete. It is written under a temporary name
// ("NAME.incomplete-XXXXXX") in the folder of its final name (of the link's target, for a
// symbolic link) and renamed onto that name only once it is complete, synced and closed:
// a reader never sees a partial file there, and a failed or interrupted run leaves
// whatever stood there before untouched. A signal that ends the program removes the
// temporary file (see pending_files.h); after SIGKILL only it can remain.
// Only a regular file is written: a FIFO, device or folder at the final name is refused
// (writing into a FIFO nobody reads would wait for ever).
#include <span>
#include <string>

namespace rootio {

class OutputFile {
public:
    // Throws RootError "PATH: cannot create: REASON" (a folder at `path` gives "Is a
    // directory"), or "PATH: is a FIFO, not a regular file" for another kind of file there.
    explicit OutputFile(std::string path);
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Open for writing (pwrite), >= 3 so that it can never be taken for a standard stream.
    int fd() const { return fd_; }
    bool is_open() const { return fd_ >= 0; }

    // Syncs and closes the file: complete, still under its temporary name (temp_path(),
    // where it can be read back), not yet in place. Throws RootError naming the final
    // path; the temporary file is removed then.
    void finish();
    const std::string& temp_path() const { return temp_path_; }

    // Finishes the file if need be and renames it onto the final name. Throws as finish().
    void commit();
    // Closes and removes the temporary file (the final name is not touched).
    void discard() noexcept;

private:
    friend void commit_together(std::span<OutputFile* const> files);
    [[noreturn]] void fail_sys(const char* what, int err);
    bool temp_is_ours() const;
    // The rename onto the final name; returns 0 or errno. A file it replaced stays under
    // the temporary name until settle(), so that undo_move() can put it back.
    int move_into_place();
    void undo_move() noexcept;
    void settle() noexcept;

    std::string path_;  // as given, for messages
    int fd_ = -1;
    int folder_fd_ = -1;      // folder of the final name
    std::string final_name_;  // inside that folder
    std::string temp_name_;
    std::string temp_path_;
    int pending_ticket_ = -1;
    unsigned long long dev_ = 0, ino_ = 0;
    bool finished_ = false;
    bool replaced_previous_ = false;  // move_into_place() swapped an earlier file out
};

// Commits several files as one: all are finished first, then renamed into place with the
// ending signals held back (pending_files.h), so a failure leaves every final name as it
// was, and a signal leaves either all of the new files in place or none.
void commit_together(std::span<OutputFile* const> files);

}  // namespace rootio
