#pragma once
// Where a tree's clusters end and which baskets hold a range of entries: what the read
// cache of a file and the request for a file's first cluster made before its cache exists
// both go by.
#include <algorithm>
#include <cstdint>
#include <span>

#include "rootio/tree/tree_model.h"

namespace rootio {

// The end of the cluster holding `entry`: the tree's auto-flush ranges; a tree written
// without one is cut where the first of `branches`' baskets ends.
int64_t cluster_end(const TreeInfo& tree, std::span<const int> branches, int64_t entry);

// Bytes a basket of `branch` takes while held and decoded, per stored byte (estimated from
// the branch's totals).
double held_bytes_per_stored_byte(const BranchInfo& branch);

// Calls `f(basket)` for each basket of `branch` holding an entry of [from, to), in order,
// until it returns false; returns false then. A branch whose basket tables its reader
// refuses has none.
template <class F>
bool for_each_basket(const BranchInfo& branch, int64_t from, int64_t to, F&& f)
{
    const int count = branch.write_basket();
    const auto& starts = branch.basket_entry;
    if (count == 0 || starts.size() != static_cast<size_t>(count) + 1 ||
        branch.basket_bytes.size() != static_cast<size_t>(count))
        return true;
    const auto first = std::upper_bound(starts.begin(), starts.begin() + count, from);
    for (int i = std::max(0, static_cast<int>(first - starts.begin()) - 1);
         i < count && starts[static_cast<size_t>(i)] < to; ++i) {
        if (starts[static_cast<size_t>(i) + 1] <= from) continue;
        if (!f(i)) return false;
    }
    return true;
}

}  // namespace rootio
