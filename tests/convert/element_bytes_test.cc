// The conversion from a column's decoded values to a tree leaf's big-endian entry bytes:
// each memory form read as itself and written as each leaf type, narrow signed columns
// sign-extended, characters and bytes not, reals truncated into integer leaves, and the
// entry's elements taken from where it begins.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "element_bytes.h"
#include "rootio/format/bytes.h"

namespace {

using rootio::LeafType;
using rootio::ntuple::ColumnData;
using rootio::ntuple::ColumnType;

// The memory form of each column type's elements (page_decoder.h).
enum class Memory { I8, U8, I16, U16, I32, U32, I64, U64, F32, F64 };

template <class T>
void put(ColumnData& data, const std::vector<double>& values)
{
    data.values.resize(values.size() * sizeof(T));
    for (size_t i = 0; i < values.size(); ++i) {
        const T v = static_cast<T>(values[i]);
        std::memcpy(data.values.data() + i * sizeof(T), &v, sizeof v);
    }
    data.elements = values.size();
}

ColumnData column_data(Memory memory, const std::vector<double>& values)
{
    ColumnData data;
    switch (memory) {
    case Memory::I8: put<int8_t>(data, values); break;
    case Memory::U8: put<uint8_t>(data, values); break;
    case Memory::I16: put<int16_t>(data, values); break;
    case Memory::U16: put<uint16_t>(data, values); break;
    case Memory::I32: put<int32_t>(data, values); break;
    case Memory::U32: put<uint32_t>(data, values); break;
    case Memory::I64: put<int64_t>(data, values); break;
    case Memory::U64: put<uint64_t>(data, values); break;
    case Memory::F32: put<float>(data, values); break;
    case Memory::F64: put<double>(data, values); break;
    }
    return data;
}

// The leaf's big-endian elements, as numbers.
std::vector<double> leaf_values(const std::vector<uint8_t>& bytes, LeafType leaf)
{
    std::vector<double> out;
    const size_t size = static_cast<size_t>(rootio::leaf_type_size(leaf));
    for (size_t at = 0; at + size <= bytes.size(); at += size) {
        const uint8_t* p = bytes.data() + at;
        switch (leaf) {
        case LeafType::Bool:
        case LeafType::UInt8: out.push_back(rootio::load_be<uint8_t>(p)); break;
        case LeafType::Int8: out.push_back(rootio::load_be<int8_t>(p)); break;
        case LeafType::Int16: out.push_back(rootio::load_be<int16_t>(p)); break;
        case LeafType::UInt16: out.push_back(rootio::load_be<uint16_t>(p)); break;
        case LeafType::Int32: out.push_back(rootio::load_be<int32_t>(p)); break;
        case LeafType::UInt32: out.push_back(rootio::load_be<uint32_t>(p)); break;
        case LeafType::Int64: out.push_back(static_cast<double>(rootio::load_be<int64_t>(p))); break;
        case LeafType::UInt64: out.push_back(static_cast<double>(rootio::load_be<uint64_t>(p))); break;
        case LeafType::Float: out.push_back(rootio::load_be<float>(p)); break;
        case LeafType::Double: out.push_back(rootio::load_be<double>(p)); break;
        }
    }
    return out;
}

std::vector<double> convert(ColumnType type, Memory memory, LeafType leaf, const std::vector<double>& values,
                            uint64_t begin, uint64_t end)
{
    const auto convert = convert::elements_to_bytes(type, leaf);
    if (!convert) return {};
    std::vector<uint8_t> out{0xAB};  // appended after what the entry holds already
    convert::append_elements(out, convert, leaf, column_data(memory, values), begin, end);
    EXPECT_EQ(out.front(), 0xAB);
    out.erase(out.begin());
    return leaf_values(out, leaf);
}

TEST(ElementBytes, SignsWidthsAndReals)
{
    struct Case {
        ColumnType type;
        Memory memory;
        double stored;
        LeafType leaf;
        double want;
    };
    const Case cases[] = {
        {ColumnType::Int8, Memory::I8, -1, LeafType::Int64, -1},       // sign-extended
        {ColumnType::SplitInt16, Memory::I16, -300, LeafType::Int32, -300},
        {ColumnType::Int32, Memory::I32, -7, LeafType::Double, -7},
        {ColumnType::Char, Memory::U8, 255, LeafType::Int32, 255},      // characters are unsigned
        {ColumnType::Byte, Memory::U8, 200, LeafType::Int16, 200},
        {ColumnType::UInt32, Memory::U32, 4e9, LeafType::UInt64, 4e9},  // not sign-extended
        {ColumnType::SplitInt64, Memory::I64, -5e15, LeafType::Int64, -5e15},
        {ColumnType::SplitIndex64, Memory::U64, 1099511627776.0, LeafType::UInt64, 1099511627776.0},
        {ColumnType::SplitReal32, Memory::F32, 2.75, LeafType::Double, 2.75},
        {ColumnType::SplitReal32, Memory::F32, -2.75, LeafType::Int32, -2},  // truncated
        {ColumnType::Real64, Memory::F64, 1e300, LeafType::Double, 1e300},
        {ColumnType::Real64, Memory::F64, 0.1, LeafType::Float, 0.1f},
        {ColumnType::Int16, Memory::I16, 300, LeafType::UInt8, 44},      // modulo the leaf's width
        // Each other memory form as itself, and the leaves not met above.
        {ColumnType::Bit, Memory::U8, 1, LeafType::Bool, 1},
        {ColumnType::Int8, Memory::I8, -100, LeafType::Int8, -100},
        {ColumnType::SplitUInt16, Memory::U16, 65535, LeafType::UInt16, 65535},
        {ColumnType::Index32, Memory::U64, 7, LeafType::UInt32, 7},
        {ColumnType::UInt64, Memory::U64, 9007199254740992.0, LeafType::Double, 9007199254740992.0},
        {ColumnType::Real16, Memory::F32, 1.5, LeafType::Float, 1.5},
        {ColumnType::Real32Quant, Memory::F32, 3, LeafType::Bool, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "column type " << static_cast<int>(c.type) << ", leaf type "
                                        << static_cast<int>(c.leaf) << ", value " << c.stored);
        EXPECT_EQ(convert(c.type, c.memory, c.leaf, {0, c.stored}, 1, 2), std::vector<double>{c.want});
    }
    EXPECT_EQ(convert::elements_to_bytes(ColumnType::Switch, LeafType::Int32), nullptr);
}

}  // namespace
