#include "rootio/ntuple/column_encoding.h"

#include <cstring>

namespace rootio::ntuple {

namespace {

// Element i's byte b goes to position b * count + i.
void split(const uint8_t* in, uint64_t count, uint32_t size, uint8_t* out)
{
    for (uint32_t b = 0; b < size; ++b) {
        uint8_t* dst = out + b * count;
        for (uint64_t i = 0; i < count; ++i) dst[i] = in[i * size + b];
    }
}

template <class S, class U>
void zigzag_split(const uint8_t* in, uint64_t count, uint8_t* out)
{
    constexpr uint32_t size = sizeof(U);
    for (uint64_t i = 0; i < count; ++i) {
        S v;
        std::memcpy(&v, in + i * size, size);
        const U z = static_cast<U>(static_cast<U>(v) << 1) ^ static_cast<U>(v >> (8 * size - 1));
        for (uint32_t b = 0; b < size; ++b) out[b * count + i] = static_cast<uint8_t>(z >> (8 * b));
    }
}

template <class U>
void delta_split(const uint8_t* in, uint64_t count, uint8_t* out)
{
    constexpr uint32_t size = sizeof(U);
    U previous = 0;
    for (uint64_t i = 0; i < count; ++i) {
        U v;
        std::memcpy(&v, in + i * size, size);
        const U d = static_cast<U>(v - previous);
        previous = v;
        for (uint32_t b = 0; b < size; ++b) out[b * count + i] = static_cast<uint8_t>(d >> (8 * b));
    }
}

}  // namespace

uint32_t unencoded_element_size(ColumnType type)
{
    return type == ColumnType::Bit ? 1 : column_type_info(type).max_bits / 8;
}

void encode_page(ColumnType type, std::span<const uint8_t> elements, uint64_t count, std::vector<uint8_t>& out)
{
    const uint8_t* in = elements.data();
    if (type == ColumnType::Bit) {
        out.assign((count + 7) / 8, 0);
        for (uint64_t i = 0; i < count; ++i)
            if (in[i]) out[i / 8] = static_cast<uint8_t>(out[i / 8] | 1u << (i % 8));
        return;
    }
    const uint32_t size = unencoded_element_size(type);
    const ColumnTypeInfo& info = column_type_info(type);
    if (!info.split) {
        out.assign(in, in + count * size);
        return;
    }
    out.resize(count * size);
    switch (type) {
    case ColumnType::SplitInt16: zigzag_split<int16_t, uint16_t>(in, count, out.data()); break;
    case ColumnType::SplitInt32: zigzag_split<int32_t, uint32_t>(in, count, out.data()); break;
    case ColumnType::SplitInt64: zigzag_split<int64_t, uint64_t>(in, count, out.data()); break;
    case ColumnType::SplitIndex32: delta_split<uint32_t>(in, count, out.data()); break;
    case ColumnType::SplitIndex64: delta_split<uint64_t>(in, count, out.data()); break;
    default: split(in, count, size, out.data()); break;
    }
}

}  // namespace rootio::ntuple
