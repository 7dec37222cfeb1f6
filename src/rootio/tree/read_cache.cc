#include "rootio/tree/read_cache.h"

#include <algorithm>

#include "rootio/tree/branch_reader.h"
#include "rootio/tree/tree_clusters.h"
#include "rootio/format/error.h"
#include "rootio/parallel/task_handoff.h"
#include "rootio/parallel/threads.h"

namespace rootio {

ReadCache::ReadCache(const RootFile& file, const TreeInfo& tree, int64_t size_bytes, int learn_entries,
                     int threads)
    : file_(&file), tree_(&tree), size_bytes_(size_bytes), threads_(threads), learn_entries_(learn_entries)
{
    contexts_.reserve(tree.branches.size());
    held_per_byte_.reserve(tree.branches.size());
    for (const BranchInfo& b : tree.branches) {
        contexts_.push_back(basket_context(file, tree, b));
        held_per_byte_.push_back(held_bytes_per_stored_byte(b));
    }
    pending_.resize(tree.branches.size());
    free_.resize(tree.branches.size());
    is_learned_.resize(tree.branches.size());
    loaded_.assign(tree.branches.size(), -1);
    restart_learning(learn_entries);
}

ReadCache::~ReadCache()
{
    // Answers still on their way write into the slots' buffers: wait for them first.
    for (auto& batch : in_flight_) {
        batch->read.reset();
        for (Slot* slot : batch->slots) slot->batch = nullptr;
    }
    for (auto& held : pending_)
        for (Slot* slot : held) release(slot);
    // Queued tasks may still hold slot pointers; they find their slots idle and return.
    if (threads_ > 1) worker_arena().execute([this] { workers_.wait(); });
}

void ReadCache::restart_learning(int entries)
{
    learning_ = true;
    learn_entries_ = std::max(1, entries);
    learn_end_ = -1;
    learned_ = carried_learned_;
    std::fill(is_learned_.begin(), is_learned_.end(), 0);
    for (const int branch : learned_) is_learned_[static_cast<size_t>(branch)] = 1;
    next_trigger_ = INT64_MAX;
    fetched_until_ = 0;
    kept_.clear();
    selected_cluster_end_ = -1;
    kept_until_ = 0;
}

void ReadCache::learn(int branch, int64_t entry)
{
    if (learn_end_ < 0) {
        learn_start_ = entry;
        learn_end_ = entry + learn_entries_;
        fetch_learning_window(entry);
        // A file of one cluster: its loop is already in the last one. What the next file's
        // learning window would fetch goes out now.
        if (cluster_end(entry) >= tree_->entries) pass_on(active_);
    }
    if (entry >= learn_end_) {
        learning_ = false;
        read_ahead(entry);
        return;
    }
    if (!is_learned_[static_cast<size_t>(branch)]) {
        is_learned_[static_cast<size_t>(branch)] = 1;
        learned_.push_back(branch);
    }
}

void ReadCache::advance(int64_t entry)
{
    if (!in_flight_.empty()) collect_arrived();
    if (entry >= next_trigger_) read_ahead(entry);
}

// Whichever branches the window's entries read, their baskets come in one request, to the
// end of the window's cluster when the tree says where that is; those the loop does not
// read by themselves wait, undecoded, for a whole-entry read.
void ReadCache::fetch_learning_window(int64_t entry)
{
    const int64_t to = tree_->auto_flush > 0 ? std::max(cluster_end(entry), learn_end_) : learn_end_;
    wanted_.clear();
    for (const int branch : active_)
        if (!want_baskets(branch, entry, std::min(tree_->entries, to), false)) break;
    fetch_wanted();
}

// The learned branches' baskets from here to the end of the next cluster, and the kept
// branches' with them while the cluster just left had a whole-entry read.
void ReadCache::read_ahead(int64_t entry)
{
    const int64_t end = cluster_end(entry);
    const int64_t to = end < tree_->entries ? cluster_end(end) : end;
    const int64_t from = std::max(fetched_until_, entry);
    // The cluster just left, or (as learning ends) the one the window lies in, had a
    // whole-entry read: the kept branches go ahead too.
    const int64_t cluster_start = next_trigger_ != INT64_MAX ? next_trigger_ : learn_start_;
    const bool kept_ahead = !kept_.empty() && selected_cluster_end_ >= cluster_start;
    next_trigger_ = end;
    drop_passed(entry);
    wanted_.clear();
    bool room = true;
    if (from < to)
        for (const int branch : learned_)
            if (!(room = want_baskets(branch, from, to, true))) break;
    if (kept_ahead && room) {
        const int64_t kept_from = std::max(kept_until_, entry);
        for (const int branch : kept_)
            if (!want_baskets(branch, kept_from, to, false)) break;
        kept_until_ = std::max(kept_until_, to);
    }
    fetch_wanted();
    fetched_until_ = std::max(fetched_until_, to);
    if (end >= tree_->entries) pass_on(kept_ahead ? std::span<const int>(kept_) : std::span<const int>());
}

// Entering the last cluster: the next file's first cluster is requested, of the learned
// branches (decoded ahead) and of `fetched_only` (held as bytes).
void ReadCache::pass_on(std::span<const int> fetched_only)
{
    const bool learned = !passed_learned_;
    const bool others = !fetched_only.empty() && !passed_kept_;
    if (!next_file_ || (!learned && !others)) return;
    CarriedBranches carried;
    if (learned)
        for (const int branch : learned_) carried.learned.push_back(tree_->branches[static_cast<size_t>(branch)].name);
    if (others)
        for (const int branch : fetched_only)
            if (!is_learned_[static_cast<size_t>(branch)])
                carried.kept.push_back(tree_->branches[static_cast<size_t>(branch)].name);
    // Half the room left, held back from this file's later batches, so that the two files
    // together stay within the cache's bound.
    carried.budget_bytes = (size_bytes_ - held_bytes_) / 2;
    if (carried.budget_bytes <= 0) return;
    held_bytes_ += carried.budget_bytes;
    passed_learned_ = true;
    passed_kept_ = passed_kept_ || others;
    next_file_(std::move(carried));
}

void ReadCache::drop_passed(int64_t entry)
{
    for (size_t branch = 0; branch < pending_.size(); ++branch) {
        auto& held = pending_[branch];
        const std::vector<int64_t>& starts = tree_->branches[branch].basket_entry;
        size_t passed = 0;
        while (passed < held.size() && !held[passed]->batch &&
               starts[static_cast<size_t>(held[passed]->basket) + 1] <= entry)
            release(held[passed++]);
        held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(passed));
    }
}

int64_t ReadCache::cluster_end(int64_t entry) const { return rootio::cluster_end(*tree_, learned_, entry); }

bool ReadCache::want_baskets(int branch, int64_t from, int64_t to, bool decode_ahead)
{
    return for_each_basket(tree_->branches[static_cast<size_t>(branch)], from, to, [&](int basket) {
        if (basket == loaded_[static_cast<size_t>(branch)] || held(branch, basket)) return true;
        return want(branch, basket, decode_ahead);
    });
}

// A basket whose record lies outside the file is left to its reader, which reports it.
bool ReadCache::want(int branch, int basket, bool decode_ahead)
{
    const BranchInfo& b = tree_->branches[static_cast<size_t>(branch)];
    const int64_t seek = b.basket_seek[static_cast<size_t>(basket)];
    const int32_t nbytes = b.basket_bytes[static_cast<size_t>(basket)];
    if (!record_in_file(*file_, seek, nbytes)) return true;
    const auto bytes = static_cast<int64_t>(nbytes * held_per_byte_[static_cast<size_t>(branch)]);
    if (held_bytes_ + bytes > size_bytes_) return false;
    held_bytes_ += bytes;
    wanted_.push_back({branch, basket, bytes, decode_ahead});
    return true;
}

ReadCache::Slot* ReadCache::held(int branch, int basket) const
{
    for (Slot* slot : pending_[static_cast<size_t>(branch)])
        if (slot->basket == basket) return slot;
    return nullptr;
}

void ReadCache::fetch_wanted()
{
    if (wanted_.empty()) return;
    batch_.clear();
    ranges_.clear();
    for (const Want& w : wanted_) {
        const BranchInfo& b = tree_->branches[static_cast<size_t>(w.branch)];
        const auto i = static_cast<size_t>(w.basket);
        Slot* slot = acquire(w.branch, w.basket, w.bytes, w.decode_ahead);
        slot->record.raw.resize(static_cast<size_t>(b.basket_bytes[i]));
        batch_.push_back(slot);
        ranges_.push_back({b.basket_seek[i], slot->record.raw});
    }
    wanted_.clear();
    std::unique_ptr<Batch> batch = spare_batch();
    try {
        batch->read = file_->source().submit(ranges_, "baskets read ahead");
    } catch (const RootError&) {
        // Each reader reads its own basket again and meets the error where it would have.
        for (Slot* slot : batch_) release(slot);
        spare_batches_.push_back(std::move(batch));
        return;
    }
    ++batches_;
    baskets_fetched_ += batch_.size();
    batch->slots.assign(batch_.begin(), batch_.end());
    send_off(std::move(batch));
    collect_arrived();
}

std::unique_ptr<ReadCache::Batch> ReadCache::spare_batch()
{
    if (spare_batches_.empty()) return std::make_unique<Batch>();
    std::unique_ptr<Batch> batch = std::move(spare_batches_.back());
    spare_batches_.pop_back();
    return batch;
}

void ReadCache::send_off(std::unique_ptr<Batch> batch)
{
    for (Slot* slot : batch->slots) {
        slot->state.store(kArriving, std::memory_order_relaxed);
        slot->batch = batch.get();
        auto& held = pending_[static_cast<size_t>(slot->branch)];
        const auto at = std::upper_bound(held.begin(), held.end(), slot->basket,
                                         [](int basket, const Slot* s) { return basket < s->basket; });
        held.insert(at, slot);
    }
    in_flight_.push_back(std::move(batch));
}

void ReadCache::adopt(std::vector<std::unique_ptr<FirstClusterAhead>> requests)
{
    for (const std::unique_ptr<FirstClusterAhead>& ahead : requests) {
        if (!ahead || &ahead->file->source() != &file_->source()) continue;
        for (const int branch : ahead->learned)
            if (std::find(carried_learned_.begin(), carried_learned_.end(), branch) == carried_learned_.end())
                carried_learned_.push_back(branch);
        std::unique_ptr<Batch> batch = spare_batch();
        batch->read = std::move(ahead->read);
        for (FirstClusterAhead::Basket& basket : ahead->baskets) {
            Slot* slot = acquire(basket.branch, basket.basket, basket.held_bytes, basket.decode_ahead);
            std::swap(slot->record.raw, basket.raw);  // the buffer the answer is written into
            held_bytes_ += basket.held_bytes;
            batch->slots.push_back(slot);
        }
        ++batches_;
        baskets_fetched_ += batch->slots.size();
        send_off(std::move(batch));
    }
    restart_learning(learn_entries_);
}

void ReadCache::collect_arrived()
{
    for (size_t i = 0; i < in_flight_.size();) {
        if (in_flight_[i]->read->arrived()) arrive(*in_flight_[i]);  // removes it
        else ++i;
    }
}

void ReadCache::arrive(Batch& batch)
{
    bool failed = false;
    try {
        batch.read->wait();
    } catch (const RootError&) {
        failed = true;
    }
    arrived_.clear();
    for (Slot* slot : batch.slots) {
        slot->batch = nullptr;
        if (failed) {
            // Its reader reads the basket again and meets the error where it would have.
            std::erase(pending_[static_cast<size_t>(slot->branch)], slot);
            release(slot);
        } else if (slot->decode_ahead) {
            slot->state.store(kQueued, std::memory_order_release);
            arrived_.push_back(slot);
        } else {
            slot->state.store(kFetched, std::memory_order_release);
        }
    }
    batch.read.reset();
    batch.slots.clear();
    const auto at = std::find_if(in_flight_.begin(), in_flight_.end(), [&](const auto& b) { return b.get() == &batch; });
    spare_batches_.push_back(std::move(*at));
    in_flight_.erase(at);
    if (threads_ > 1 && !arrived_.empty()) submit(arrived_);
}

void ReadCache::submit(std::span<Slot* const> slots)
{
    std::erase_if(submitted_,
                  [](const Slot* s) { return s->state.load(std::memory_order_relaxed) != kQueued; });
    submitted_.insert(submitted_.end(), slots.begin(), slots.end());
    worker_arena().execute([this, slots] {
        for (Slot* slot : slots) {
            auto task = workers_.defer([this, slot] {
                task_handoff_acquire();
                int queued = kQueued;
                if (slot->state.compare_exchange_strong(queued, kRunning, std::memory_order_acq_rel))
                    decode(*slot, worker_decompressors_.local());
            });
            task_handoff_release();
            workers_.run(std::move(task));
        }
    });
}

void ReadCache::decode(Slot& slot, Decompressor& decompressor)
{
    try {
        decode_basket_record(slot.record, slot.expected_entries, decompressor,
                             contexts_[static_cast<size_t>(slot.branch)]);
    } catch (...) {
        slot.error = std::current_exception();
    }
    slot.state.store(kDone, std::memory_order_release);
    slot.state.notify_all();
}

bool ReadCache::claim_and_decode(Slot& slot)
{
    int state = kQueued;
    if (!slot.state.compare_exchange_strong(state, kRunning, std::memory_order_acq_rel) &&
        !(state == kFetched && slot.state.compare_exchange_strong(state, kRunning, std::memory_order_acq_rel)))
        return false;
    decode(slot, file_->decompressor());
    return true;
}

// While a worker decodes this basket, the loop decodes others still queued (the last
// submitted first, away from where the workers are).
void ReadCache::wait_until_decoded(Slot& slot)
{
    while (slot.state.load(std::memory_order_acquire) == kRunning) {
        bool helped = false;
        while (!helped && !submitted_.empty()) {
            Slot* other = submitted_.back();
            submitted_.pop_back();
            helped = claim_and_decode(*other);
        }
        if (!helped) slot.state.wait(kRunning, std::memory_order_acquire);
    }
}

bool ReadCache::take(int branch, int basket, BasketRecord& record)
{
    auto& held = pending_[static_cast<size_t>(branch)];
    // Bytes still on their way for this basket or the ones before it are waited for.
    for (size_t i = 0; i < held.size() && held[i]->basket <= basket;) {
        if (held[i]->batch) {
            arrive(*held[i]->batch);
            i = 0;  // a failed batch takes its slots out of the list
        } else {
            ++i;
        }
    }
    // Baskets the reader has gone past will not be read.
    size_t passed = 0;
    while (passed < held.size() && held[passed]->basket < basket) release(held[passed++]);
    held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(passed));
    if (held.empty() || held.front()->basket != basket) return false;
    Slot* slot = held.front();
    held.erase(held.begin());
    if (!claim_and_decode(*slot)) wait_until_decoded(*slot);
    std::swap(slot->record, record);
    const std::exception_ptr error = std::move(slot->error);
    release(slot);
    if (error) std::rethrow_exception(error);
    return true;
}

void ReadCache::prepare_entry(std::span<BranchReader* const> readers, int64_t entry)
{
    if (!in_flight_.empty()) collect_arrived();
    if (entry >= selected_cluster_end_) {
        // The first whole-entry read of this cluster: the rest of the cluster, and the next
        // one when the learned branches are read that far, in one batch.
        kept_.clear();
        for (const BranchReader* reader : readers)
            if (!is_learned_[static_cast<size_t>(reader->branch_index())]) kept_.push_back(reader->branch_index());
        selected_cluster_end_ = cluster_end(entry);
        const int64_t to = std::max(selected_cluster_end_, fetched_until_);
        wanted_.clear();
        for (const int branch : kept_)
            if (!want_baskets(branch, std::max(entry, kept_until_), to, false)) break;
        kept_until_ = std::max(kept_until_, to);
        fetch_wanted();
        if (passed_learned_ && selected_cluster_end_ >= tree_->entries) pass_on(kept_);
    }
    // This entry's baskets are decoded now, in parallel; those not held (the size bound
    // stopped a batch short) are fetched for it alone.
    wanted_.clear();
    to_decode_.clear();
    for (const BranchReader* reader : readers) {
        if (reader->holds(entry)) continue;
        const int basket = reader->disk_basket_for(entry);
        if (basket < 0) continue;
        if (Slot* slot = held(reader->branch_index(), basket)) {
            if (slot->batch) arrive(*slot->batch);
            int fetched = kFetched;
            if (slot->state.compare_exchange_strong(fetched, kQueued, std::memory_order_acq_rel))
                to_decode_.push_back(slot);
            continue;
        }
        if (!want(reader->branch_index(), basket, true)) break;
    }
    if (threads_ > 1 && !to_decode_.empty()) submit(to_decode_);
    fetch_wanted();
}

ReadCache::Slot* ReadCache::acquire(int branch, int basket, int64_t held_bytes, bool decode_ahead)
{
    auto& free = free_[static_cast<size_t>(branch)];
    Slot* slot = nullptr;
    if (free.empty()) {
        slot = slots_.emplace_back(std::make_unique<Slot>()).get();
        slot->branch = branch;
    } else {
        slot = free.back();
        free.pop_back();
    }
    const BranchInfo& b = tree_->branches[static_cast<size_t>(branch)];
    slot->basket = basket;
    slot->expected_entries = b.basket_entry[static_cast<size_t>(basket) + 1] - b.basket_entry[static_cast<size_t>(basket)];
    slot->held_bytes = held_bytes;
    slot->decode_ahead = decode_ahead;
    return slot;
}

void ReadCache::release(Slot* slot)
{
    int state = kQueued;
    if (!slot->state.compare_exchange_strong(state, kIdle, std::memory_order_acq_rel)) {
        while (state == kRunning) {
            slot->state.wait(kRunning, std::memory_order_acquire);
            state = slot->state.load(std::memory_order_acquire);
        }
        slot->state.store(kIdle, std::memory_order_relaxed);
    }
    held_bytes_ -= slot->held_bytes;
    slot->held_bytes = 0;
    slot->error = nullptr;
    free_[static_cast<size_t>(slot->branch)].push_back(slot);
}

}  // namespace rootio
