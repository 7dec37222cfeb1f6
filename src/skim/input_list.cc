#include "input_list.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string_view>

#include "rootio/io/wildcard.h"

namespace skim {
namespace {

// A list naming itself, directly or not, would never end.
constexpr int kMaxListDepth = 8;

std::string_view trimmed(std::string_view line)
{
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const size_t last = line.find_last_not_of(" \t\r");
    return line.substr(first, last - first + 1);
}

void expand_into(const std::string& argument, int depth, std::vector<std::string>& inputs)
{
    if (argument.starts_with('@')) {
        const std::string list = argument.substr(1);
        if (depth >= kMaxListDepth)
            throw UsageError(list + ": input lists nested more than " + std::to_string(kMaxListDepth) +
                             " deep");
        errno = 0;
        std::ifstream in(list);
        if (!in)
            throw UsageError(list + ": cannot read the input list: " + std::strerror(errno ? errno : ENOENT));
        std::string line;
        while (std::getline(in, line)) {
            const std::string_view entry = trimmed(line);
            if (entry.empty() || entry.starts_with('#')) continue;
            expand_into(std::string(entry), depth + 1, inputs);
        }
        if (in.bad())
            throw UsageError(list + ": cannot read the input list: " + std::strerror(errno ? errno : EIO));
        return;
    }
    const std::vector<std::string> files = rootio::expand_file_pattern(argument);
    if (files.empty()) throw UsageError(argument + ": matches no file");
    inputs.insert(inputs.end(), files.begin(), files.end());
}

}  // namespace

std::vector<std::string> expand_inputs(std::span<const std::string> arguments)
{
    std::vector<std::string> inputs;
    for (const std::string& argument : arguments) expand_into(argument, 0, inputs);
    return inputs;
}

}  // namespace skim
