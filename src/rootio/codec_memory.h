#pragma once
// All codec working memory (zlib, liblzma, zstd, LZ4 states) is obtained here, so that a
// test can see that warm contexts stop allocating. The count is process-wide.
#include <cstddef>
#include <vector>

namespace rootio::detail {

void* codec_malloc(size_t n);
void codec_free(void* p);

// Number of codec_malloc calls since the program started.
size_t codec_allocations();

// Keeps freed blocks for reuse: liblzma frees and re-allocates its bookkeeping (stream
// index, filter options) and, when the size changes, its dictionary on every
// re-initialisation. A block is reused for a request between half its size and its size.
class RecyclingPool {
public:
    RecyclingPool();
    ~RecyclingPool();
    RecyclingPool(const RecyclingPool&) = delete;
    RecyclingPool& operator=(const RecyclingPool&) = delete;

    void* allocate(size_t n);
    void release(void* p);

private:
    static constexpr size_t kMaxKept = 16;
    std::vector<void*> kept_;  // blocks as returned by allocate()
};

}  // namespace rootio::detail
