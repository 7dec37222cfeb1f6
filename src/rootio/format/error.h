#pragma once
// The one error type of the engine. Messages name the file, the object and what is wrong,
// so a user seeing only the message knows where to look.
#include <stdexcept>
#include <string>
#include <string_view>

#include "rootio/format/printable.h"

namespace rootio {

// Room for a long path, a few names cut to kPrintableNameLimit, and the reason.
inline constexpr size_t kErrorMessageLimit = 8192;

// Its message is always one printable line: whatever a message quotes from a file, and
// however a caller built it, a terminal shows it as text.
class RootError : public std::runtime_error {
public:
    explicit RootError(std::string_view message) : std::runtime_error(printable(message, kErrorMessageLimit))
    {
    }
    explicit RootError(const std::string& message) : RootError(std::string_view(message)) {}
    explicit RootError(const char* message) : RootError(std::string_view(message)) {}
};

// "FILE: OBJECT: WHAT" (OBJECT left out when empty).
[[noreturn]] inline void fail(std::string_view file, std::string_view object, std::string_view what)
{
    std::string msg(file);
    msg += ": ";
    if (!object.empty()) {
        msg += object;
        msg += ": ";
    }
    msg += what;
    throw RootError(msg);
}

}  // namespace rootio
