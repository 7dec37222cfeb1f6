#include "rootio/format/printable.h"

#include <algorithm>

namespace rootio {

void append_printable(std::string& out, std::string_view text, size_t limit)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const std::string_view shown = text.substr(0, limit);
    for (const char ch : shown) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7f) {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        }
    }
    if (shown.size() < text.size()) out += "...(cut, " + std::to_string(text.size()) + " bytes)";
}

std::string printable(std::string_view text, size_t limit)
{
    std::string out;
    out.reserve(std::min(text.size(), limit) + 16);
    append_printable(out, text, limit);
    return out;
}

}  // namespace rootio
