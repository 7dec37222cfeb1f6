#pragma once
// Little-endian cursor over an RNTuple envelope (or any part of one), with the format's
// frames and strings. Every read is bounds-checked and a frame never reads past its own
// end: damage raises RootError naming `context` and the byte position.
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "rootio/format/bytes.h"
#include "rootio/format/error.h"
#include "rootio/ntuple/format_constants.h"

namespace rootio::ntuple {

template <class T>
inline T load_le(const uint8_t* p)
{
    static_assert(std::is_trivially_copyable_v<T>);
    T v;
    std::memcpy(&v, p, sizeof(T));
    if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
        using U = std::conditional_t<sizeof(T) == 2, uint16_t, std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>;
        U u;
        std::memcpy(&u, p, sizeof(U));
        u = rootio::bswap(u);
        std::memcpy(&v, &u, sizeof(T));
    }
    return v;
}

class EnvelopeReader {
public:
    // `origin` is the position of data[0] in the envelope (for messages).
    EnvelopeReader(std::span<const uint8_t> data, std::string_view context, size_t origin = 0)
        : data_(data), end_(data.size()), context_(context), origin_(origin)
    {
    }

    size_t pos() const { return pos_; }
    size_t end() const { return end_; }
    size_t remaining() const { return end_ - pos_; }
    std::string_view context() const { return context_; }

    template <class T>
    T read()
    {
        need(sizeof(T));
        T v = load_le<T>(data_.data() + pos_);
        pos_ += sizeof(T);
        return v;
    }
    uint16_t u16() { return read<uint16_t>(); }
    uint32_t u32() { return read<uint32_t>(); }
    int32_t i32() { return read<int32_t>(); }
    uint64_t u64() { return read<uint64_t>(); }
    int64_t i64() { return read<int64_t>(); }
    double f64() { return read<double>(); }

    void skip(size_t n) { need(n), pos_ += n; }
    std::span<const uint8_t> bytes(size_t n)
    {
        need(n);
        auto s = data_.subspan(pos_, n);
        pos_ += n;
        return s;
    }

    // u32 length then the bytes.
    std::string string()
    {
        const uint32_t n = u32();
        auto b = bytes(n);
        return {reinterpret_cast<const char*>(b.data()), b.size()};
    }

    // A frame opened at the cursor: its kind, its item count (list frames) and where it
    // ends. Reading inside it is confined to it until close_frame().
    struct Frame {
        FrameType type;
        uint32_t items = 0;
        size_t end = 0;
        size_t outer_end = 0;
    };
    Frame open_frame()
    {
        const size_t start = pos_;
        const int64_t raw = i64();
        Frame f;
        f.type = raw < 0 ? FrameType::List : FrameType::Record;
        const uint64_t size = raw < 0 ? uint64_t(0) - uint64_t(raw) : uint64_t(raw);
        const size_t preamble = f.type == FrameType::List ? kListFramePreambleSize : kRecordFramePreambleSize;
        if (size < preamble || size > end_ - start) fail_at(start, "frame size " + std::to_string(size) + " does not fit");
        if (f.type == FrameType::List) f.items = u32();
        f.end = start + size;
        f.outer_end = end_;
        end_ = f.end;
        return f;
    }
    Frame open_record_frame()
    {
        const size_t start = pos_;
        Frame f = open_frame();
        if (f.type != FrameType::Record) fail_at(start, "expected a record frame, found a list frame");
        return f;
    }
    // A list frame of `items` entries each at least `min_item_size` bytes: a count no frame
    // of this size can hold is damage, caught before anything is sized by it.
    Frame open_list_frame(size_t min_item_size)
    {
        const size_t start = pos_;
        Frame f = open_frame();
        if (f.type != FrameType::List) fail_at(start, "expected a list frame, found a record frame");
        if (min_item_size > 0 && f.items > remaining() / min_item_size)
            fail_at(start, "list frame claims " + std::to_string(f.items) + " items in " +
                               std::to_string(remaining()) + " bytes");
        return f;
    }
    // Skips what the frame holds beyond what was read (later format versions may append).
    void close_frame(const Frame& f)
    {
        pos_ = f.end;
        end_ = f.outer_end;
    }

    [[noreturn]] void fail_at(size_t pos, std::string_view what) const
    {
        throw RootError(std::string(context_) + ": " + std::string(what) + " (at byte " + std::to_string(pos + origin_) +
                        " of " + std::to_string(data_.size() + origin_) + ")");
    }
    [[noreturn]] void fail(std::string_view what) const { fail_at(pos_, what); }

private:
    void need(size_t n) const
    {
        if (n > end_ - pos_)
            fail_at(pos_, "truncated: needs " + std::to_string(n) + " more bytes, " + std::to_string(end_ - pos_) +
                              " left");
    }

    std::span<const uint8_t> data_;
    size_t pos_ = 0;
    size_t end_ = 0;
    std::string_view context_;
    size_t origin_ = 0;
};

}  // namespace rootio::ntuple
