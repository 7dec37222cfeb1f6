#include "rootio/codec/codec_memory.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace rootio::detail {

namespace {

std::atomic<size_t> g_allocations{0};

// Pool blocks carry their size in front, padded to keep malloc's alignment.
constexpr size_t kPrefix = alignof(std::max_align_t);

size_t size_of_block(void* p)
{
    size_t n;
    std::memcpy(&n, static_cast<char*>(p) - kPrefix, sizeof n);
    return n;
}

}  // namespace

void* codec_malloc(size_t n)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n);
}

void codec_free(void* p) { std::free(p); }

size_t codec_allocations() { return g_allocations.load(std::memory_order_relaxed); }

void* codec_zlib_alloc(void*, unsigned items, unsigned size) { return codec_malloc(size_t{items} * size); }
void codec_zlib_free(void*, void* p) { codec_free(p); }
void* codec_zstd_alloc(void*, size_t n) { return codec_malloc(n); }
void codec_zstd_free(void*, void* p) { codec_free(p); }

void* pool_lzma_alloc(void* pool, size_t nmemb, size_t size)
{
    return static_cast<RecyclingPool*>(pool)->allocate(nmemb * size);
}
void pool_lzma_free(void* pool, void* p) { static_cast<RecyclingPool*>(pool)->release(p); }

RecyclingPool::RecyclingPool() { kept_.reserve(kMaxKept); }

RecyclingPool::~RecyclingPool()
{
    for (void* p : kept_) codec_free(static_cast<char*>(p) - kPrefix);
}

void* RecyclingPool::allocate(size_t n)
{
    size_t best = kept_.size();
    for (size_t i = 0; i < kept_.size(); ++i) {
        const size_t have = size_of_block(kept_[i]);
        if (have >= n && have / 2 <= n && (best == kept_.size() || have < size_of_block(kept_[best]))) best = i;
    }
    if (best != kept_.size()) {
        void* p = kept_[best];
        kept_[best] = kept_.back();
        kept_.pop_back();
        return p;
    }
    if (n > SIZE_MAX - kPrefix) return nullptr;
    char* raw = static_cast<char*>(codec_malloc(n + kPrefix));
    if (!raw) return nullptr;
    std::memcpy(raw, &n, sizeof n);
    return raw + kPrefix;
}

void RecyclingPool::release(void* p)
{
    if (!p) return;
    if (kept_.size() == kMaxKept) {  // drop the largest: memory stays bounded
        size_t largest = 0;
        for (size_t i = 1; i < kept_.size(); ++i)
            if (size_of_block(kept_[i]) > size_of_block(kept_[largest])) largest = i;
        if (size_of_block(kept_[largest]) > size_of_block(p)) std::swap(kept_[largest], p);
        codec_free(static_cast<char*>(p) - kPrefix);
        return;
    }
    kept_.push_back(p);
}

}  // namespace rootio::detail
