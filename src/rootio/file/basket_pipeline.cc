#include "rootio/file/basket_pipeline.h"

#include <oneapi/tbb/task_group.h>

#include <algorithm>

#include "rootio/format/error.h"
#include "rootio/parallel/task_handoff.h"
#include "rootio/parallel/threads.h"

namespace rootio {

namespace {

// Slots per thread: enough that a worker finding its next basket never waits for the
// caller, few enough that the uncompressed copies stay a small part of memory.
constexpr size_t kSlotsPerThread = 4;

}  // namespace

struct BasketPipeline::Slot {
    Basket basket;
    // kFree -> kQueued (caller) -> kRunning (whichever thread claims it) -> kDone -> kFree.
    std::atomic<int> state{kFree};
    // A slot keeps its codec states, so a warm pipeline compresses without allocating.
    CompressorSet compressors;
};

struct BasketPipeline::Workers {
    tbb::task_group group;
};

BasketPipeline::BasketPipeline(int threads) : threads_(std::max(threads, 1))
{
    const size_t slots = threads_ == 1 ? 1 : kSlotsPerThread * static_cast<size_t>(threads_);
    slots_.reserve(slots);
    for (size_t i = 0; i < slots; ++i) slots_.push_back(std::make_unique<Slot>());
    if (threads_ > 1) workers_ = std::make_unique<Workers>();
}

BasketPipeline::~BasketPipeline()
{
    clear();
}

BasketPipeline::Basket& BasketPipeline::next()
{
    Slot& slot = *slots_[(head_ + count_) % slots_.size()];
    Basket& b = slot.basket;
    b.compressed = false;
    b.error = nullptr;
    b.fail_for_testing.clear();
    return b;
}

void BasketPipeline::submit()
{
    Slot& slot = *slots_[(head_ + count_) % slots_.size()];
    ++count_;
    bytes_in_flight_ += slot.basket.payload.size();
    slot.state.store(kQueued, std::memory_order_release);
    if (!workers_) {
        compress_if_queued(slot);
        return;
    }
    task_handoff_release();
    worker_arena().execute([&] {
        workers_->group.run([this, &slot] {
            task_handoff_acquire();
            compress_if_queued(slot);
            task_handoff_release();  // acquired after the group's wait in wait_for_workers()
        });
    });
}

// Claims the slot if nobody has; a task whose basket was already taken does nothing.
void BasketPipeline::compress_if_queued(Slot& slot)
{
    int expected = kQueued;
    if (!slot.state.compare_exchange_strong(expected, kRunning, std::memory_order_acquire)) return;
    Basket& b = slot.basket;
    try {
        if (!b.fail_for_testing.empty()) throw RootError(b.fail_for_testing);
        b.compressed = slot.compressors.get(b.compression).compress(b.payload, b.zipped);
    } catch (...) {
        b.error = std::current_exception();
    }
    slot.state.store(kDone, std::memory_order_release);
    slot.state.notify_all();
}

const BasketPipeline::Basket* BasketPipeline::oldest(bool wait)
{
    Slot& slot = *slots_[head_];
    if (slot.state.load(std::memory_order_acquire) == kDone) return &slot.basket;
    if (!wait) return nullptr;
    compress_if_queued(slot);
    // A worker has it: rather than idle, compress the next waiting basket here.
    for (size_t k = 1; slot.state.load(std::memory_order_acquire) != kDone;) {
        if (k < count_) {
            compress_if_queued(*slots_[(head_ + k++) % slots_.size()]);
            continue;
        }
        slot.state.wait(kRunning, std::memory_order_acquire);
    }
    return &slot.basket;
}

void BasketPipeline::pop()
{
    Slot& slot = *slots_[head_];
    bytes_in_flight_ -= slot.basket.payload.size();
    slot.state.store(kFree, std::memory_order_relaxed);
    head_ = (head_ + 1) % slots_.size();
    --count_;
}

void BasketPipeline::clear()
{
    // Baskets no worker has started are withdrawn; the others are waited for.
    for (auto& slot : slots_) {
        int expected = kQueued;
        slot->state.compare_exchange_strong(expected, kFree, std::memory_order_acquire);
    }
    wait_for_workers();
    for (auto& slot : slots_) slot->state.store(kFree, std::memory_order_relaxed);
    head_ = count_ = bytes_in_flight_ = 0;
}

void BasketPipeline::wait_for_workers()
{
    if (!workers_) return;
    worker_arena().execute([&] { workers_->group.wait(); });
    task_handoff_acquire();
}

}  // namespace rootio
