#include "rootio/ntuple/page_decoder.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "rootio/ntuple/envelope_reader.h"

namespace rootio::ntuple {
namespace {

// Byte k of every element lies in plane k; the value is built from them arithmetically,
// so the loop is the same on any host and vectorizes. `Out` may be wider than the stored U.
template <class U, class Out>
void unsplit(const uint8_t* in, uint64_t n, Out* out)
{
    for (uint64_t i = 0; i < n; ++i) {
        U v = 0;
        for (size_t k = 0; k < sizeof(U); ++k) v = static_cast<U>(v | static_cast<U>(in[k * n + i]) << (8 * k));
        out[i] = v;
    }
}

// Bit i of the stream as byte i (0 or 1), a stored byte at a time.
void unpack_bits(const uint8_t* in, uint64_t n, uint8_t* out)
{
    uint64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint8_t byte = in[i / 8];
        for (unsigned k = 0; k < 8; ++k) out[i + k] = (byte >> k) & 1;
    }
    for (; i < n; ++i) out[i] = (in[i / 8] >> (i % 8)) & 1;
}

template <class U>
void copy_le(const uint8_t* in, uint64_t n, U* out)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, in, n * sizeof(U));
    } else {
        for (uint64_t i = 0; i < n; ++i) out[i] = load_le<U>(in + i * sizeof(U));
    }
}

template <class U>
U unzigzag(U x)
{
    return (x >> 1) ^ (U(0) - (x & 1));
}

// Bits of the stream starting at bit `pos`, least significant first.
uint32_t take_bits(const uint8_t* in, uint64_t pos, unsigned nbits)
{
    uint64_t v = 0;
    const uint64_t first = pos / 8;
    const unsigned shift = static_cast<unsigned>(pos % 8);
    const unsigned bytes = (shift + nbits + 7) / 8;
    for (unsigned k = 0; k < bytes; ++k) v |= uint64_t{in[first + k]} << (8 * k);
    return static_cast<uint32_t>((v >> shift) & ((uint64_t{1} << nbits) - 1));
}

float half_to_float(uint16_t h)
{
    const uint32_t sign = uint32_t(h & 0x8000) << 16;
    const uint32_t exp = (h >> 10) & 0x1F;
    uint32_t mant = h & 0x3FF;
    uint32_t bits;
    if (exp == 0x1F) {
        bits = sign | 0x7F800000 | (mant << 13);
    } else if (exp != 0) {
        bits = sign | ((exp + 112) << 23) | (mant << 13);
    } else if (mant == 0) {
        bits = sign;
    } else {
        int e = 113;
        while (!(mant & 0x400)) mant <<= 1, --e;
        bits = sign | (uint32_t(e) << 23) | ((mant & 0x3FF) << 13);
    }
    return std::bit_cast<float>(bits);
}

template <class U>
void integers(const ColumnTypeInfo& info, const uint8_t* in, uint64_t n, uint8_t* out_bytes)
{
    U* out = reinterpret_cast<U*>(out_bytes);
    if (info.split)
        unsplit<U>(in, n, out);
    else
        copy_le(in, n, out);
    if (info.zigzag)
        for (uint64_t i = 0; i < n; ++i) out[i] = unzigzag(out[i]);
}

template <class U>
void index_column(const ColumnTypeInfo& info, const uint8_t* in, uint64_t n, uint64_t* out)
{
    if (info.split) {
        unsplit<U>(in, n, out);
    } else {
        for (uint64_t i = 0; i < n; ++i) out[i] = load_le<U>(in + i * sizeof(U));
    }
    if (info.delta) {
        // 32-bit index columns wrap at 32 bits, as their writer computes them.
        U sum = 0;
        for (uint64_t i = 0; i < n; ++i) out[i] = sum = static_cast<U>(sum + static_cast<U>(out[i]));
    }
}

}  // namespace

size_t memory_element_size(ColumnType type)
{
    switch (type) {
    case ColumnType::Bit:
    case ColumnType::Byte:
    case ColumnType::Char:
    case ColumnType::Int8:
    case ColumnType::UInt8: return 1;
    case ColumnType::Int16:
    case ColumnType::UInt16:
    case ColumnType::SplitInt16:
    case ColumnType::SplitUInt16: return 2;
    case ColumnType::Int32:
    case ColumnType::UInt32:
    case ColumnType::SplitInt32:
    case ColumnType::SplitUInt32:
    case ColumnType::Real16:
    case ColumnType::SplitReal16:
    case ColumnType::Real32:
    case ColumnType::SplitReal32:
    case ColumnType::Real32Trunc:
    case ColumnType::Real32Quant: return 4;
    case ColumnType::Switch: return sizeof(SwitchElement);
    default: return 8;
    }
}

uint64_t packed_page_size(const ColumnDescriptor& column, uint64_t elements)
{
    return (elements * column.bits_on_storage + 7) / 8;
}

void decode_page(const ColumnDescriptor& column, std::span<const uint8_t> packed, uint64_t n, std::span<uint8_t> out)
{
    const ColumnTypeInfo& info = column.info();
    const uint8_t* in = packed.data();
    uint8_t* o = out.data();
    switch (column.type) {
    case ColumnType::Bit: unpack_bits(in, n, o); break;
    case ColumnType::Byte:
    case ColumnType::Char:
    case ColumnType::Int8:
    case ColumnType::UInt8: std::memcpy(o, in, n); break;
    case ColumnType::Int16:
    case ColumnType::UInt16:
    case ColumnType::SplitInt16:
    case ColumnType::SplitUInt16: integers<uint16_t>(info, in, n, o); break;
    case ColumnType::Int32:
    case ColumnType::UInt32:
    case ColumnType::SplitInt32:
    case ColumnType::SplitUInt32:
    case ColumnType::Real32:
    case ColumnType::SplitReal32: integers<uint32_t>(info, in, n, o); break;
    case ColumnType::Int64:
    case ColumnType::UInt64:
    case ColumnType::SplitInt64:
    case ColumnType::SplitUInt64:
    case ColumnType::Real64:
    case ColumnType::SplitReal64: integers<uint64_t>(info, in, n, o); break;
    case ColumnType::Real16:
    case ColumnType::SplitReal16: {
        float* f = reinterpret_cast<float*>(o);
        for (uint64_t i = 0; i < n; ++i) {
            uint8_t b[2];
            if (info.split)
                b[0] = in[i], b[1] = in[n + i];
            else
                b[0] = in[2 * i], b[1] = in[2 * i + 1];
            f[i] = half_to_float(load_le<uint16_t>(b));
        }
        break;
    }
    case ColumnType::Index32:
    case ColumnType::SplitIndex32: index_column<uint32_t>(info, in, n, reinterpret_cast<uint64_t*>(o)); break;
    case ColumnType::Index64:
    case ColumnType::SplitIndex64: index_column<uint64_t>(info, in, n, reinterpret_cast<uint64_t*>(o)); break;
    case ColumnType::Switch: {
        SwitchElement* s = reinterpret_cast<SwitchElement*>(o);
        for (uint64_t i = 0; i < n; ++i)
            s[i] = SwitchElement{load_le<uint64_t>(in + 12 * i), load_le<uint32_t>(in + 12 * i + 8), 0};
        break;
    }
    case ColumnType::Real32Trunc: {
        // The stored bits are the float's most significant ones.
        const unsigned nbits = column.bits_on_storage;
        float* f = reinterpret_cast<float*>(o);
        for (uint64_t i = 0; i < n; ++i) f[i] = std::bit_cast<float>(take_bits(in, i * nbits, nbits) << (32 - nbits));
        break;
    }
    case ColumnType::Real32Quant: {
        const unsigned nbits = column.bits_on_storage;
        const double lo = column.range->first;
        const double hi = column.range->second;
        const double scale = (hi - lo) / static_cast<double>((uint64_t{1} << nbits) - 1);
        float* f = reinterpret_cast<float*>(o);
        for (uint64_t i = 0; i < n; ++i) {
            const double q = take_bits(in, i * nbits, nbits);
            f[i] = static_cast<float>(q * scale + lo);
        }
        break;
    }
    }
}

}  // namespace rootio::ntuple
