#pragma once
// An RNTuple of fundamental fields and projected RVec collections seen as the flat tree it
// came from (see ntuple_to_tree.h for the layout): the branches' plan, and each branch's
// entries as the tree stores them (big-endian, back to back). NtupleBranches reads a
// cluster at a time, each load one batched fetch decoded on the workers: the branches read
// one by one (an event loop's selection) for every cluster, the active branches only for a
// cluster where a whole entry is read (prepare_entry), as a skim copies its selected ones.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "element_bytes.h"
#include "rootio/format/leaf_type.h"
#include "rootio/ntuple/cluster_cache.h"
#include "rootio/ntuple/ntuple_reader.h"
#include "rootio/tree/tree_model.h"

namespace convert {

enum class BranchKind { Scalar, Count, Array };

struct BranchPlan {
    BranchKind kind;
    std::string name;
    rootio::LeafType type;
    uint32_t field = 0;       // Scalar: the field; Array: the projected element field
    uint32_t collection = 0;  // Count, Array: the collection field
};

// The tree's branches in order, each count before its arrays. A field of another kind is
// refused by name (RootError).
std::vector<BranchPlan> plan_branches(const rootio::ntuple::NtupleReader& reader);

class NtupleBranches {
public:
    explicit NtupleBranches(const rootio::ntuple::NtupleReader& reader);

    // The tree the plan describes, as a tree read from a file would be described (no
    // baskets): what a clone of it and the input check compare.
    const rootio::TreeInfo& tree_info() const { return info_; }
    // The branches in tree order (what tree_info() describes).
    const std::vector<BranchPlan>& plan() const { return plan_; }
    // The branches a whole-entry read takes.
    void set_active(std::vector<size_t> branches);
    // Before a whole-entry read: the active branches' columns of `entry`'s cluster.
    void prepare_entry(int64_t entry);
    // `entry` of branch `branch`, valid until the next call for this branch. Reads of the
    // entry last prepared count as that whole-entry read; others as the branch read alone.
    std::span<const uint8_t> entry_bytes(size_t branch, int64_t entry);

private:
    // Makes the `wanted` branches' columns of `cluster` available beside those it holds.
    void load(size_t cluster, const std::vector<bool>& wanted);
    size_t cluster_of(int64_t entry, const BranchPlan& b);
    [[noreturn]] void fail(const BranchPlan& b, int64_t entry, const std::string& why) const;

    const rootio::ntuple::NtupleReader& reader_;
    std::vector<BranchPlan> plan_;
    rootio::TreeInfo info_;
    std::vector<bool> active_;
    std::vector<bool> read_alone_;  // branches asked for outside whole-entry reads
    bool learning_ = true;          // the loop has not left the first cluster it read
    int64_t whole_entry_ = -1;      // the entry prepare_entry was last called for
    std::vector<bool> learn_wanted_;
    // One cluster's columns: those of the branches read alone, loaded for every cluster,
    // and, from a cluster's first whole-entry read on, the active branches' too. Each column
    // is fetched and decoded once per cluster.
    rootio::ntuple::ClusterCache cache_;
    std::vector<bool> has_;  // per branch: its columns are in the cache's cluster
    bool active_held_ = false;  // every active branch's columns are in it
    std::vector<std::optional<uint32_t>> value_column_, index_column_;
    std::vector<ElementsToBytes> convert_;  // per branch: for its value column's type
    size_t last_cluster_ = 0;
    std::vector<std::vector<uint8_t>> bytes_;
    std::vector<uint32_t> columns_;
};

}  // namespace convert
