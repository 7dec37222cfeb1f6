#pragma once
// A regular file on a local (or mounted) file system, read with pread: no shared file
// position, so any number of threads may read at once.
#include <string>

#include "rootio/io/byte_source.h"

namespace rootio {

class LocalFileSource final : public ByteSource {
public:
    // Throws RootError naming `path` when it cannot be opened or is not a regular file.
    static std::unique_ptr<LocalFileSource> open(const std::string& path);
    ~LocalFileSource() override;

private:
    LocalFileSource(std::string path, int fd, int64_t size) : ByteSource(std::move(path), size), fd_(fd) {}
    void read_ranges(std::span<const ByteRange> ranges, std::string_view context) const override;

    int fd_ = -1;
};

}  // namespace rootio
