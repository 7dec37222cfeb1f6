#pragma once
// The skim's command line: `skim [-o OUTPUT] INPUT...`, or nothing for the fixed input and
// output of the original program.
#include <span>
#include <string>
#include <vector>

namespace skim {

constexpr const char* kDefaultInput = "example_RunIISummer20UL18.root";
constexpr const char* kDefaultOutput = "output.root";

struct CommandLine {
    bool help = false;
    std::string output = kDefaultOutput;
    std::vector<std::string> inputs;  // expanded (see input_list.h), in chain order
};

// `arguments` excludes the program name. Throws UsageError (input_list.h).
CommandLine parse_command_line(std::span<const char* const> arguments);

// The text `skim --help` prints.
const char* usage_text();

}  // namespace skim
