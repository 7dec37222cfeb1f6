#pragma once
// How a batch of byte ranges becomes vector reads: a protocol that reads many pieces in
// one request limits both the pieces per request and the bytes per piece, so ranges are
// cut to the piece limit and the pieces grouped, in order, into requests. A piece the
// batch asks for twice (RNTuple writers store identical pages once and point several
// columns at them) is asked for once and copied on arrival: an XRootD server answers a
// vector read that repeats a piece with a response its client rejects.
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

// A repeated piece: its bytes, once `from` has arrived.
struct PieceCopy {
    const uint8_t* from = nullptr;
    uint8_t* to = nullptr;
    uint32_t length = 0;
};

struct VectorReadPlan {
    std::vector<std::vector<ReadPiece>> requests;
    std::vector<PieceCopy> copies;  // done once every request has been answered
};

// The requests for `ranges`, each a list of at most `max_pieces` distinct pieces of at
// most `max_piece_bytes` bytes, and the copies that fill the repeated ones. Empty ranges
// need no piece.
VectorReadPlan plan_vector_reads(std::span<const ByteRange> ranges, VectorReadLimits limits);

// Fills the repeated pieces from the ones read.
void copy_repeated_pieces(std::span<const PieceCopy> copies);

}  // namespace rootio
