#include "rootio/codec/codec_encoders.h"

#define ZSTD_STATIC_LINKING_ONLY  // context in a caller-owned workspace
#include <lz4.h>
#include <lz4hc.h>
#include <lzma.h>
#include <xxhash.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>

#include "rootio/codec/codec_memory.h"

namespace rootio::detail {

namespace {

// deflateInit(level) for ZL; bare deflate for CS. deflateReset between blocks gives the
// same bytes as a fresh stream without re-allocating its 256 kB of tables.
class ZlibEncoder final : public BlockEncoder {
public:
    ZlibEncoder(int level, bool raw) : level_(std::min(level, 9)), raw_(raw) {}
    ~ZlibEncoder() override
    {
        if (ready_) deflateEnd(&stream_);
    }

    size_t encode(std::span<const uint8_t> in, std::span<uint8_t> out) override
    {
        if (!ready_) {
            stream_.zalloc = codec_zlib_alloc;
            stream_.zfree = codec_zlib_free;
            if (deflateInit2(&stream_, level_, Z_DEFLATED, raw_ ? -MAX_WBITS : MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
                return 0;
            ready_ = true;
        } else {
            deflateReset(&stream_);
        }
        stream_.next_in = const_cast<Bytef*>(in.data());
        stream_.avail_in = static_cast<uInt>(in.size());
        stream_.next_out = out.data();
        stream_.avail_out = static_cast<uInt>(out.size());
        if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) return 0;  // did not fit
        return out.size() - stream_.avail_out;
    }

private:
    z_stream stream_{};
    int level_;
    bool raw_;
    bool ready_ = false;
};

// Preset = level, CRC32 check, dictionary no larger than a quarter of the input (at least
// LZMA_DICT_SIZE_MIN): ROOT's choice, which also keeps encoder memory small.
class XzEncoder final : public BlockEncoder {
public:
    explicit XzEncoder(int level) : level_(static_cast<uint32_t>(std::min(level, 9)))
    {
        allocator_.alloc = pool_lzma_alloc;
        allocator_.free = pool_lzma_free;
        allocator_.opaque = &pool_;
        stream_.allocator = &allocator_;
    }
    ~XzEncoder() override { lzma_end(&stream_); }

    size_t encode(std::span<const uint8_t> in, std::span<uint8_t> out) override
    {
        lzma_options_lzma options;
        if (lzma_lzma_preset(&options, level_)) return 0;
        const uint32_t dict = std::max<uint32_t>(static_cast<uint32_t>(in.size()) / 4, LZMA_DICT_SIZE_MIN);
        options.dict_size = std::min(options.dict_size, dict);
        const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        if (lzma_stream_encoder(&stream_, filters, LZMA_CHECK_CRC32) != LZMA_OK) return 0;
        stream_.next_in = in.data();
        stream_.avail_in = in.size();
        stream_.next_out = out.data();
        stream_.avail_out = out.size();
        // One call finishes unless the output is full, which means the block does not shrink.
        if (lzma_code(&stream_, LZMA_FINISH) != LZMA_STREAM_END) return 0;
        return out.size() - stream_.avail_out;
    }

private:
    RecyclingPool pool_;  // declared first: liblzma releases into it at lzma_end
    lzma_allocator allocator_{};
    lzma_stream stream_ = LZMA_STREAM_INIT;
    uint32_t level_;
};

// Levels 4..9 use LZ4 HC at that level, lower ones the fast coder. The payload is the
// big-endian XXH64 of the LZ4 block followed by the block. States are allocated once
// (LZ4_compress_HC would allocate 256 kB per call).
class Lz4Encoder final : public BlockEncoder {
public:
    explicit Lz4Encoder(int level) : level_(std::min(level, 9)) {}
    ~Lz4Encoder() override { codec_free(state_); }

    size_t encode(std::span<const uint8_t> in, std::span<uint8_t> out) override
    {
        constexpr size_t kChecksumSize = 8;
        if (out.size() <= kChecksumSize) return 0;
        const bool hc = level_ >= 4;
        if (!state_) {
            state_ = codec_malloc(static_cast<size_t>(hc ? LZ4_sizeofStateHC() : LZ4_sizeofState()));
            if (!state_) return 0;
        }
        const auto* src = reinterpret_cast<const char*>(in.data());
        auto* dst = reinterpret_cast<char*>(out.data() + kChecksumSize);
        const int cap = static_cast<int>(out.size() - kChecksumSize);
        const int n = hc ? LZ4_compress_HC_extStateHC(state_, src, dst, static_cast<int>(in.size()), cap, level_)
                         : LZ4_compress_fast_extState(state_, src, dst, static_cast<int>(in.size()), cap, 1);
        if (n <= 0) return 0;
        XXH64_canonical_t sum;
        XXH64_canonicalFromHash(&sum, XXH64(dst, static_cast<size_t>(n), 0));
        std::memcpy(out.data(), &sum, sizeof sum);
        return kChecksumSize + static_cast<size_t>(n);
    }

private:
    void* state_ = nullptr;
    int level_;
};

// zstd level = 2 x ROOT level (zstd clamps to its maximum). The context lives in one
// workspace sized for any input at that level: a heap-managed context frees and regrows
// its tables whenever small and large baskets alternate.
class ZstdEncoder final : public BlockEncoder {
public:
    explicit ZstdEncoder(int level) : zstd_level_(2 * level) {}
    ~ZstdEncoder() override { codec_free(workspace_); }

    size_t encode(std::span<const uint8_t> in, std::span<uint8_t> out) override
    {
        if (!ctx_) {
            const size_t size = ZSTD_estimateCCtxSize(zstd_level_);
            workspace_ = codec_malloc(size);
            if (!workspace_) return 0;
            ctx_ = ZSTD_initStaticCCtx(workspace_, size);
            if (!ctx_) return 0;
        }
        const size_t n = ZSTD_compressCCtx(ctx_, out.data(), out.size(), in.data(), in.size(), zstd_level_);
        return ZSTD_isError(n) ? 0 : n;
    }

private:
    void* workspace_ = nullptr;
    ZSTD_CCtx* ctx_ = nullptr;  // lives inside workspace_
    int zstd_level_;
};

}  // namespace

std::unique_ptr<BlockEncoder> make_zlib_encoder(int level, bool raw_deflate)
{
    return std::make_unique<ZlibEncoder>(level, raw_deflate);
}
std::unique_ptr<BlockEncoder> make_xz_encoder(int level) { return std::make_unique<XzEncoder>(level); }
std::unique_ptr<BlockEncoder> make_lz4_encoder(int level) { return std::make_unique<Lz4Encoder>(level); }
std::unique_ptr<BlockEncoder> make_zstd_encoder(int level) { return std::make_unique<ZstdEncoder>(level); }

}  // namespace rootio::detail
