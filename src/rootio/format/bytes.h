#pragma once
// Big-endian cursor and writer. Every read is bounds-checked: a record that ends early
// raises RootError naming `context` (e.g. "TTree Events") instead of reading past its end.
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rootio/format/error.h"

namespace rootio {

// std::byteswap is C++23; the builtins do the same on g++ and clang.
inline uint16_t bswap(uint16_t v) { return __builtin_bswap16(v); }
inline uint32_t bswap(uint32_t v) { return __builtin_bswap32(v); }
inline uint64_t bswap(uint64_t v) { return __builtin_bswap64(v); }

template <class T>
inline T load_be(const uint8_t* p)
{
    static_assert(std::is_trivially_copyable_v<T>);
    if constexpr (sizeof(T) == 1) {
        T v;
        std::memcpy(&v, p, 1);
        return v;
    } else {
        using U = std::conditional_t<sizeof(T) == 2, uint16_t,
                                     std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>;
        U u;
        std::memcpy(&u, p, sizeof(U));
        if constexpr (std::endian::native == std::endian::little) u = bswap(u);
        T v;
        std::memcpy(&v, &u, sizeof(T));
        return v;
    }
}

template <class T>
inline void store_be(uint8_t* p, T v)
{
    static_assert(std::is_trivially_copyable_v<T>);
    if constexpr (sizeof(T) == 1) {
        std::memcpy(p, &v, 1);
    } else {
        using U = std::conditional_t<sizeof(T) == 2, uint16_t,
                                     std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>;
        U u;
        std::memcpy(&u, &v, sizeof(U));
        if constexpr (std::endian::native == std::endian::little) u = bswap(u);
        std::memcpy(p, &u, sizeof(U));
    }
}

class ByteReader {
public:
    // `origin` is the position of data[0] within the record (key-relative offsets: object
    // tags and entry offsets count from the first byte of the key header).
    ByteReader(std::span<const uint8_t> data, std::string_view context, size_t origin = 0)
        : data_(data), context_(context), origin_(origin)
    {
    }

    size_t pos() const { return pos_; }                  // index into data
    size_t record_pos() const { return pos_ + origin_; }  // key-relative position
    size_t size() const { return data_.size(); }
    size_t remaining() const { return data_.size() - pos_; }
    std::string_view context() const { return context_; }
    std::span<const uint8_t> data() const { return data_; }

    void seek(size_t pos)
    {
        if (pos > data_.size()) fail_at(pos, "seek beyond the end of the record");
        pos_ = pos;
    }
    void skip(size_t n) { need(n), pos_ += n; }

    template <class T>
    T read()
    {
        need(sizeof(T));
        T v = load_be<T>(data_.data() + pos_);
        pos_ += sizeof(T);
        return v;
    }
    uint8_t u8() { return read<uint8_t>(); }
    int8_t i8() { return read<int8_t>(); }
    uint16_t u16() { return read<uint16_t>(); }
    int16_t i16() { return read<int16_t>(); }
    uint32_t u32() { return read<uint32_t>(); }
    int32_t i32() { return read<int32_t>(); }
    uint64_t u64() { return read<uint64_t>(); }
    int64_t i64() { return read<int64_t>(); }
    float f32() { return read<float>(); }
    double f64() { return read<double>(); }

    std::span<const uint8_t> bytes(size_t n)
    {
        need(n);
        auto s = data_.subspan(pos_, n);
        pos_ += n;
        return s;
    }

    // ROOT TString: u8 length, or 255 followed by an i32 length. The view points into the
    // buffer being read.
    std::string_view tstring_view()
    {
        size_t n = u8();
        if (n == 255) {
            int32_t len = i32();
            if (len < 0) fail_at(pos_, "negative string length");
            n = static_cast<size_t>(len);
        }
        auto b = bytes(n);
        return {reinterpret_cast<const char*>(b.data()), b.size()};
    }
    std::string tstring() { return std::string(tstring_view()); }

    // NUL-terminated C string (class names after kNewClassTag).
    std::string cstring()
    {
        const size_t start = pos_;
        while (pos_ < data_.size() && data_[pos_] != 0) ++pos_;
        if (pos_ >= data_.size()) fail_at(start, "unterminated class name");
        std::string s(reinterpret_cast<const char*>(data_.data() + start), pos_ - start);
        ++pos_;
        return s;
    }

    [[noreturn]] void fail_at(size_t pos, std::string_view what) const
    {
        throw RootError(std::string(context_) + ": " + std::string(what) + " (at byte " +
                        std::to_string(pos + origin_) + " of " + std::to_string(data_.size() + origin_) +
                        ")");
    }

private:
    void need(size_t n) const
    {
        if (n > data_.size() - pos_)
            fail_at(pos_, "truncated: needs " + std::to_string(n) + " more bytes, " +
                              std::to_string(data_.size() - pos_) + " left");
    }

    std::span<const uint8_t> data_;
    std::string_view context_;
    size_t origin_ = 0;
    size_t pos_ = 0;
};

// Appends big-endian values to a caller-owned buffer (reused across records).
class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}

    size_t size() const { return out_.size(); }
    std::vector<uint8_t>& buffer() { return out_; }

    template <class T>
    void put(T v)
    {
        const size_t at = out_.size();
        out_.resize(at + sizeof(T));
        store_be<T>(out_.data() + at, v);
    }
    void u8(uint8_t v) { put(v); }
    void i8(int8_t v) { put(v); }
    void u16(uint16_t v) { put(v); }
    void i16(int16_t v) { put(v); }
    void u32(uint32_t v) { put(v); }
    void i32(int32_t v) { put(v); }
    void u64(uint64_t v) { put(v); }
    void i64(int64_t v) { put(v); }
    void f32(float v) { put(v); }
    void f64(double v) { put(v); }

    void bytes(std::span<const uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }

    void tstring(std::string_view s)
    {
        if (s.size() >= 255) {
            u8(255);
            i32(static_cast<int32_t>(s.size()));
        } else {
            u8(static_cast<uint8_t>(s.size()));
        }
        out_.insert(out_.end(), s.begin(), s.end());
    }
    void cstring(std::string_view s)
    {
        out_.insert(out_.end(), s.begin(), s.end());
        out_.push_back(0);
    }

    // Overwrite a value written earlier (byte counts, sizes known only at the end).
    template <class T>
    void patch(size_t at, T v)
    {
        store_be<T>(out_.data() + at, v);
    }

private:
    std::vector<uint8_t>& out_;
};

inline size_t tstring_size(std::string_view s) { return s.size() >= 255 ? 5 + s.size() : 1 + s.size(); }

}  // namespace rootio
