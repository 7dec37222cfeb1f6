// skim-inputs INPUT...: prints the files a skim over the same arguments reads, one per line,
// in the order it reads them (paths, wildcard patterns, URLs, @LIST files, expanded by the
// skim's own code). Batch scripts split a dataset with it.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/program.h"
#include "input_list.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    constexpr std::string_view kUsage =
        "usage: skim-inputs INPUT...\n"
        "Prints the input files of `skim INPUT...`, one per line, in reading order.\n";
    if (arguments.empty()) cli::usage_error("skim-inputs", "no input given", kUsage);
    if (cli::is_help(arguments[0])) cli::show_help("skim-inputs", kUsage);
    try {
        for (const std::string& input : skim::expand_inputs(arguments)) {
            if (input.find('\n') != std::string::npos) {
                std::fprintf(stderr, "skim-inputs: an input name holds a line break and cannot be listed\n");
                return 1;
            }
            std::printf("%s\n", input.c_str());
        }
    } catch (const std::exception& e) {
        cli::print_error("skim-inputs", e.what());
        return 1;
    }
    return cli::standard_output_status("skim-inputs");
}
