#pragma once
// The inputs a command line names, expanded in order into the files a chain reads.
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace skim {

// A command line that cannot be run. The message is one line, without the program's name.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Each argument in order, expanded:
//   PATH           itself
//   PATTERN        '*' or '?' in the file-name part: the matching files, sorted by name
//   URL            (root://host//path, anything with "://") itself
//   @LIST          the inputs on the lines of file LIST, each expanded in turn; blank lines
//                  and lines starting with '#' are skipped, surrounding blanks trimmed
// Throws UsageError for a pattern that matches nothing and a list that cannot be read.
std::vector<std::string> expand_inputs(std::span<const std::string> arguments);

}  // namespace skim
