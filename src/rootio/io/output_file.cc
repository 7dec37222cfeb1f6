#include "rootio/io/output_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "rootio/format/error.h"
#include "rootio/io/file_kind.h"
#include "rootio/io/pending_files.h"

namespace rootio {

namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel's ELOOP limit
constexpr int kNameAttempts = 100;
constexpr std::string_view kTempMarker = ".incomplete-";

struct Place {
    std::string folder;
    std::string name;
};

Place split(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The file a write to `path` lands in: symbolic links followed (a dangling link's target
// is created), so that the link itself stays. Returns errno on failure, 0 otherwise.
int resolve_links(std::string& path)
{
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat sb {};
        if (::lstat(path.c_str(), &sb) != 0) return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(sb.st_mode)) return 0;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        if (n < 0) return errno;
        if (static_cast<size_t>(n) >= sizeof target) return ENAMETOOLONG;
        const std::string link(target, static_cast<size_t>(n));
        path = link.starts_with('/') ? link : split(path).folder + "/" + link;
    }
    return ELOOP;
}

// Moves a descriptor to 3 or above: a program started with standard output closed would
// otherwise get it as fd 1 and write its messages into the file.
int above_standard_streams(int fd)
{
    if (fd < 0 || fd > 2) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int err = errno;
    ::close(fd);
    errno = err;
    return moved;
}

std::string temp_name_for(const std::string& final_name, std::mt19937_64& random)
{
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    // Cut a long final name so that the temporary one still fits NAME_MAX.
    std::string name = final_name.substr(0, NAME_MAX - kTempMarker.size() - 6);
    name += kTempMarker;
    for (int i = 0; i < 6; ++i) name += kChars[random() % (sizeof kChars - 1)];
    return name;
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path))
{
    std::string target = path_;
    if (const int err = resolve_links(target)) fail_sys("cannot create", err);
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if ((exists && S_ISDIR(existing.st_mode)) || target.ends_with('/')) fail_sys("cannot create", EISDIR);
    if (exists && !S_ISREG(existing.st_mode)) fail(path_, "", not_a_regular_file(existing.st_mode));

    Place place = split(target);
    final_name_ = std::move(place.name);
    folder_fd_ = above_standard_streams(::open(place.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder_fd_ < 0) fail_sys("cannot create", errno);
    std::mt19937_64 random(std::random_device{}() ^ static_cast<uint64_t>(::getpid()));
    for (int attempt = 0; attempt < kNameAttempts && fd_ < 0; ++attempt) {
        temp_name_ = temp_name_for(final_name_, random);
        temp_path_ = place.folder + "/" + temp_name_;
        // Registered before it exists, so that no signal can leave it behind.
        pending_ticket_ = register_pending_file(folder_fd_, temp_name_);
        fd_ = ::openat(folder_fd_, temp_name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        const int err = errno;
        if (fd_ < 0) {
            forget_pending_file(pending_ticket_);
            pending_ticket_ = -1;
            if (err != EEXIST) fail_sys("cannot create", err);
        }
    }
    if (fd_ < 0) fail_sys("cannot create", EEXIST);
    fd_ = above_standard_streams(fd_);
    if (fd_ < 0) fail_sys("cannot create", errno);
    struct stat sb {};
    if (::fstat(fd_, &sb) != 0) {
        const int err = errno;
        ::unlinkat(folder_fd_, temp_name_.c_str(), 0);
        fail_sys("cannot stat", err);
    }
    dev_ = sb.st_dev;
    ino_ = sb.st_ino;
    // A replaced file keeps its permissions, as it would have if written over.
    if (exists) ::fchmod(fd_, existing.st_mode & 07777);
}

OutputFile::~OutputFile()
{
    discard();
}

void OutputFile::fail_sys(const char* what, int err)
{
    discard();
    fail(path_, "", std::string(what) + ": " + std::strerror(err));
}

bool OutputFile::temp_is_ours() const
{
    struct stat sb {};
    return ::fstatat(folder_fd_, temp_name_.c_str(), &sb, AT_SYMLINK_NOFOLLOW) == 0 && sb.st_dev == dev_ &&
           sb.st_ino == ino_;
}

void OutputFile::discard() noexcept
{
    if (folder_fd_ >= 0) {
        if (temp_is_ours()) ::unlinkat(folder_fd_, temp_name_.c_str(), 0);
        forget_pending_file(pending_ticket_);
        pending_ticket_ = -1;
        ::close(folder_fd_);
        folder_fd_ = -1;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void OutputFile::finish()
{
    if (finished_) return;
    if (fd_ < 0) fail(path_, "", "file was discarded after an earlier failure");
    // The data must be on disk before the rename.
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) fail_sys("cannot sync", errno);
    // Data written to a file removed (or replaced) under us would be lost silently.
    if (!temp_is_ours()) {
        discard();
        fail(path_, "", "file was removed or replaced while being written");
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail_sys("close failed", errno);
    finished_ = true;
}

void OutputFile::commit()
{
    OutputFile* const self[] = {this};
    commit_together(self);
}

int OutputFile::move_into_place()
{
    const char* temp = temp_name_.c_str();
    const char* final_name = final_name_.c_str();
    // Swapped rather than renamed over, so that the earlier file can still be put back.
    if (::renameat2(folder_fd_, temp, folder_fd_, final_name, RENAME_EXCHANGE) == 0) {
        struct stat sb {};
        if (::fstatat(folder_fd_, temp, &sb, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(sb.st_mode)) {
            replaced_previous_ = true;
            return 0;
        }
        // Something other than a file appeared at the final name meanwhile: it stays.
        ::renameat2(folder_fd_, temp, folder_fd_, final_name, RENAME_EXCHANGE);
        return S_ISDIR(sb.st_mode) ? EISDIR : EEXIST;
    }
    // ENOENT: nothing there yet; EINVAL: a file system that cannot swap.
    if (errno != ENOENT && errno != EINVAL) return errno;
    if (::renameat(folder_fd_, temp, folder_fd_, final_name) != 0) return errno;
    replaced_previous_ = false;
    return 0;
}

void OutputFile::undo_move() noexcept
{
    if (replaced_previous_)
        ::renameat2(folder_fd_, temp_name_.c_str(), folder_fd_, final_name_.c_str(), RENAME_EXCHANGE);
    else
        ::renameat(folder_fd_, final_name_.c_str(), folder_fd_, temp_name_.c_str());
    replaced_previous_ = false;
}

void OutputFile::settle() noexcept
{
    if (replaced_previous_) ::unlinkat(folder_fd_, temp_name_.c_str(), 0);
    forget_pending_file(pending_ticket_);
    pending_ticket_ = -1;
    ::fsync(folder_fd_);  // the rename itself; a folder that cannot be synced is no error
    ::close(folder_fd_);
    folder_fd_ = -1;
}

void commit_together(std::span<OutputFile* const> files)
{
    for (OutputFile* file : files) file->finish();
    const PendingSignalsHold hold;
    for (size_t i = 0; i < files.size(); ++i) {
        if (const int err = files[i]->move_into_place()) {
            for (size_t j = 0; j < i; ++j) files[j]->undo_move();
            files[i]->fail_sys("cannot move the finished file into place", err);
        }
    }
    for (OutputFile* file : files) file->settle();
}

}  // namespace rootio
