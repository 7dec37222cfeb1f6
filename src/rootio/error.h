#pragma once
// The one error type of the engine. Messages name the file, the object and what is wrong,
// so a user seeing only the message knows where to look.
#include <stdexcept>
#include <string>
#include <string_view>

namespace rootio {

class RootError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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
