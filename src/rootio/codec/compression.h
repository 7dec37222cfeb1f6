#pragma once
// ROOT's compressed-record format: a payload is a run of blocks, each with a 9-byte header
// (algorithm tag, method, 3-byte compressed and uncompressed sizes) and at most 0xFFFFFF
// input bytes. Settings are numbered as ROOT numbers them: algorithm * 100 + level.
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace rootio {

inline constexpr size_t kMaxBlockInput = 0xFFFFFF;
inline constexpr size_t kBlockHeaderSize = 9;
// Inputs shorter than this are never compressed (ROOT: header size + 2).
inline constexpr size_t kMinCompressInput = kBlockHeaderSize + 2;

// The sizes in a block header: 3 bytes each, little-endian, after the tag and method.
inline size_t block_compressed_size(const uint8_t* header)
{
    return size_t{header[3]} | size_t{header[4]} << 8 | size_t{header[5]} << 16;
}
inline size_t block_uncompressed_size(const uint8_t* header)
{
    return size_t{header[6]} | size_t{header[7]} << 8 | size_t{header[8]} << 16;
}
// ROOT stores non-basket objects (keys) of at most this many bytes raw, whatever the
// setting; baskets have no such floor. Applied by the key writer, not by Compressor.
inline constexpr size_t kMaxRawKeyObject = 256;

enum class Algorithm : int { Inherit = 0, Zlib = 1, Lzma = 2, OldDeflate = 3, Lz4 = 4, Zstd = 5 };

// Whether `setting` is one ROOT can have written: a known algorithm and a level of 0 to 99.
// A file's header setting is inherited by whatever is written after it, so one outside
// this range is damage, not a choice.
inline bool is_known_setting(int64_t setting)
{
    return setting >= 0 && setting / 100 <= static_cast<int>(Algorithm::Zstd);
}

// Decodes any sequence of ZL/XZ/L4/ZS/CS blocks. Keeps its codec contexts between calls:
// a fresh LZMA decoder costs more than decoding a small basket. One per thread.
class Decompressor {
public:
    Decompressor();
    ~Decompressor();
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    // Fills exactly `out.size()` bytes from the blocks in `in`. Any inconsistency (unknown
    // tag, sizes that disagree, codec error, LZ4 checksum mismatch, too few or too many
    // bytes) throws RootError whose message starts with `context`.
    void decompress(std::span<const uint8_t> in, std::span<uint8_t> out, std::string_view context);

private:
    struct Contexts;
    std::unique_ptr<Contexts> ctx_;
};

// Encodes with one setting. Keeps its codec contexts between calls.
class Compressor {
public:
    explicit Compressor(int setting);
    ~Compressor();
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    int setting() const { return setting_; }
    // Throws RootError for a setting no Compressor accepts.
    static void check_setting(int setting);

    // Replaces `out` with the blocks for `in` and returns true; returns false (and leaves
    // `out` empty) when the bytes are to be stored raw, as ROOT does: level 0, input shorter
    // than the minimum, or a result that does not shrink.
    bool compress(std::span<const uint8_t> in, std::vector<uint8_t>& out);

private:
    int setting_;
    struct Contexts;
    std::unique_ptr<Contexts> ctx_;
};

// One Compressor per setting met so far, kept for its codec contexts: a writer whose
// branches differ in setting compresses without allocating once warm.
class CompressorSet {
public:
    Compressor& get(int setting)
    {
        for (auto& [s, c] : compressors_)
            if (s == setting) return *c;
        return *compressors_.emplace_back(setting, std::make_unique<Compressor>(setting)).second;
    }

private:
    std::vector<std::pair<int, std::unique_ptr<Compressor>>> compressors_;
};

}  // namespace rootio
