#pragma once
// Strings read from a file (names, classes, titles) are untrusted bytes: quoted raw in a
// message they could put newlines or terminal escape sequences on the user's screen, or cut
// the message at a NUL. printable() renders them safe to show.
#include <cstddef>
#include <string>
#include <string_view>

namespace rootio {

// Names longer than this are shown cut: real names are far shorter, a corrupt length is not.
inline constexpr size_t kPrintableNameLimit = 96;

// Printable ASCII (space to '~') as is, every other byte as \xNN. Text longer than `limit`
// bytes is cut there and marked "...(cut, N bytes)". Idempotent: printable text stays as is.
std::string printable(std::string_view text, size_t limit = kPrintableNameLimit);

// The same, appended to `out`.
void append_printable(std::string& out, std::string_view text, size_t limit = kPrintableNameLimit);

}  // namespace rootio
