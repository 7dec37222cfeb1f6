#include "rootio/ntuple/page_sink.h"

#include <array>
#include <cstring>
#include <limits>

#include "rootio/format/error.h"
#include "rootio/ntuple/blob_chunks.h"
#include "rootio/ntuple/column_encoding.h"
#include "rootio/ntuple/envelope_writer.h"

namespace rootio::ntuple {

PageSink::PageSink(FileWriter& file, int compression, int threads, uint64_t max_key_size)
    : file_(file), compression_(compression), max_key_size_(max_key_size), pipeline_(threads)
{
    Compressor::check_setting(compression);
}

PageSink::~PageSink() = default;

size_t PageSink::seal(uint32_t column, ColumnType type, std::span<const uint8_t> elements, uint64_t count)
{
    if (count > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        fail(file_.path(), "RNTuple page", "more than 2^31 elements in one page");
    while (pipeline_.full()) write_oldest(true);
    BasketPipeline::Basket& b = pipeline_.next();
    b.tag = static_cast<int>(pages_.size());
    b.compression = compression_;
    encode_page(type, elements, count, b.payload);
    pages_.push_back({column, static_cast<uint32_t>(count), 0, 0});
    pipeline_.submit();
    while (!pipeline_.empty() && write_oldest(false)) {
    }
    return pages_.size() - 1;
}

void PageSink::flush()
{
    while (!pipeline_.empty()) write_oldest(true);
}

bool PageSink::write_oldest(bool wait)
{
    const BasketPipeline::Basket* b = pipeline_.oldest(wait);
    if (!b) return false;
    if (b->error) {
        pipeline_.clear();
        std::rethrow_exception(b->error);
    }
    const std::span<const uint8_t> stored = b->stored();
    std::array<uint8_t, kPageChecksumSize> checksum{};
    const uint64_t hash = xxh3_64(stored);
    std::memcpy(checksum.data(), &hash, sizeof hash);  // little-endian, as every RNTuple integer
    PageRecord& page = pages_[static_cast<size_t>(b->tag)];
    page.offset = static_cast<uint64_t>(
        write_chunked_blob(file_, stored, checksum, static_cast<int64_t>(b->payload.size()), max_key_size_));
    page.size = static_cast<uint32_t>(stored.size());
    pipeline_.pop();
    return true;
}

}  // namespace rootio::ntuple
