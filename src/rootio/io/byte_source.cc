#include "rootio/io/byte_source.h"

#include "rootio/format/error.h"
#include "rootio/io/local_file_source.h"
#include "rootio/io/xrootd_plugin.h"

namespace rootio {
namespace {

std::atomic<uint64_t> g_requests{0};
std::atomic<uint64_t> g_bytes{0};
std::atomic<uint64_t> g_blocking_reads{0};
std::atomic<uint64_t> g_waits{0};
std::atomic<uint64_t> g_opened{0};
thread_local ThreadStops t_stops;

uint64_t load(const std::atomic<uint64_t>& counter) { return counter.load(std::memory_order_relaxed); }
void bump(std::atomic<uint64_t>& counter, uint64_t n = 1) { counter.fetch_add(n, std::memory_order_relaxed); }

uint64_t bytes_of(std::span<const ByteRange> ranges)
{
    uint64_t bytes = 0;
    for (const ByteRange& range : ranges) bytes += range.out.size();
    return bytes;
}

}  // namespace

ReadTotals read_totals()
{
    return {load(g_requests), load(g_bytes), load(g_blocking_reads), load(g_waits), load(g_opened)};
}

ThreadStops this_thread_stops() { return t_stops; }

PendingRead::~PendingRead()
{
    // The buffers the answers are written into go away with the caller's state.
    int left = remaining_.load(std::memory_order_acquire);
    while (left != 0) {
        remaining_.wait(left, std::memory_order_acquire);
        left = remaining_.load(std::memory_order_acquire);
    }
}

void PendingRead::wait()
{
    int left = remaining_.load(std::memory_order_acquire);
    if (left != 0) source_->count_wait();
    while (left != 0) {
        remaining_.wait(left, std::memory_order_acquire);
        left = remaining_.load(std::memory_order_acquire);
    }
    const std::lock_guard lock(error_mutex_);
    if (error_) std::rethrow_exception(error_);
}

void PendingRead::part_done(std::exception_ptr error)
{
    if (error) {
        const std::lock_guard lock(error_mutex_);
        if (!error_) error_ = std::move(error);
    }
    if (remaining_.fetch_sub(1, std::memory_order_acq_rel) == 1) remaining_.notify_all();
}

ByteSource::ByteSource(std::string name, int64_t size) : name_(std::move(name)), size_(size) { bump(g_opened); }

void ByteSource::count_wait() const
{
    bump(waits_);
    bump(g_waits);
    ++t_stops.waits;
}

void ByteSource::count_requests(uint64_t n) const
{
    requests_.fetch_add(n, std::memory_order_relaxed);
    g_requests.fetch_add(n, std::memory_order_relaxed);
}

void ByteSource::check_ranges(std::span<const ByteRange> ranges, std::string_view context) const
{
    for (const ByteRange& range : ranges) {
        const auto n = static_cast<int64_t>(range.out.size());
        if (range.seek < 0 || range.seek > size_ || n > size_ - range.seek)
            fail(name_, context,
                 "bytes " + std::to_string(range.seek) + ".." + std::to_string(range.seek + n) +
                     " lie outside the file (" + std::to_string(size_) + " bytes)");
    }
}

void ByteSource::read(std::span<const ByteRange> ranges, std::string_view context) const
{
    check_ranges(ranges, context);
    if (ranges.empty()) return;
    bump(blocking_reads_);
    bump(g_blocking_reads);
    ++t_stops.blocking_reads;
    read_ranges(ranges, context);
    bump(g_bytes, bytes_of(ranges));
}

std::unique_ptr<PendingRead> ByteSource::submit(std::span<const ByteRange> ranges, std::string_view context) const
{
    check_ranges(ranges, context);
    if (ranges.empty()) return std::make_unique<PendingRead>(*this, 0);
    bump(g_bytes, bytes_of(ranges));
    return submit_ranges(ranges, context);
}

std::unique_ptr<PendingRead> ByteSource::submit_ranges(std::span<const ByteRange> ranges,
                                                       std::string_view context) const
{
    auto pending = std::make_unique<PendingRead>(*this, 1);
    std::exception_ptr error;
    try {
        read_ranges(ranges, context);
    } catch (...) {
        error = std::current_exception();
    }
    pending->part_done(std::move(error));
    return pending;
}

std::unique_ptr<ByteSource> open_byte_source(const std::string& path)
{
    if (is_xrootd_url(path)) return open_xrootd_source(path);
    return LocalFileSource::open(path);
}

}  // namespace rootio
