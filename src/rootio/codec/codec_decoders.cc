#include "rootio/codec/codec_decoders.h"

#define ZSTD_STATIC_LINKING_ONLY  // custom allocator for the context
#include <lz4.h>
#include <xxhash.h>
#include <zstd.h>

#include <cstring>

#include "rootio/codec/codec_memory.h"

namespace rootio::detail {

namespace {

// Enough for any dictionary a writer would choose (preset 9 uses 64 MiB); a corrupt or
// hostile header asking for more is refused before anything is allocated.
constexpr uint64_t kXzMemoryLimit = uint64_t{80} << 20;

std::string short_by(size_t produced, size_t expected)
{
    return "stream ends after " + std::to_string(produced) + " of " + std::to_string(expected) + " bytes";
}

std::string too_long(size_t expected) { return "data expands beyond the block's " + std::to_string(expected) + " bytes"; }

}  // namespace

ZlibDecoder::~ZlibDecoder()
{
    if (ready_) inflateEnd(&stream_);
}

std::string ZlibDecoder::decode(std::span<const uint8_t> in, std::span<uint8_t> out)
{
    if (!ready_) {
        stream_.zalloc = codec_zlib_alloc;
        stream_.zfree = codec_zlib_free;
        const int rc = raw_ ? inflateInit2(&stream_, -MAX_WBITS) : inflateInit(&stream_);
        if (rc != Z_OK) return "cannot initialise zlib (error " + std::to_string(rc) + ")";
        ready_ = true;
    } else {
        inflateReset(&stream_);
    }
    stream_.next_in = const_cast<Bytef*>(in.data());
    stream_.avail_in = static_cast<uInt>(in.size());
    stream_.next_out = out.data();
    stream_.avail_out = static_cast<uInt>(out.size());

    const int rc = inflate(&stream_, Z_FINISH);
    const size_t produced = out.size() - stream_.avail_out;
    switch (rc) {
    case Z_STREAM_END:
        return produced == out.size() ? std::string() : short_by(produced, out.size());
    case Z_DATA_ERROR:
        return std::string("corrupt deflate data (") + (stream_.msg ? stream_.msg : "no detail") + ")";
    case Z_NEED_DICT:
        return "zlib stream needs a preset dictionary";
    case Z_MEM_ERROR:
        return "out of memory in zlib";
    default:  // Z_BUF_ERROR or Z_OK: ran out of output or of input
        return stream_.avail_out == 0 ? too_long(out.size()) : "truncated deflate data";
    }
}

XzDecoder::XzDecoder()
{
    allocator_.alloc = pool_lzma_alloc;
    allocator_.free = pool_lzma_free;
    allocator_.opaque = &pool_;
    stream_.allocator = &allocator_;
}

XzDecoder::~XzDecoder() { lzma_end(&stream_); }

std::string XzDecoder::decode(std::span<const uint8_t> in, std::span<uint8_t> out)
{
    // Re-initialising an existing stream keeps its coder and, for an equal dictionary
    // size, the dictionary buffer.
    lzma_ret rc = lzma_stream_decoder(&stream_, kXzMemoryLimit, 0);
    if (rc != LZMA_OK) return "cannot initialise the xz decoder (error " + std::to_string(rc) + ")";
    stream_.next_in = in.data();
    stream_.avail_in = in.size();
    stream_.next_out = out.data();
    stream_.avail_out = out.size();
    // Each LZMA_OK means progress was made; without progress liblzma answers LZMA_BUF_ERROR.
    do {
        rc = lzma_code(&stream_, LZMA_FINISH);
    } while (rc == LZMA_OK);

    const size_t produced = out.size() - stream_.avail_out;
    switch (rc) {
    case LZMA_STREAM_END:
        return produced == out.size() ? std::string() : short_by(produced, out.size());
    case LZMA_FORMAT_ERROR:
        return "not an xz stream";
    case LZMA_DATA_ERROR:
        return "corrupt xz data";
    case LZMA_OPTIONS_ERROR:
        return "unsupported xz options";
    case LZMA_MEMLIMIT_ERROR:
        return "xz stream needs " + std::to_string(lzma_memusage(&stream_) >> 20) + " MiB to decode, more than the " +
               std::to_string(kXzMemoryLimit >> 20) + " MiB allowed";
    case LZMA_MEM_ERROR:
        return "out of memory in liblzma";
    case LZMA_BUF_ERROR:
        return stream_.avail_out == 0 ? too_long(out.size()) : "truncated xz data";
    default:
        return "xz decoder error " + std::to_string(rc);
    }
}

std::string decode_lz4(std::span<const uint8_t> in, std::span<uint8_t> out)
{
    constexpr size_t kChecksumSize = 8;
    if (in.size() < kChecksumSize) return "LZ4 block of " + std::to_string(in.size()) + " bytes has no room for its checksum";
    const auto data = in.subspan(kChecksumSize);
    XXH64_canonical_t stored;
    std::memcpy(&stored, in.data(), sizeof stored);
    if (XXH64(data.data(), data.size(), 0) != XXH64_hashFromCanonical(&stored)) return "bad LZ4 checksum";
    const int n = LZ4_decompress_safe(reinterpret_cast<const char*>(data.data()), reinterpret_cast<char*>(out.data()),
                                      static_cast<int>(data.size()), static_cast<int>(out.size()));
    if (n < 0) return "corrupt LZ4 data";
    if (static_cast<size_t>(n) != out.size()) return short_by(static_cast<size_t>(n), out.size());
    return {};
}

ZstdDecoder::~ZstdDecoder() { ZSTD_freeDCtx(ctx_); }

std::string ZstdDecoder::decode(std::span<const uint8_t> in, std::span<uint8_t> out)
{
    if (!ctx_) {
        ctx_ = ZSTD_createDCtx_advanced(ZSTD_customMem{codec_zstd_alloc, codec_zstd_free, nullptr});
        if (!ctx_) return "cannot create a zstd context";
    }
    const size_t n = ZSTD_decompressDCtx(ctx_, out.data(), out.size(), in.data(), in.size());
    if (ZSTD_isError(n)) return std::string("corrupt zstd data (") + ZSTD_getErrorName(n) + ")";
    if (n != out.size()) return short_by(n, out.size());
    return {};
}

}  // namespace rootio::detail
