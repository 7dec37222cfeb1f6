#pragma once
// Where sealed pages go: each is encoded into a slot of the shared basket pipeline,
// compressed on the worker threads, and written as one RBlob (page, then its XXH3-64)
// strictly in the order sealed, so the file does not depend on the thread count. Keeps
// each page's locator for the page list.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "rootio/file/basket_pipeline.h"
#include "rootio/file/file_writer.h"
#include "rootio/ntuple/format_constants.h"

namespace rootio::ntuple {

struct PageRecord {
    uint32_t column = 0;
    uint32_t elements = 0;
    uint64_t offset = 0;  // of the stored bytes in the file (filled once written)
    uint32_t size = 0;    // stored bytes, the checksum not included
};

class PageSink {
public:
    // `threads` as for BasketPipeline; `compression` is the setting of every page.
    PageSink(FileWriter& file, int compression, int threads, uint64_t max_key_size);
    ~PageSink();
    PageSink(const PageSink&) = delete;
    PageSink& operator=(const PageSink&) = delete;

    // Encodes `count` elements of a column of `type` (in memory form) as one page, queued
    // for compression and writing. Returns the page's index in pages().
    size_t seal(uint32_t column, ColumnType type, std::span<const uint8_t> elements, uint64_t count);
    // Writes every queued page.
    void flush();

    // Every page sealed so far, in sealing order; a page's locator is set once flush() (or
    // a later seal) wrote it.
    const std::vector<PageRecord>& pages() const { return pages_; }
    int compression() const { return compression_; }

private:
    bool write_oldest(bool wait);

    FileWriter& file_;
    int compression_;
    uint64_t max_key_size_;
    BasketPipeline pipeline_;
    std::vector<PageRecord> pages_;
};

}  // namespace rootio::ntuple
