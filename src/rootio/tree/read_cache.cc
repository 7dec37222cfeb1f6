#include "rootio/tree/read_cache.h"

#include <algorithm>

#include "rootio/tree/branch_reader.h"
#include "rootio/format/error.h"
#include "rootio/parallel/task_handoff.h"
#include "rootio/parallel/threads.h"

namespace rootio {

ReadCache::ReadCache(const RootFile& file, const TreeInfo& tree, int64_t size_bytes, int learn_entries,
                     int threads)
    : file_(&file), tree_(&tree), size_bytes_(size_bytes), threads_(threads), learn_entries_(learn_entries)
{
    contexts_.reserve(tree.branches.size());
    expansion_.reserve(tree.branches.size());
    for (const BranchInfo& b : tree.branches) {
        contexts_.push_back(basket_context(file, tree, b));
        const double ratio =
            b.zip_bytes > 0 ? static_cast<double>(b.tot_bytes) / static_cast<double>(b.zip_bytes) : 1.0;
        expansion_.push_back(std::max(1.0, ratio));
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
    learned_.clear();
    std::fill(is_learned_.begin(), is_learned_.end(), 0);
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

// Clusters are the tree's auto-flush ranges; a tree written without one is cut where the
// first of the learned branches' baskets ends.
int64_t ReadCache::cluster_end(int64_t entry) const
{
    const int64_t entries = tree_->entries;
    if (tree_->auto_flush > 0) return std::min(entries, (entry / tree_->auto_flush + 1) * tree_->auto_flush);
    int64_t end = entries;
    for (const int branch : learned_) {
        const BranchInfo& b = tree_->branches[static_cast<size_t>(branch)];
        const auto table =
            std::span<const int64_t>(b.basket_entry).first(static_cast<size_t>(b.write_basket()) + 1);
        const auto next = std::upper_bound(table.begin(), table.end(), entry);
        if (next != table.begin() && next != table.end()) end = std::min(end, *next);
    }
    return std::max(end, entry + 1);
}

bool ReadCache::want_baskets(int branch, int64_t from, int64_t to, bool decode_ahead)
{
    const BranchInfo& b = tree_->branches[static_cast<size_t>(branch)];
    const int count = b.write_basket();
    if (count == 0 || b.basket_entry.size() != static_cast<size_t>(count) + 1 ||
        b.basket_bytes.size() != static_cast<size_t>(count))
        return true;  // tables its reader refuses
    const auto first = std::upper_bound(b.basket_entry.begin(), b.basket_entry.begin() + count, from);
    for (int i = std::max(0, static_cast<int>(first - b.basket_entry.begin()) - 1);
         i < count && b.basket_entry[static_cast<size_t>(i)] < to; ++i) {
        if (b.basket_entry[static_cast<size_t>(i) + 1] <= from) continue;
        if (i == loaded_[static_cast<size_t>(branch)] || held(branch, i)) continue;
        if (!want(branch, i, decode_ahead)) return false;
    }
    return true;
}

// A basket whose record lies outside the file is left to its reader, which reports it.
bool ReadCache::want(int branch, int basket, bool decode_ahead)
{
    const BranchInfo& b = tree_->branches[static_cast<size_t>(branch)];
    const int64_t seek = b.basket_seek[static_cast<size_t>(basket)];
    const int32_t nbytes = b.basket_bytes[static_cast<size_t>(basket)];
    if (!record_in_file(*file_, seek, nbytes)) return true;
    const auto bytes = static_cast<int64_t>(nbytes * (1.0 + expansion_[static_cast<size_t>(branch)]));
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
        Slot* slot = acquire(w.branch);
        slot->basket = w.basket;
        slot->expected_entries = b.basket_entry[i + 1] - b.basket_entry[i];
        slot->held_bytes = w.bytes;
        slot->decode_ahead = w.decode_ahead;
        slot->record.raw.resize(static_cast<size_t>(b.basket_bytes[i]));
        batch_.push_back(slot);
        ranges_.push_back({b.basket_seek[i], slot->record.raw});
    }
    wanted_.clear();
    std::unique_ptr<Batch> batch;
    if (spare_batches_.empty()) {
        batch = std::make_unique<Batch>();
    } else {
        batch = std::move(spare_batches_.back());
        spare_batches_.pop_back();
    }
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
    for (Slot* slot : batch_) {
        slot->state.store(kArriving, std::memory_order_relaxed);
        slot->batch = batch.get();
        auto& held = pending_[static_cast<size_t>(slot->branch)];
        const auto at = std::upper_bound(held.begin(), held.end(), slot->basket,
                                         [](int basket, const Slot* s) { return basket < s->basket; });
        held.insert(at, slot);
    }
    in_flight_.push_back(std::move(batch));
    collect_arrived();
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

ReadCache::Slot* ReadCache::acquire(int branch)
{
    auto& free = free_[static_cast<size_t>(branch)];
    if (free.empty()) {
        slots_.push_back(std::make_unique<Slot>());
        slots_.back()->branch = branch;
        return slots_.back().get();
    }
    Slot* slot = free.back();
    free.pop_back();
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
