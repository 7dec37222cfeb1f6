#include "rootio/io/wildcard.h"

#include <algorithm>
#include <filesystem>

namespace rootio {

bool wildcard_match(std::string_view pattern, std::string_view name)
{
    size_t p = 0, n = 0;
    size_t star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && name[n] != '/' && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos && name[resume] != '/') {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<std::string> expand_file_pattern(const std::string& name)
{
    const size_t slash = name.rfind('/');
    const std::string_view file_part =
        slash == std::string::npos ? std::string_view(name) : std::string_view(name).substr(slash + 1);
    if (name.find("://") != std::string::npos || !has_wildcard(file_part)) return {name};

    const std::string folder = slash == std::string::npos ? "." : name.substr(0, slash + 1);
    const std::string prefix = slash == std::string::npos ? "" : folder;
    std::vector<std::string> matches;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string entry = it->path().filename().string();
        if (wildcard_match(file_part, entry)) matches.push_back(prefix + entry);
    }
    if (error) return {};
    std::sort(matches.begin(), matches.end());
    return matches;
}

}  // namespace rootio
