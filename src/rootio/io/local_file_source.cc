#include "rootio/io/local_file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "rootio/format/error.h"
#include "rootio/io/file_kind.h"

namespace rootio {

std::unique_ptr<LocalFileSource> LocalFileSource::open(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    // The type is checked on the open descriptor, so it cannot change in between.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) fail(path, "", std::string("cannot open: ") + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        fail(path, "", std::string("cannot stat: ") + std::strerror(err));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(path, "", not_a_regular_file(st.st_mode));
    }
    // Regular files never block; clear the flag so reads behave as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::unique_ptr<LocalFileSource>(new LocalFileSource(path, fd, st.st_size));
}

LocalFileSource::~LocalFileSource()
{
    if (fd_ >= 0) ::close(fd_);
}

void LocalFileSource::read_ranges(std::span<const ByteRange> ranges, std::string_view context) const
{
    for (const ByteRange& range : ranges) {
        size_t done = 0;
        while (done < range.out.size()) {
            const ssize_t got = ::pread(fd_, range.out.data() + done, range.out.size() - done,
                                        static_cast<off_t>(range.seek + static_cast<int64_t>(done)));
            if (got < 0) {
                if (errno == EINTR) continue;
                fail(name(), context, std::string("read failed: ") + std::strerror(errno));
            }
            if (got == 0) fail(name(), context, "file shrank while reading");
            done += static_cast<size_t>(got);
        }
    }
    count_requests(ranges.size());
}

}  // namespace rootio
