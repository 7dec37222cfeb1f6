#pragma once
// The framework's wildcards, for branch names and file names alike: * is any run of
// characters and ? any one character, neither matching '/'; the pattern must match the
// whole name.
#include <string>
#include <string_view>
#include <vector>

namespace rootio {

bool wildcard_match(std::string_view pattern, std::string_view name);

// Whether `name` holds a wildcard character at all.
inline bool has_wildcard(std::string_view name)
{
    return name.find_first_of("*?") != std::string_view::npos;
}

// The files a name stands for, as the framework's chains take them: a name with a wildcard
// in its file-name part gives every entry of its folder that matches, sorted by name and
// spelled with the folder as written; any other name (and a URL, "scheme://...") stands
// for itself. Wildcards in the folder part are not expanded. A folder that cannot be
// listed matches nothing.
std::vector<std::string> expand_file_pattern(const std::string& name);

}  // namespace rootio
