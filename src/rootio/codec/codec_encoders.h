#pragma once
// One encoder per codec, each set up as ROOT sets it up for a given level and keeping its
// library context between blocks. encode() writes one block payload (what follows the
// 9-byte header) into `out` and returns its length, or 0 when it does not fit or fails:
// the caller then stores the object raw, as ROOT does.
#include <cstdint>
#include <memory>
#include <span>

namespace rootio::detail {

class BlockEncoder {
public:
    virtual ~BlockEncoder() = default;
    virtual size_t encode(std::span<const uint8_t> in, std::span<uint8_t> out) = 0;
};

// level 1..9 (higher levels are clamped where ROOT clamps them).
std::unique_ptr<BlockEncoder> make_zlib_encoder(int level, bool raw_deflate);
std::unique_ptr<BlockEncoder> make_xz_encoder(int level);
std::unique_ptr<BlockEncoder> make_lz4_encoder(int level);
std::unique_ptr<BlockEncoder> make_zstd_encoder(int level);

}  // namespace rootio::detail
