#pragma once
// Baskets -> entry bytes for one branch. Keeps the current basket decompressed and its
// buffers reused; entries read in order find their basket in O(1) amortised. Reading one
// branch never touches another branch's baskets. With a read cache, a basket the cache
// read ahead is taken from it instead of being read and decompressed here.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "rootio/tree/basket_record.h"
#include "rootio/format/bytes.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/read_cache.h"
#include "rootio/tree/tree_model.h"

namespace rootio {

class BranchReader {
public:
    // `file` and `tree` must outlive the reader. Throws RootError for an unsupported branch.
    BranchReader(const RootFile& file, const TreeInfo& tree, int branch_index);

    const BranchInfo& info() const { return *branch_; }
    int branch_index() const { return index_; }

    // Takes baskets from `cache` (of the same file and tree) from now on; nullptr: no cache.
    // The cache must outlive the reader's reads.
    void use_cache(ReadCache* cache) { cache_ = cache; }

    // Whether the loaded basket holds `entry`, and which on-disk basket holds it (-1 when
    // none does or the entry is in an embedded basket).
    bool holds(int64_t entry) const { return entry >= first_ && entry < end_; }
    int disk_basket_for(int64_t entry) const;

    // The entry's elements as stored: big-endian, back to back (one element for a scalar,
    // len for x[len], count * len for x[n]). Valid until the next call on this reader.
    // Throws RootError naming file, branch and entry when the entry is out of range or its
    // basket is corrupt.
    std::span<const uint8_t> entry_bytes(int64_t entry);

    // Number of elements in `entry` (the entry's bytes divided by the element size).
    size_t element_count(int64_t entry) { return entry_bytes(entry).size() / branch_->element_size(); }

private:
    // The basket (index in entry order) holding `entry`, or -1 when none does.
    int segment_for(int64_t entry) const;
    void load_basket_for(int64_t entry);
    // Disk basket `number`, the `index`-th basket in entry order.
    void read_disk_basket(int number, int index);
    void use_disk_basket(int index);
    void load_embedded_basket(const EmbeddedBasket& basket);
    // Entry starts from the count branch, for baskets that store no offset array.
    void generate_offsets(int64_t first_entry, int32_t entries);
    void check_offsets(int32_t entries, size_t data_size);
    [[noreturn]] void fail_basket(const std::string& what) const;

    const RootFile* file_;
    const TreeInfo* tree_;
    const BranchInfo* branch_;
    int index_;
    ReadCache* cache_ = nullptr;
    std::string context_;                 // "branch NAME of tree TREE"
    std::string reader_context_;          // "FILE: branch NAME of tree TREE"
    // Every basket in entry order, on disk or embedded: basket i holds entries
    // [seg_first_[i], seg_end_[i]).
    std::vector<int64_t> seg_first_;
    std::vector<int64_t> seg_end_;
    std::vector<int> seg_basket_;         // >= 0: disk basket number; -1 - k: embedded basket k
    // Current basket: entries [first_, end_) and their data.
    int64_t first_ = 0;
    int64_t end_ = 0;
    int basket_ = -1;                     // index of the loaded basket (on disk or embedded)
    BasketRecord record_;                 // the loaded disk basket (buffers reused)
    std::span<const uint8_t> data_;       // entry data of the current basket
    std::vector<int32_t> offsets_;        // entry starts within data_, plus the end (reused)
    bool variable_ = false;               // entries located through offsets_
    int32_t fixed_size_ = 0;              // bytes per entry when there are no offsets
    std::unique_ptr<BranchReader> count_reader_;  // only for generated offsets
};

// Big-endian element bytes -> native values. `out` is resized to the element count and its
// storage reused. Works for every basic leaf type (bool reads one byte per element).
template <class T>
void decode_elements(std::span<const uint8_t> be, std::vector<T>& out)
{
    const size_t n = be.size() / sizeof(T);
    out.resize(n);
    for (size_t i = 0; i < n; ++i) out[i] = load_be<T>(be.data() + i * sizeof(T));
}

inline void decode_elements(std::span<const uint8_t> be, std::vector<bool>& out)
{
    out.resize(be.size());
    for (size_t i = 0; i < be.size(); ++i) out[i] = be[i] != 0;
}

}  // namespace rootio
