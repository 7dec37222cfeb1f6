#pragma once
// JSON text for entry values: numbers exact and in the shortest form that reads back to
// the same bits, non-finite floats as the strings "nan", "inf", "-inf".
#include <charconv>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>

#include "rootio/format/bytes.h"
#include "rootio/format/leaf_type.h"

namespace treedump {

template <class T>
void append_number(std::string& out, T v)
{
    if constexpr (std::is_floating_point_v<T>) {
        if (std::isnan(v)) return void(out += "\"nan\"");
        if (std::isinf(v)) return void(out += v > 0 ? "\"inf\"" : "\"-inf\"");
    }
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

// One big-endian element of `type` at `p`.
inline void append_element(std::string& out, rootio::LeafType type, const uint8_t* p)
{
    using rootio::LeafType;
    using rootio::load_be;
    switch (type) {
    case LeafType::Bool: out += *p ? "true" : "false"; break;
    case LeafType::Int8: append_number(out, load_be<int8_t>(p)); break;
    case LeafType::UInt8: append_number(out, load_be<uint8_t>(p)); break;
    case LeafType::Int16: append_number(out, load_be<int16_t>(p)); break;
    case LeafType::UInt16: append_number(out, load_be<uint16_t>(p)); break;
    case LeafType::Int32: append_number(out, load_be<int32_t>(p)); break;
    case LeafType::UInt32: append_number(out, load_be<uint32_t>(p)); break;
    case LeafType::Int64: append_number(out, load_be<int64_t>(p)); break;
    case LeafType::UInt64: append_number(out, load_be<uint64_t>(p)); break;
    case LeafType::Float: append_number(out, load_be<float>(p)); break;
    case LeafType::Double: append_number(out, load_be<double>(p)); break;
    }
}

// A branch value: a bare element for scalars, an array otherwise (even when it is empty).
inline void append_value(std::string& out, rootio::LeafType type, bool is_array, std::span<const uint8_t> be)
{
    const size_t size = static_cast<size_t>(rootio::leaf_type_size(type));
    if (!is_array) {
        append_element(out, type, be.data());
        return;
    }
    out += '[';
    for (size_t at = 0; at + size <= be.size(); at += size) {
        if (at) out += ',';
        append_element(out, type, be.data() + at);
    }
    out += ']';
}

inline void append_key(std::string& out, std::string_view name)
{
    out += '"';
    for (char c : name) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            continue;
        }
        out += c;
    }
    out += "\":";
}

}  // namespace treedump
