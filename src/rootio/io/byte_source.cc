#include "rootio/io/byte_source.h"

#include "rootio/format/error.h"
#include "rootio/io/local_file_source.h"
#include "rootio/io/xrootd_plugin.h"

namespace rootio {
namespace {

std::atomic<uint64_t> g_requests{0};
std::atomic<uint64_t> g_bytes{0};

}  // namespace

ReadTotals read_totals()
{
    return {g_requests.load(std::memory_order_relaxed), g_bytes.load(std::memory_order_relaxed)};
}

void ByteSource::count_requests(uint64_t n) const
{
    requests_.fetch_add(n, std::memory_order_relaxed);
    g_requests.fetch_add(n, std::memory_order_relaxed);
}

void ByteSource::read(std::span<const ByteRange> ranges, std::string_view context) const
{
    for (const ByteRange& range : ranges) {
        const auto n = static_cast<int64_t>(range.out.size());
        if (range.seek < 0 || range.seek > size_ || n > size_ - range.seek)
            fail(name_, context,
                 "bytes " + std::to_string(range.seek) + ".." + std::to_string(range.seek + n) +
                     " lie outside the file (" + std::to_string(size_) + " bytes)");
    }
    if (ranges.empty()) return;
    read_ranges(ranges, context);
    uint64_t bytes = 0;
    for (const ByteRange& range : ranges) bytes += range.out.size();
    g_bytes.fetch_add(bytes, std::memory_order_relaxed);
}

std::unique_ptr<ByteSource> open_byte_source(const std::string& path)
{
    if (is_xrootd_url(path)) return open_xrootd_source(path);
    return LocalFileSource::open(path);
}

}  // namespace rootio
