#pragma once
// JSON text for entry values: numbers exact and in the shortest form that reads back to
// the same bits, non-finite floats as the strings "nan", "inf", "-inf"; names as JSON
// strings that show no terminal control and give the stored bytes back.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

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

// The length of the valid UTF-8 sequence starting at text[at], or 0 when none starts there
// (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
inline size_t utf8_sequence_length(std::string_view text, size_t at)
{
    const auto byte = [&](size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
    };
    const unsigned char lead = byte(0);
    const auto continues = [&](size_t i, unsigned char lo = 0x80, unsigned char hi = 0xbf) {
        return byte(i) >= lo && byte(i) <= hi;
    };
    if (lead < 0x80) return 1;
    if (lead >= 0xc2 && lead <= 0xdf) return continues(1) ? 2 : 0;
    if (lead >= 0xe0 && lead <= 0xef) {
        const unsigned char lo = lead == 0xe0 ? 0xa0 : 0x80;  // no overlong forms
        const unsigned char hi = lead == 0xed ? 0x9f : 0xbf;  // no surrogates
        return continues(1, lo, hi) && continues(2) ? 3 : 0;
    }
    if (lead >= 0xf0 && lead <= 0xf4) {
        const unsigned char lo = lead == 0xf0 ? 0x90 : 0x80;
        const unsigned char hi = lead == 0xf4 ? 0x8f : 0xbf;  // nothing beyond U+10FFFF
        return continues(1, lo, hi) && continues(2) && continues(3) ? 4 : 0;
    }
    return 0;
}

// A name from the file as a JSON string. Valid UTF-8 passes through; control characters
// (C0, DEL and C1) become \u00XX, so no byte that steers a terminal is written raw. A byte
// that is not part of valid UTF-8 becomes the text \xNN, as error messages show it, and so
// that every backslash in the decoded string starts such an escape, a backslash of the
// name becomes \x5c too: replacing each \xNN by byte NN gives the name back exactly.
inline void append_json_string(std::string& out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        const size_t length = utf8_sequence_length(text, at);
        const bool c1_control = c == 0xc2 && length == 2 && static_cast<unsigned char>(text[at + 1]) < 0xa0;
        if (length == 0 || c == '\\') {
            out += "\\\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
            ++at;
        } else if (c < 0x20 || c == 0x7f || c1_control) {
            const auto code = c1_control ? static_cast<unsigned char>(text[at + 1]) : c;
            out += "\\u00";
            out += kHex[code >> 4];
            out += kHex[code & 0xf];
            at += length;
        } else {
            if (c == '"') out += '\\';
            out.append(text.substr(at, length));
            at += length;
        }
    }
    out += '"';
}

inline void append_key(std::string& out, std::string_view name)
{
    append_json_string(out, name);
    out += ':';
}

}  // namespace treedump
