#pragma once

#include <string>

// Pieces of an expected bar line, spelled out byte by byte.
namespace tqdm_testing {

inline const std::string kFull = "\xe2\x96\x88";  // U+2588
inline const std::string kPad = "\xe2\x96\x8f";   // U+258F
inline const std::string kBoldRed = "\x1b[1m\x1b[31m";
inline const std::string kBlue = "\x1b[34m";
inline const std::string kTail = "\x1b[0m\x1b[32m\x1b[0m\r ";
inline const std::string kGreen = "\x1b[32m ";

inline std::string repeat(const std::string& glyph, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += glyph;
    return s;
}

inline std::string rgb(int r, int g, int b) {
    return "\x1b[38;2;" + std::to_string(r) + ";" + std::to_string(g) + ";" + std::to_string(b) + "m ";
}

// A coloured line with an empty label: `pct` is the percentage field without "%",
// `stats` the bracketed block.
inline std::string line(const std::string& colour, const std::string& cells, const std::string& pad,
                        const std::string& pct, const std::string& stats) {
    return "\r " + colour + cells + pad + " " + kBoldRed + pct + "% " + kBlue + stats + "  " + kTail;
}

inline std::size_t count(const std::string& haystack, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
    return n;
}

}  // namespace tqdm_testing
