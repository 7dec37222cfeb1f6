#include "rootio/tree/first_cluster_ahead.h"

#include <string_view>
#include <tuple>
#include <unordered_map>

#include "rootio/format/error.h"
#include "rootio/tree/basket_record.h"
#include "rootio/tree/tree_clusters.h"

namespace rootio {

namespace {

// The branches of `tree` named in `carried`: learned, then kept.
std::pair<std::vector<int>, std::vector<int>> carried_indices(const TreeInfo& tree, const CarriedBranches& carried)
{
    std::unordered_map<std::string_view, int> by_name;
    for (size_t i = 0; i < tree.branches.size(); ++i) by_name.emplace(tree.branches[i].name, static_cast<int>(i));
    auto indices = [&](const std::vector<std::string>& names) {
        std::vector<int> found;
        for (const std::string& name : names)
            if (const auto it = by_name.find(name); it != by_name.end()) found.push_back(it->second);
        return found;
    };
    return {indices(carried.learned), indices(carried.kept)};
}

// A tree without auto-flush clusters is cut where the first of these branches' baskets ends.
int64_t first_cluster_end(const TreeInfo& tree, const std::vector<int>& learned, const std::vector<int>& kept)
{
    return cluster_end(tree, learned.empty() ? std::span<const int>(kept) : std::span<const int>(learned), 0);
}

}  // namespace

int64_t FirstClusterAhead::held_bytes() const
{
    int64_t bytes = 0;
    for (const Basket& basket : baskets) bytes += basket.held_bytes;
    return bytes;
}

int64_t first_cluster_end(const TreeInfo& tree, const CarriedBranches& carried)
{
    const auto [learned, kept] = carried_indices(tree, carried);
    return first_cluster_end(tree, learned, kept);
}

std::unique_ptr<FirstClusterAhead> request_first_cluster(std::shared_ptr<const RootFile> file, const TreeInfo& tree,
                                                         const CarriedBranches& carried, bool whole_or_nothing)
{
    if (tree.entries <= 0) return nullptr;
    auto ahead = std::make_unique<FirstClusterAhead>();
    std::vector<int> kept;
    std::tie(ahead->learned, kept) = carried_indices(tree, carried);
    const int64_t end = first_cluster_end(tree, ahead->learned, kept);
    int64_t held = 0;
    auto want = [&](int branch, bool decode_ahead) {
        const BranchInfo& b = tree.branches[static_cast<size_t>(branch)];
        const double per_byte = held_bytes_per_stored_byte(b);
        return for_each_basket(b, 0, end, [&](int i) {
            const int64_t seek = b.basket_seek[static_cast<size_t>(i)];
            const int32_t nbytes = b.basket_bytes[static_cast<size_t>(i)];
            if (!record_in_file(*file, seek, nbytes)) return true;  // left to its reader, which reports it
            const auto bytes = static_cast<int64_t>(nbytes * per_byte);
            if (held + bytes > carried.budget_bytes) return false;
            held += bytes;
            ahead->baskets.push_back({branch, i, decode_ahead, bytes, ByteBuffer(static_cast<size_t>(nbytes))});
            return true;
        });
    };
    bool room = true;
    for (const int branch : ahead->learned)
        if (!(room = want(branch, true))) break;
    for (const int branch : kept)
        if (!room || !(room = want(branch, false))) break;
    if (ahead->baskets.empty() || (whole_or_nothing && !room)) return nullptr;

    std::vector<ByteRange> ranges;
    ranges.reserve(ahead->baskets.size());
    for (FirstClusterAhead::Basket& basket : ahead->baskets)
        ranges.push_back({tree.branches[static_cast<size_t>(basket.branch)].basket_seek[static_cast<size_t>(basket.basket)],
                          basket.raw});
    try {
        ahead->read = file->source().submit(ranges, "baskets read ahead");
    } catch (const RootError&) {
        return nullptr;  // the readers read their baskets and meet the error themselves
    }
    ahead->file = std::move(file);
    return ahead;
}

}  // namespace rootio
