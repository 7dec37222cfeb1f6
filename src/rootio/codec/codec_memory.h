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

// The same memory in the signatures each library's custom allocator expects.
void* codec_zlib_alloc(void* opaque, unsigned items, unsigned size);  // zlib alloc_func
void codec_zlib_free(void* opaque, void* p);
void* codec_zstd_alloc(void* opaque, size_t n);  // ZSTD_customMem
void codec_zstd_free(void* opaque, void* p);
// liblzma's lzma_allocator with a RecyclingPool as its opaque pointer.
void* pool_lzma_alloc(void* pool, size_t nmemb, size_t size);
void pool_lzma_free(void* pool, void* p);

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
