#pragma once
// Baskets on their way to the file: each is copied into one of a bounded number of slots
// and compressed on the worker threads while the caller goes on filling; the caller takes
// them back strictly in the order it handed them in, so whatever it writes lands where the
// sequential path would put it. With one thread every basket is compressed on the spot.
#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rootio/codec/compression.h"

namespace rootio {

class BasketPipeline {
public:
    static constexpr size_t kHeaderSize = 19;

    // What the owner of a basket asked for and what compression made of it.
    struct Basket {
        void* owner = nullptr;  // handed back untouched
        int tag = 0;
        std::string branch_name, tree_name;
        int16_t cycle = 0;
        std::array<uint8_t, kHeaderSize> header{};
        int compression = 0;
        std::vector<uint8_t> payload;
        std::vector<uint8_t> zipped;  // the stored bytes when `compressed`
        bool compressed = false;
        std::exception_ptr error;      // what compressing threw, rethrown by the caller in turn
        std::string fail_for_testing;  // non-empty: compressing throws this message

        std::span<const uint8_t> stored() const
        {
            return compressed ? std::span<const uint8_t>(zipped) : payload;
        }
    };

    // `threads` 1: compress on the calling thread; more: on rootio::worker_arena(), with
    // at most a few baskets per thread and kMaxBytesInFlight payload bytes waiting.
    explicit BasketPipeline(int threads);
    // Waits for the baskets being compressed; the ones not taken back are dropped.
    ~BasketPipeline();
    BasketPipeline(const BasketPipeline&) = delete;
    BasketPipeline& operator=(const BasketPipeline&) = delete;

    static constexpr size_t kMaxBytesInFlight = size_t{64} << 20;

    int threads() const { return threads_; }
    bool empty() const { return count_ == 0; }
    // No slot is free, or the waiting payloads reach the byte bound: take the oldest first.
    bool full() const { return count_ == slots_.size() || bytes_in_flight_ >= kMaxBytesInFlight; }

    // The slot for the next basket (only when !full()); fill it, then submit().
    Basket& next();
    void submit();

    // The oldest basket submitted and not yet taken back, once compressed: with `wait`,
    // compresses waiting baskets on this thread until it is; without, nullptr if it is not.
    // Call only when !empty().
    const Basket* oldest(bool wait);
    // Frees the oldest basket's slot for reuse.
    void pop();
    // Drops every basket not taken back (after a failure), once no worker touches them.
    void clear();

private:
    enum State : int { kFree, kQueued, kRunning, kDone };
    struct Slot;

    void compress_if_queued(Slot& slot);
    void wait_for_workers();

    int threads_;
    std::vector<std::unique_ptr<Slot>> slots_;
    size_t head_ = 0, count_ = 0;
    size_t bytes_in_flight_ = 0;
    struct Workers;
    std::unique_ptr<Workers> workers_;
};

}  // namespace rootio
