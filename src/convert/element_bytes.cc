#include "element_bytes.h"

#include <type_traits>

#include "rootio/format/bytes.h"

namespace convert {

using rootio::LeafType;
using rootio::ntuple::ColumnType;
using rootio::ntuple::ValueKind;

namespace {

// Every value goes through the widest type of its kind, so a narrow column read as a wide
// leaf (or the reverse) converts as one value would.
template <class Src>
auto widen(Src v)
{
    if constexpr (std::is_floating_point_v<Src>) return static_cast<double>(v);
    else if constexpr (std::is_signed_v<Src>) return static_cast<int64_t>(v);
    else return static_cast<uint64_t>(v);
}

template <class Src, class Leaf>
void convert_elements(const uint8_t* values, uint64_t begin, uint64_t end, uint8_t* out)
{
    const Src* src = reinterpret_cast<const Src*>(values);
    const uint64_t n = end - begin;
    src += begin;
    for (uint64_t i = 0; i < n; ++i) {
        if constexpr (std::is_same_v<Leaf, bool>)
            out[i] = static_cast<uint64_t>(widen(src[i])) != 0;
        else if constexpr (std::is_same_v<Leaf, Src>)
            rootio::store_be<Leaf>(out + i * sizeof(Leaf), src[i]);  // bits unchanged
        else
            rootio::store_be<Leaf>(out + i * sizeof(Leaf), static_cast<Leaf>(widen(src[i])));
    }
}

template <class Src>
ElementsToBytes to_leaf(LeafType leaf)
{
    switch (leaf) {
    case LeafType::Bool: return convert_elements<Src, bool>;
    case LeafType::Int8: return convert_elements<Src, int8_t>;
    case LeafType::UInt8: return convert_elements<Src, uint8_t>;
    case LeafType::Int16: return convert_elements<Src, int16_t>;
    case LeafType::UInt16: return convert_elements<Src, uint16_t>;
    case LeafType::Int32: return convert_elements<Src, int32_t>;
    case LeafType::UInt32: return convert_elements<Src, uint32_t>;
    case LeafType::Int64: return convert_elements<Src, int64_t>;
    case LeafType::UInt64: return convert_elements<Src, uint64_t>;
    case LeafType::Float: return convert_elements<Src, float>;
    case LeafType::Double: return convert_elements<Src, double>;
    }
    return nullptr;
}

}  // namespace

ElementsToBytes elements_to_bytes(ColumnType column, LeafType leaf)
{
    const rootio::ntuple::ColumnTypeInfo& info = rootio::ntuple::column_type_info(column);
    switch (info.kind) {
    case ValueKind::Switch: return nullptr;
    case ValueKind::Index: return to_leaf<uint64_t>(leaf);
    case ValueKind::Real:
        return column == ColumnType::Real64 || column == ColumnType::SplitReal64 ? to_leaf<double>(leaf)
                                                                                : to_leaf<float>(leaf);
    default: break;
    }
    // Characters are read as unsigned bytes.
    const bool is_signed = info.is_signed && info.kind != ValueKind::Char;
    switch (info.max_bits <= 8 ? 1 : info.max_bits / 8) {
    case 1: return is_signed ? to_leaf<int8_t>(leaf) : to_leaf<uint8_t>(leaf);
    case 2: return is_signed ? to_leaf<int16_t>(leaf) : to_leaf<uint16_t>(leaf);
    case 4: return is_signed ? to_leaf<int32_t>(leaf) : to_leaf<uint32_t>(leaf);
    default: return is_signed ? to_leaf<int64_t>(leaf) : to_leaf<uint64_t>(leaf);
    }
}

void append_elements(std::vector<uint8_t>& out, ElementsToBytes convert, LeafType leaf,
                     const rootio::ntuple::ColumnData& data, uint64_t begin, uint64_t end)
{
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(end - begin) * static_cast<size_t>(rootio::leaf_type_size(leaf)));
    convert(data.values.data(), begin, end, out.data() + at);
}

}  // namespace convert
