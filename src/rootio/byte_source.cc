#include "rootio/byte_source.h"

#include "rootio/error.h"
#include "rootio/local_file_source.h"
#include "rootio/xrootd_source.h"

namespace rootio {

void ByteSource::read(std::span<const ByteRange> ranges, std::string_view context) const
{
    for (const ByteRange& range : ranges) {
        const auto n = static_cast<int64_t>(range.out.size());
        if (range.seek < 0 || range.seek > size_ || n > size_ - range.seek)
            fail(name_, context,
                 "bytes " + std::to_string(range.seek) + ".." + std::to_string(range.seek + n) +
                     " lie outside the file (" + std::to_string(size_) + " bytes)");
    }
    if (!ranges.empty()) read_ranges(ranges, context);
}

std::unique_ptr<ByteSource> open_byte_source(const std::string& path)
{
    if (is_xrootd_url(path)) return XRootDSource::open(path);
    return LocalFileSource::open(path);
}

}  // namespace rootio
