#pragma once
// How a batch of byte ranges becomes vector reads: a protocol that reads many pieces in
// one request limits both the pieces per request and the bytes per piece, so ranges are
// cut to the piece limit and the pieces grouped, in order, into requests.
#include <cstdint>
#include <span>
#include <vector>

#include "rootio/io/byte_source.h"

namespace rootio {

struct ReadPiece {
    int64_t seek = 0;
    uint32_t length = 0;
    uint8_t* out = nullptr;
};

struct VectorReadLimits {
    size_t max_pieces = 1;
    uint32_t max_piece_bytes = 1;
};

// The requests for `ranges`, each a list of at most `max_pieces` pieces of at most
// `max_piece_bytes` bytes. Empty ranges need no piece.
std::vector<std::vector<ReadPiece>> plan_vector_reads(std::span<const ByteRange> ranges,
                                                      VectorReadLimits limits);

}  // namespace rootio
