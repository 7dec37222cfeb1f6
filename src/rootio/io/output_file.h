#pragma once
// Where a written file goes until it is complete. A regular file is written under a
// temporary name ("NAME.incomplete-XXXXXX") in the folder of its final name (of the link's
// target, for a symbolic link) and renamed onto that name only once it is complete, synced
// and closed: a reader never sees a partial file there, and a failed or interrupted run
// leaves whatever stood there before untouched. A signal that ends the program removes the
// temporary file (see pending_files.h); after SIGKILL only it can remain.
// A device or FIFO at the final name is written in place, as nothing could replace it.
#include <string>

namespace rootio {

class OutputFile {
public:
    // Throws RootError "PATH: cannot create: REASON" (a folder at `path` gives "Is a directory").
    explicit OutputFile(std::string path);
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Open for writing (pwrite), >= 3 so that it can never be taken for a standard stream.
    int fd() const { return fd_; }
    bool is_open() const { return fd_ >= 0; }

    // Syncs and closes the file and renames it onto the final name. Throws RootError naming
    // the final path; the temporary file is removed then.
    void commit();
    // Closes and removes the temporary file (the final name is not touched).
    void discard() noexcept;

private:
    [[noreturn]] void fail_sys(const char* what, int err);
    bool temp_is_ours() const;

    std::string path_;  // as given, for messages
    int fd_ = -1;
    int folder_fd_ = -1;      // folder of the final name; -1 when written in place
    std::string final_name_;  // inside that folder
    std::string temp_name_;
    int pending_ticket_ = -1;
    unsigned long long dev_ = 0, ino_ = 0;
};

}  // namespace rootio
