// skim-inputs INPUT...: prints the files a skim over the same arguments reads, one per line,
// in the order it reads them (paths, wildcard patterns, URLs, @LIST files, expanded by the
// skim's own code). Batch scripts split a dataset with it.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "input_list.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty() || arguments[0] == "--help") {
        std::fprintf(arguments.empty() ? stderr : stdout,
                     "usage: skim-inputs INPUT...\n"
                     "Prints the input files of `skim INPUT...`, one per line, in reading order.\n");
        return arguments.empty() ? 1 : 0;
    }
    try {
        for (const std::string& input : skim::expand_inputs(arguments)) {
            if (input.find('\n') != std::string::npos) {
                std::fprintf(stderr, "skim-inputs: an input name holds a line break and cannot be listed\n");
                return 1;
            }
            std::printf("%s\n", input.c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "skim-inputs: %s\n", e.what());
        return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
