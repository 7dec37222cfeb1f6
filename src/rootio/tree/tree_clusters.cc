#include "rootio/tree/tree_clusters.h"

namespace rootio {

int64_t cluster_end(const TreeInfo& tree, std::span<const int> branches, int64_t entry)
{
    if (tree.auto_flush > 0) return std::min(tree.entries, (entry / tree.auto_flush + 1) * tree.auto_flush);
    int64_t end = tree.entries;
    for (const int branch : branches) {
        const BranchInfo& b = tree.branches[static_cast<size_t>(branch)];
        const auto table = std::span<const int64_t>(b.basket_entry)
                               .first(std::min(b.basket_entry.size(), static_cast<size_t>(b.write_basket()) + 1));
        const auto next = std::upper_bound(table.begin(), table.end(), entry);
        if (next != table.begin() && next != table.end()) end = std::min(end, *next);
    }
    return std::max(end, entry + 1);
}

double held_bytes_per_stored_byte(const BranchInfo& branch)
{
    const double expansion = branch.zip_bytes > 0
                                 ? static_cast<double>(branch.tot_bytes) / static_cast<double>(branch.zip_bytes)
                                 : 1.0;
    return 1.0 + std::max(1.0, expansion);
}

}  // namespace rootio
