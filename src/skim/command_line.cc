#include "command_line.h"

#include <string_view>

#include "input_list.h"

namespace skim {

CommandLine parse_command_line(std::span<const char* const> arguments)
{
    CommandLine line;
    if (arguments.empty()) {
        line.inputs = {kDefaultInput};
        return line;
    }
    bool output_given = false;
    bool options_done = false;
    std::vector<std::string> input_arguments;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (options_done || argument == "-" || !argument.starts_with('-')) {
            input_arguments.emplace_back(argument);
        } else if (argument == "--") {
            options_done = true;
        } else if (argument == "-h" || argument == "--help") {
            line.help = true;
            return line;
        } else if (argument.starts_with("-o") || argument == "--output" ||
                   argument.starts_with("--output=")) {
            std::string_view name;
            if (argument.starts_with("--output="))
                name = argument.substr(9);
            else if (argument.starts_with("-o") && argument.size() > 2)
                name = argument.substr(2);
            else if (i + 1 < arguments.size())
                name = arguments[++i];
            if (name.empty()) throw UsageError("option -o needs a file name");
            if (output_given) throw UsageError("option -o given twice");
            output_given = true;
            if (name.find("://") != std::string_view::npos)
                throw UsageError("the output must be a local file: " + std::string(name));
            line.output = name;
        } else if (argument == "--format" || argument.starts_with("--format=")) {
            std::string_view format;
            if (argument.starts_with("--format=")) format = argument.substr(9);
            else if (i + 1 < arguments.size()) format = arguments[++i];
            if (line.format != OutputFormat::FromInput) throw UsageError("option --format given twice");
            if (format == "ttree") line.format = OutputFormat::TTree;
            else if (format == "rntuple") line.format = OutputFormat::RNTuple;
            else throw UsageError("option --format takes ttree or rntuple, not '" + std::string(format) + "'");
        } else {
            throw UsageError("unknown option '" + std::string(argument) + "' (see skim --help)");
        }
    }
    if (input_arguments.empty()) throw UsageError("no input given (see skim --help)");
    line.inputs = expand_inputs(input_arguments);
    if (line.inputs.empty()) throw UsageError("the input lists name no file");
    return line;
}

const char* usage_text()
{
    return "Usage: skim [-o OUTPUT] INPUT...\n"
           "       skim [-o OUTPUT] --format ttree|rntuple INPUT...\n"
           "\n"
           "Copies the events of the INPUT files (tree or RNTuple \"Events\") that pass the selection, with\n"
           "the kept branches, into OUTPUT. Without arguments it reads\n"
           "example_RunIISummer20UL18.root and writes output.root.\n"
           "\n"
           "Each INPUT is, in chain order:\n"
           "  PATH          a ROOT file\n"
           "  'PATTERN'     the files whose names match, in name order: * and ? in the file-name\n"
           "                part (quote it so that the shell leaves it alone)\n"
           "  root://HOST[:PORT]//PATH\n"
           "                a file on an XRootD server (also xroot://)\n"
           "  @LIST         the inputs on the lines of the text file LIST (blank lines and lines\n"
           "                starting with # are skipped)\n"
           "\n"
           "Options:\n"
           "  -o OUTPUT     write OUTPUT instead of output.root\n"
           "  --format F    write the output as F (ttree or rntuple) instead of in the first\n"
           "                input's format; inputs of both formats may be chained\n"
           "  -h, --help    print this help and exit\n"
           "\n"
           "Exit status: 0 after a complete run, 1 when an input or the output fails (OUTPUT is\n"
           "then left as it was), 2 for a command line that cannot be run, 128+N when ended by\n"
           "signal N (OUTPUT left as it was).\n";
}

}  // namespace skim
