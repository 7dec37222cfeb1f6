#pragma once
// One decoder per codec, each holding its library context between blocks. decode() fills
// exactly out.size() bytes from one block payload (the bytes after the 9-byte header) and
// returns an empty string, or says what is wrong; the caller adds file and block position.
#include <lzma.h>
#include <zlib.h>

#include <cstdint>
#include <span>
#include <string>

#include "rootio/codec/codec_memory.h"

struct ZSTD_DCtx_s;

namespace rootio::detail {

// ZL blocks carry a zlib stream; CS blocks (old ROOT) carry bare deflate data.
class ZlibDecoder {
public:
    explicit ZlibDecoder(bool raw_deflate) : raw_(raw_deflate) {}
    ~ZlibDecoder();
    ZlibDecoder(const ZlibDecoder&) = delete;
    ZlibDecoder& operator=(const ZlibDecoder&) = delete;

    std::string decode(std::span<const uint8_t> in, std::span<uint8_t> out);

private:
    z_stream stream_{};
    bool raw_;
    bool ready_ = false;
};

// XZ blocks carry a complete .xz stream. The lzma_stream is kept so that re-initialising
// it reuses the decoder's memory (a fresh decoder costs more than a small basket).
class XzDecoder {
public:
    XzDecoder();
    ~XzDecoder();
    XzDecoder(const XzDecoder&) = delete;
    XzDecoder& operator=(const XzDecoder&) = delete;

    std::string decode(std::span<const uint8_t> in, std::span<uint8_t> out);

private:
    RecyclingPool pool_;  // declared first: liblzma releases into it at lzma_end
    lzma_allocator allocator_{};
    lzma_stream stream_ = LZMA_STREAM_INIT;
};

// L4 blocks: big-endian XXH64 of the LZ4 block, then the LZ4 block. Needs no context.
std::string decode_lz4(std::span<const uint8_t> in, std::span<uint8_t> out);

class ZstdDecoder {
public:
    ZstdDecoder() = default;
    ~ZstdDecoder();
    ZstdDecoder(const ZstdDecoder&) = delete;
    ZstdDecoder& operator=(const ZstdDecoder&) = delete;

    std::string decode(std::span<const uint8_t> in, std::span<uint8_t> out);

private:
    ZSTD_DCtx_s* ctx_ = nullptr;
};

}  // namespace rootio::detail
