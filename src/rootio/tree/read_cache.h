#pragma once
// A tree's read cache. For the first entries it only watches which branches the loop reads
// by themselves (learning), while the baskets of every active branch overlapping those
// entries arrive in one batch; from then on, each time the loop enters a cluster, it sends
// the request for those branches' baskets of the next cluster without waiting for it, and
// has them decompressed on worker threads once they have arrived, while the loop works
// through the current one. The loop only waits when it reaches bytes still on their way.
//
// The branches read only for some entries (a whole-entry read of a selected event) are
// fetched per cluster: at the first such entry of a cluster, their baskets from there to the
// end of the cluster (and of the next one, when the learned branches are read that far) in
// one batch; while clusters keep having such entries, the next cluster's go out with the
// learned branches' request. Their bytes are only held: each basket is decompressed when an
// entry needs it (the baskets of one entry in parallel).
//
// Files of a chain follow one another without a pause: when the loop enters a file's last
// cluster (at once, for a file of one cluster), the next file's first cluster is requested
// for the branches this one reads (first_cluster_ahead.h), and that file's cache takes the
// batch in and starts from the learned branches it carries.
//
// Nothing is decompressed that the loop would not decompress, beyond the learned branches'
// next cluster. A basket that fails to decode keeps its error until a reader takes it, and a
// batch that fails to arrive is dropped, so its baskets' readers read them again: a failure
// surfaces where, and as, it would have without the cache. With one thread the batches are
// still read in one request, and each basket is decoded when its reader takes it.
//
// All calls come from the thread running the loop; workers touch only the baskets handed
// to them, and meet the loop through one atomic state per basket.
#include <oneapi/tbb/enumerable_thread_specific.h>
#include <oneapi/tbb/task_group.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "rootio/tree/basket_record.h"
#include "rootio/io/byte_source.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/first_cluster_ahead.h"
#include "rootio/tree/tree_model.h"

namespace rootio {

class BranchReader;

class ReadCache {
public:
    // `file` and `tree` must outlive the cache. `size_bytes` bounds the bytes held in baskets
    // read ahead (estimated from the branches' compression ratios); `threads` > 1 decodes on
    // worker_arena().
    ReadCache(const RootFile& file, const TreeInfo& tree, int64_t size_bytes, int learn_entries, int threads);
    ~ReadCache();
    ReadCache(const ReadCache&) = delete;
    ReadCache& operator=(const ReadCache&) = delete;

    int64_t size_bytes() const { return size_bytes_; }
    // Starts learning again, for `entries` entries from the next one read.
    void restart_learning(int entries);
    bool learning() const { return learning_; }

    // The tree's active branches: the first learning entry fetches their baskets
    // overlapping the learning window.
    void set_active(std::span<const int> branches) { active_.assign(branches.begin(), branches.end()); }
    // While learning: the loop reads `entry` of `branch` by itself. The first entry past the
    // learning window ends learning and reads ahead.
    void learn(int branch, int64_t entry);
    // The reader of `branch` has loaded basket `basket` (so it is not read ahead again).
    void loaded(int branch, int basket) { loaded_[static_cast<size_t>(branch)] = basket; }

    // A reader is about to load a basket for `entry`: reads ahead when the loop has entered
    // a new cluster.
    void advance(int64_t entry);
    // When the cache holds basket `basket` of branch `branch`, decodes it (or waits for the
    // worker decoding it), swaps it into `record` (whose buffers the cache keeps for reuse)
    // and returns true; rethrows the error its decoding met. False when it does not hold it.
    bool take(int branch, int basket, BasketRecord& record);
    // Before a whole-entry read: the baskets holding `entry` of every reader that has not
    // loaded them, fetched in one batched read and decoded in parallel.
    void prepare_entry(std::span<BranchReader* const> readers, int64_t entry);

    // The first cluster of this file requested while the file before it was read: its
    // baskets are taken in as if this cache had sent the batches, and its learned branches
    // are learned from the start (the learning window still adds those the loop reads).
    void adopt(std::vector<std::unique_ptr<FirstClusterAhead>> requests);
    // Called once the loop enters the last cluster, with the branches the loop reads, for
    // the request of the next file's first cluster.
    void pass_on_to_next_file(std::function<void(CarriedBranches)> request) { next_file_ = std::move(request); }

    // Batched reads sent to the file's source, and the baskets they fetched.
    uint64_t batches() const { return batches_; }
    uint64_t baskets_fetched() const { return baskets_fetched_; }

private:
    // kArriving: its bytes are on their way; kFetched: they are here, to be decoded when a
    // reader needs it; kQueued: to be decoded by whoever moves it to kRunning.
    enum State : int { kIdle, kArriving, kFetched, kQueued, kRunning, kDone };
    struct Batch;
    // One basket read ahead. The loop fills it and queues it; whoever moves it from queued
    // to running (a worker or the loop) decodes it.
    struct Slot {
        std::atomic<int> state{kIdle};
        int branch = -1;
        int basket = -1;
        int64_t expected_entries = 0;
        int64_t held_bytes = 0;
        bool decode_ahead = false;  // queued for decoding as soon as it arrives
        Batch* batch = nullptr;     // while arriving
        BasketRecord record;
        std::exception_ptr error;
    };
    // Baskets requested together, until their bytes have arrived.
    struct Batch {
        std::unique_ptr<PendingRead> read;
        std::vector<Slot*> slots;
    };
    struct Want {
        int branch;
        int basket;
        int64_t bytes;  // held once read and decoded (estimated)
        bool decode_ahead;
    };

    void read_ahead(int64_t entry);
    void fetch_learning_window(int64_t entry);
    int64_t cluster_end(int64_t entry) const;
    // Adds the baskets of `branch` overlapping [from, to) that neither its reader nor the
    // cache holds to the batch; false once the size bound is reached.
    bool want_baskets(int branch, int64_t from, int64_t to, bool decode_ahead);
    void pass_on(std::span<const int> fetched_only);
    bool want(int branch, int basket, bool decode_ahead);
    Slot* held(int branch, int basket) const;
    void fetch_wanted();
    std::unique_ptr<Batch> spare_batch();
    // Its slots become baskets on their way.
    void send_off(std::unique_ptr<Batch> batch);
    // Batches whose bytes are here become baskets to decode (or to drop, when the read
    // failed). `arrive` waits for one that has not arrived.
    void collect_arrived();
    void arrive(Batch& batch);
    // Releases baskets that end before `entry`, which no reader going forward will take.
    void drop_passed(int64_t entry);
    void submit(std::span<Slot* const> slots);
    void decode(Slot& slot, Decompressor& decompressor);
    // Runs a queued basket's decoding on this thread; true when it did.
    bool claim_and_decode(Slot& slot);
    void wait_until_decoded(Slot& slot);
    void release(Slot* slot);
    // A free slot of `branch` (or a new one), set for `basket`.
    Slot* acquire(int branch, int basket, int64_t held_bytes, bool decode_ahead);

    const RootFile* file_;
    const TreeInfo* tree_;
    int64_t size_bytes_;
    int threads_;
    std::vector<std::string> contexts_;  // per branch: "FILE: branch NAME of tree TREE"
    std::vector<double> held_per_byte_;  // per branch: bytes held decoded per stored byte

    bool learning_ = true;
    int learn_entries_;
    int64_t learn_start_ = 0;           // first entry of the learning window
    int64_t learn_end_ = -1;            // first entry past the learning window
    std::vector<int> learned_;          // branches read ahead, in the order first read
    std::vector<int> carried_learned_;  // learned before learning starts: the previous file's
    std::vector<char> is_learned_;      // per branch
    std::vector<int> loaded_;           // per branch: the basket its reader holds, or -1
    int64_t next_trigger_ = INT64_MAX;  // entering this entry's cluster reads further
    int64_t fetched_until_ = 0;         // learned baskets before this entry were wanted
    std::vector<int> active_;           // the tree's active branches
    // Branches read for some entries only (a whole-entry read), as of the last one.
    std::vector<int> kept_;
    int64_t selected_cluster_end_ = -1;  // end of the last cluster with a whole-entry read
    int64_t kept_until_ = 0;             // kept baskets before this entry were wanted

    std::vector<std::vector<Slot*>> pending_;   // per branch: baskets held, by basket index
    std::vector<std::unique_ptr<Slot>> slots_;  // every slot ever made
    // Per branch: slots not in use. A slot serves one branch only, so the buffers it swaps
    // with that branch's reader are already the right size once warm.
    std::vector<std::vector<Slot*>> free_;
    std::vector<Want> wanted_;       // the batch being put together (reused)
    std::vector<Slot*> batch_;       // its slots (reused)
    std::vector<ByteRange> ranges_;  // its ranges (reused)
    std::vector<Slot*> submitted_;   // slots handed to workers, for the loop to help with
    std::vector<Slot*> to_decode_;   // one entry's slots to hand to workers (reused)
    std::vector<Slot*> arrived_;     // an arrived batch's slots to hand to workers (reused)
    std::vector<std::unique_ptr<Batch>> in_flight_;  // batches whose bytes are on their way
    std::vector<std::unique_ptr<Batch>> spare_batches_;
    int64_t held_bytes_ = 0;

    std::function<void(CarriedBranches)> next_file_;
    bool passed_learned_ = false;  // the next file's first cluster of the learned branches was requested
    bool passed_kept_ = false;     // and of the kept ones

    uint64_t batches_ = 0;
    uint64_t baskets_fetched_ = 0;

    tbb::enumerable_thread_specific<Decompressor> worker_decompressors_;
    tbb::task_group workers_;
};

}  // namespace rootio
