#include "rootio/io/vector_read_plan.h"

#include <algorithm>

namespace rootio {

std::vector<std::vector<ReadPiece>> plan_vector_reads(std::span<const ByteRange> ranges,
                                                      VectorReadLimits limits)
{
    std::vector<std::vector<ReadPiece>> requests;
    for (const ByteRange& range : ranges) {
        for (size_t done = 0; done < range.out.size();) {
            const auto length =
                static_cast<uint32_t>(std::min<size_t>(limits.max_piece_bytes, range.out.size() - done));
            if (requests.empty() || requests.back().size() == limits.max_pieces) requests.emplace_back();
            requests.back().push_back(
                {range.seek + static_cast<int64_t>(done), length, range.out.data() + done});
            done += length;
        }
    }
    return requests;
}

}  // namespace rootio
