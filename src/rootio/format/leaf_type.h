#pragma once
// The basic leaf types a flat tree holds, with the letters ROOT uses in leaf lists
// (upper case signed, lower case unsigned) and the leaf classes that store them.
#include <cstdint>
#include <optional>
#include <string_view>

namespace rootio {

enum class LeafType : uint8_t { Bool, Int8, UInt8, Int16, UInt16, Int32, UInt32, Int64, UInt64, Float, Double };

constexpr int leaf_type_size(LeafType t)
{
    switch (t) {
    case LeafType::Bool:
    case LeafType::Int8:
    case LeafType::UInt8: return 1;
    case LeafType::Int16:
    case LeafType::UInt16: return 2;
    case LeafType::Int32:
    case LeafType::UInt32:
    case LeafType::Float: return 4;
    case LeafType::Int64:
    case LeafType::UInt64:
    case LeafType::Double: return 8;
    }
    return 0;
}

constexpr char leaf_type_letter(LeafType t)
{
    constexpr char letters[] = {'O', 'B', 'b', 'S', 's', 'I', 'i', 'L', 'l', 'F', 'D'};
    return letters[static_cast<int>(t)];
}

constexpr std::optional<LeafType> leaf_type_from_letter(char c)
{
    switch (c) {
    case 'O': return LeafType::Bool;
    case 'B': return LeafType::Int8;
    case 'b': return LeafType::UInt8;
    case 'S': return LeafType::Int16;
    case 's': return LeafType::UInt16;
    case 'I': return LeafType::Int32;
    case 'i': return LeafType::UInt32;
    case 'L': return LeafType::Int64;
    case 'l': return LeafType::UInt64;
    case 'F': return LeafType::Float;
    case 'D': return LeafType::Double;
    default: return std::nullopt;
    }
}

constexpr bool leaf_type_is_unsigned(LeafType t)
{
    return t == LeafType::UInt8 || t == LeafType::UInt16 || t == LeafType::UInt32 || t == LeafType::UInt64;
}

constexpr bool leaf_type_is_integer(LeafType t) { return t != LeafType::Float && t != LeafType::Double; }

// Leaf class name as stored in files: TLeafO, TLeafB, ... (signedness is a flag, not a class).
constexpr std::string_view leaf_class_name(LeafType t)
{
    switch (t) {
    case LeafType::Bool: return "TLeafO";
    case LeafType::Int8:
    case LeafType::UInt8: return "TLeafB";
    case LeafType::Int16:
    case LeafType::UInt16: return "TLeafS";
    case LeafType::Int32:
    case LeafType::UInt32: return "TLeafI";
    case LeafType::Int64:
    case LeafType::UInt64: return "TLeafL";
    case LeafType::Float: return "TLeafF";
    case LeafType::Double: return "TLeafD";
    }
    return "";
}

constexpr std::optional<LeafType> leaf_type_from_class(std::string_view cls, bool is_unsigned)
{
    if (cls == "TLeafO") return LeafType::Bool;
    if (cls == "TLeafB") return is_unsigned ? LeafType::UInt8 : LeafType::Int8;
    if (cls == "TLeafS") return is_unsigned ? LeafType::UInt16 : LeafType::Int16;
    if (cls == "TLeafI") return is_unsigned ? LeafType::UInt32 : LeafType::Int32;
    if (cls == "TLeafL") return is_unsigned ? LeafType::UInt64 : LeafType::Int64;
    if (cls == "TLeafF") return LeafType::Float;
    if (cls == "TLeafD") return LeafType::Double;
    return std::nullopt;
}

}  // namespace rootio
