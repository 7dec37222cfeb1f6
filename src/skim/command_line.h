#pragma once
// The skim's command line: `skim [-o OUTPUT] [--format ttree|rntuple] INPUT...`, or nothing for the fixed input and
// output of the original program.
#include <span>
#include <string>
#include <vector>

namespace skim {

constexpr const char* kDefaultInput = "example_RunIISummer20UL18.root";
constexpr const char* kDefaultOutput = "output.root";

// The output's format: the first input's unless --format names one.
enum class OutputFormat { FromInput, TTree, RNTuple };

struct CommandLine {
    bool help = false;
    std::string output = kDefaultOutput;
    OutputFormat format = OutputFormat::FromInput;
    std::vector<std::string> inputs;  // expanded (see input_list.h), in chain order
};

// `arguments` excludes the program name. Throws UsageError (input_list.h).
CommandLine parse_command_line(std::span<const char* const> arguments);

// The text `skim --help` prints.
const char* usage_text();

}  // namespace skim
