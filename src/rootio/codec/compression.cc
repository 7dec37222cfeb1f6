#include "rootio/codec/compression.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "rootio/codec/codec_decoders.h"
#include "rootio/codec/codec_encoders.h"
#include "rootio/format/error.h"

namespace rootio {

namespace {

void store_le24(uint8_t* p, size_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
}

std::string quoted_tag(const uint8_t* p)
{
    auto printable = [](uint8_t c) { return c >= 0x20 && c < 0x7f; };
    if (printable(p[0]) && printable(p[1])) return std::string{'\'', char(p[0]), char(p[1]), '\''};
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%02x%02x", p[0], p[1]);
    return hex;
}

enum class Tag { Zlib, Old, Xz, Lz4, Zstd, Unknown };

Tag tag_of(const uint8_t* p)
{
    const char a = char(p[0]), b = char(p[1]);
    if (a == 'Z' && b == 'L') return Tag::Zlib;
    if (a == 'C' && b == 'S') return Tag::Old;
    if (a == 'X' && b == 'Z') return Tag::Xz;
    if (a == 'L' && b == '4') return Tag::Lz4;
    if (a == 'Z' && b == 'S') return Tag::Zstd;
    return Tag::Unknown;
}

const char* tag_text(Tag t)
{
    switch (t) {
    case Tag::Zlib: return "ZL";
    case Tag::Old: return "CS";
    case Tag::Xz: return "XZ";
    case Tag::Lz4: return "L4";
    case Tag::Zstd: return "ZS";
    default: return "??";
    }
}

// Method byte ROOT writes and requires: deflate = 8, xz = 0, LZ4 and zstd = library major version.
uint8_t method_of(Tag t)
{
    switch (t) {
    case Tag::Zlib:
    case Tag::Old:
        return 8;
    case Tag::Xz:
        return 0;
    default:
        return 1;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Decompressor

struct Decompressor::Contexts {
    detail::ZlibDecoder zlib{false};
    detail::ZlibDecoder old{true};
    detail::XzDecoder xz;
    detail::ZstdDecoder zstd;
};

Decompressor::Decompressor() : ctx_(std::make_unique<Contexts>()) {}
Decompressor::~Decompressor() = default;

void Decompressor::decompress(std::span<const uint8_t> in, std::span<uint8_t> out, std::string_view context)
{
    size_t in_pos = 0;
    size_t out_pos = 0;
    auto bad = [&](const std::string& what) {
        throw RootError(std::string(context) + ": " + what + " (compressed block at byte " + std::to_string(in_pos) +
                        " of " + std::to_string(in.size()) + ")");
    };

    while (out_pos < out.size()) {
        const size_t left = in.size() - in_pos;
        if (left < kBlockHeaderSize)
            bad(left == 0 ? "compressed data ends after " + std::to_string(out_pos) + " of " +
                                std::to_string(out.size()) + " bytes"
                          : "truncated block header (" + std::to_string(left) + " bytes)");
        const uint8_t* header = in.data() + in_pos;
        const Tag tag = tag_of(header);
        if (tag == Tag::Unknown) bad("unknown compression tag " + quoted_tag(header));
        if (header[2] != method_of(tag))
            bad("bad method byte " + std::to_string(header[2]) + " for a " + quoted_tag(header) + " block");
        const size_t packed = block_compressed_size(header);
        const size_t unpacked = block_uncompressed_size(header);
        if (packed > left - kBlockHeaderSize)
            bad("block claims " + std::to_string(packed) + " bytes, " + std::to_string(left - kBlockHeaderSize) +
                " left");
        if (unpacked == 0) bad("block of 0 uncompressed bytes");
        if (unpacked > out.size() - out_pos)
            bad("blocks expand to more than the expected " + std::to_string(out.size()) + " bytes");

        const auto src = in.subspan(in_pos + kBlockHeaderSize, packed);
        const auto dst = out.subspan(out_pos, unpacked);
        std::string error;
        switch (tag) {
        case Tag::Zlib: error = ctx_->zlib.decode(src, dst); break;
        case Tag::Old: error = ctx_->old.decode(src, dst); break;
        case Tag::Xz: error = ctx_->xz.decode(src, dst); break;
        case Tag::Lz4: error = detail::decode_lz4(src, dst); break;
        case Tag::Zstd: error = ctx_->zstd.decode(src, dst); break;
        case Tag::Unknown: break;
        }
        if (!error.empty()) bad(quoted_tag(header) + " block: " + error);
        in_pos += kBlockHeaderSize + packed;
        out_pos += unpacked;
    }
    if (in_pos != in.size()) bad(std::to_string(in.size() - in_pos) + " bytes left after the last block");
}

// ---------------------------------------------------------------------------------------
// Compressor

struct Compressor::Contexts {
    Tag tag = Tag::Zlib;
    int level = 0;
    // Output room ROOT gives a block of n input bytes, less n: it hands the codec a target
    // of n bytes, which for ZL and XZ starts after the header and for the others includes
    // it (L4 also counts its checksum there). Whatever does not fit is stored raw.
    size_t room_short_of_input = 0;
    std::unique_ptr<detail::BlockEncoder> encoder;
};

Compressor::Compressor(int setting) : setting_(setting), ctx_(std::make_unique<Contexts>())
{
    check_setting(setting);
    auto& c = *ctx_;
    c.level = setting % 100;
    if (c.level == 0) return;
    switch (setting / 100) {
    case int(Algorithm::Lzma):
        c.tag = Tag::Xz;
        c.encoder = detail::make_xz_encoder(c.level);
        break;
    case int(Algorithm::OldDeflate):
        c.tag = Tag::Old;
        c.room_short_of_input = kBlockHeaderSize;
        c.encoder = detail::make_zlib_encoder(c.level, true);
        break;
    case int(Algorithm::Lz4):
        c.tag = Tag::Lz4;
        c.room_short_of_input = kBlockHeaderSize;
        c.encoder = detail::make_lz4_encoder(c.level);
        break;
    case int(Algorithm::Zstd):
        c.tag = Tag::Zstd;
        c.room_short_of_input = kBlockHeaderSize;
        c.encoder = detail::make_zstd_encoder(c.level);
        break;
    default:  // 0 (ROOT's default), 1, and, as in ROOT, any unknown algorithm: zlib
        c.tag = Tag::Zlib;
        c.encoder = detail::make_zlib_encoder(c.level, false);
        break;
    }
}

Compressor::~Compressor() = default;

void Compressor::check_setting(int setting)
{
    if (setting < 0) throw RootError("invalid compression setting " + std::to_string(setting));
}

bool Compressor::compress(std::span<const uint8_t> in, std::vector<uint8_t>& out)
{
    auto& c = *ctx_;
    if (!c.encoder || in.size() < kMinCompressInput) {
        out.clear();
        return false;
    }
    const size_t blocks = 1 + (in.size() - 1) / kMaxBlockInput;
    // Upper bound of the result; growing only when needed keeps the buffer's earlier bytes.
    const size_t bound = in.size() + blocks * kBlockHeaderSize;
    if (out.size() < bound) out.resize(bound);

    size_t written = 0;
    for (size_t b = 0; b < blocks; ++b) {
        const auto src = in.subspan(b * kMaxBlockInput, std::min(kMaxBlockInput, in.size() - b * kMaxBlockInput));
        const size_t room = src.size() - std::min(src.size(), c.room_short_of_input);
        uint8_t* header = out.data() + written;
        const size_t packed = src.size() < kMinCompressInput
                                  ? 0
                                  : c.encoder->encode(src, std::span<uint8_t>(header + kBlockHeaderSize, room));
        // ROOT gives up on the whole object when a block fails or one block alone is not
        // smaller than the whole object.
        if (packed == 0 || kBlockHeaderSize + packed >= in.size()) {
            out.clear();
            return false;
        }
        const char* tag = tag_text(c.tag);
        header[0] = uint8_t(tag[0]);
        header[1] = uint8_t(tag[1]);
        header[2] = method_of(c.tag);
        store_le24(header + 3, packed);
        store_le24(header + 6, src.size());
        written += kBlockHeaderSize + packed;
    }
    out.resize(written);
    return true;
}

}  // namespace rootio
