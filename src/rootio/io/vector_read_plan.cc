#include "rootio/io/vector_read_plan.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace rootio {
namespace {

struct PieceKey {
    int64_t seek;
    uint32_t length;
    bool operator==(const PieceKey&) const = default;
};

struct PieceKeyHash {
    size_t operator()(const PieceKey& k) const
    {
        return std::hash<int64_t>()(k.seek) ^ (std::hash<uint32_t>()(k.length) * 0x9e3779b97f4a7c15ULL);
    }
};

}  // namespace

VectorReadPlan plan_vector_reads(std::span<const ByteRange> ranges, VectorReadLimits limits)
{
    VectorReadPlan plan;
    std::unordered_map<PieceKey, const uint8_t*, PieceKeyHash> asked;
    asked.reserve(ranges.size());
    for (const ByteRange& range : ranges) {
        for (size_t done = 0; done < range.out.size();) {
            const auto length =
                static_cast<uint32_t>(std::min<size_t>(limits.max_piece_bytes, range.out.size() - done));
            const int64_t seek = range.seek + static_cast<int64_t>(done);
            uint8_t* const out = range.out.data() + done;
            done += length;
            if (const auto [at, first] = asked.try_emplace(PieceKey{seek, length}, out); !first) {
                plan.copies.push_back({at->second, out, length});
                continue;
            }
            if (plan.requests.empty() || plan.requests.back().size() == limits.max_pieces) plan.requests.emplace_back();
            plan.requests.back().push_back({seek, length, out});
        }
    }
    return plan;
}

void copy_repeated_pieces(std::span<const PieceCopy> copies)
{
    for (const PieceCopy& c : copies)
        if (c.from != c.to) std::memcpy(c.to, c.from, c.length);
}

}  // namespace rootio
