#pragma once
// An RNTuple of fundamental fields and projected RVec collections seen as the flat tree it
// came from (see ntuple_to_tree.h for the layout): the branches' plan, and each branch's
// entries as the tree stores them (big-endian, back to back). NtupleBranches reads a
// cluster at a time: the columns of the active branches in one batched fetch, decoded on
// the workers; a branch made active later reloads its cluster once.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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
    int branch = -1;          // in the tree being written
};

// The tree's branches in order, each count before its arrays. A field of another kind is
// refused by name (RootError).
std::vector<BranchPlan> plan_branches(const rootio::ntuple::NtupleReader& reader);

// Element `i` of a column's decoded cluster (page_decoder.h's memory form), as `leaf`,
// big-endian, appended to `out`.
void append_element(std::vector<uint8_t>& out, const rootio::ntuple::ColumnData& data,
                    rootio::ntuple::ColumnType column, size_t i, rootio::LeafType leaf);

class NtupleBranches {
public:
    explicit NtupleBranches(const rootio::ntuple::NtupleReader& reader);

    // The tree the plan describes, as a tree read from a file would be described (no
    // baskets): what a clone of it and the input check compare.
    const rootio::TreeInfo& tree_info() const { return info_; }
    // Branches whose columns each cluster load fetches.
    void set_active(std::vector<size_t> branches);
    // `entry` of branch `branch`, valid until the next call for this branch.
    std::span<const uint8_t> entry_bytes(size_t branch, int64_t entry);

private:
    void load_cluster(size_t cluster);
    [[noreturn]] void fail(const BranchPlan& b, int64_t entry, const std::string& why) const;

    const rootio::ntuple::NtupleReader& reader_;
    std::vector<BranchPlan> plan_;
    rootio::TreeInfo info_;
    rootio::ntuple::ClusterCache cache_;
    std::vector<size_t> active_;
    std::vector<bool> loaded_;  // per branch: its columns are in the loaded cluster
    std::vector<std::optional<uint32_t>> value_column_, index_column_;
    std::vector<std::vector<uint8_t>> bytes_;
    std::vector<uint32_t> columns_;
};

}  // namespace convert
