#pragma once
// Entry bytes -> baskets -> a TTree record. A tree is filled entry by entry: each branch is
// handed its entry's big-endian bytes (copied unchanged from a reader, no decoding) or
// typed values, then fill() ends the entry. Baskets are flushed at the branch's basket
// size and at cluster boundaries; buffers are reused, so filling does not allocate once warm.
// A flushed basket is handed to the file, which compresses it on a worker thread and writes
// it in turn: the basket tables in info() are complete after write().
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rootio/format/bytes.h"
#include "rootio/format/error.h"
#include "rootio/codec/compression.h"
#include "rootio/file/file_writer.h"
#include "rootio/tree/tree_model.h"

namespace rootio {

// What fill() throws for an entry whose bytes do not fit a branch (too few or too many, a
// count that disagrees): which branch and why, so that a caller copying entries can name
// the input they came from. what() names the output file, as every writer error does.
class EntryRejected : public RootError {
public:
    EntryRejected(std::string_view message, int branch, std::string reason)
        : RootError(message), branch_(branch), reason_(std::move(reason))
    {
    }
    int branch() const { return branch_; }
    const std::string& reason() const { return reason_; }

private:
    int branch_;
    std::string reason_;
};

class TreeWriter {
public:
    // The tree's baskets use `compression` (ROOT numbering); -1 means the file's setting.
    TreeWriter(FileWriter& file, std::string name, std::string title, int compression = -1);
    ~TreeWriter();
    TreeWriter(const TreeWriter&) = delete;
    TreeWriter& operator=(const TreeWriter&) = delete;

    // Adds a branch with the structure of `source`: name, title, leaf (type, fixed length,
    // count leaf, is_range), basket size. The basket table and entries of `source` are ignored.
    // A count branch must be added before the branches it counts. Returns the branch index.
    int add_branch(const BranchInfo& source);
    // Convenience: a scalar (len 1), fixed array (len > 1) or, with `count_branch`, an
    // array indexed by that (already added) branch. Builds the ROOT-style titles.
    int add_branch(const std::string& name, LeafType type, const std::string& count_branch = {},
                   int32_t len = 1);

    // Structure of the tree so far (and, after write(), its basket tables and totals).
    const TreeInfo& info() const;
    size_t branch_count() const;

    // Entries per cluster: every branch is flushed together each `entries` entries and the
    // tree records it as fAutoFlush. 0 (default) means branches flush only when full.
    void set_auto_flush(int64_t entries);

    // This entry's value of `branch`: its elements as big-endian bytes, back to back.
    void set_entry_bytes(int branch, std::span<const uint8_t> be);
    // Typed forms; T must match the branch's leaf type in size.
    template <class T>
    void set_values(int branch, std::span<const T> values)
    {
        scratch_.resize(values.size() * sizeof(T));
        for (size_t i = 0; i < values.size(); ++i) store_be<T>(scratch_.data() + i * sizeof(T), values[i]);
        set_entry_bytes(branch, scratch_);
    }
    template <class T>
    void set_value(int branch, T value)
    {
        set_values<T>(branch, std::span<const T>(&value, 1));
    }

    // Ends the entry. Every branch must have been given its bytes, and each array's length
    // must agree with its count branch's value and fixed length; otherwise EntryRejected,
    // and the writer is as it was before the entry.
    void fill();
    int64_t entries() const;

    // Flushes every basket and writes the tree record (key "TTree", cycle 1 or next).
    void write();

private:
    struct State;
    std::unique_ptr<State> state_;
    std::vector<uint8_t> scratch_;
};

}  // namespace rootio
