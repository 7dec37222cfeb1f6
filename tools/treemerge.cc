// treemerge OUTPUT INPUT...: concatenates the Events trees of files of the same structure,
// copying their compressed baskets unchanged. Any fault: one line on standard error naming
// the file, exit status 1, no OUTPUT.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli/program.h"
#include "rootio/tree/tree_merger.h"

namespace {

constexpr const char* kUsage = "usage: treemerge [--tree NAME] OUTPUT INPUT...\n";

constexpr const char* kHelp =
    "Concatenates the Events trees of INPUT files into OUTPUT, entries in input order.\n"
    "The inputs must have the same structure: the same branches, in the same order, with the\n"
    "same types and counts; inputs without entries are fine. Compressed baskets are copied\n"
    "unchanged, never decompressed or recompressed. Only the tree is written: other top-level\n"
    "keys of the inputs (histograms, other trees) are not copied.\n"
    "\n"
    "  --tree NAME   merge the tree NAME instead of Events\n"
    "  --help        show this text\n"
    "\n"
    "A missing, corrupt or mismatched input ends the run with one line naming the file (and\n"
    "the branch), exit status 1, and no OUTPUT.\n";

[[noreturn]] void usage_error(const std::string& what)
{
    cli::usage_error("treemerge", what, kUsage);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string tree = "Events";
    std::vector<std::string> paths;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (options_done || a.empty() || a[0] != '-' || a == "-") {
            paths.push_back(a);
        } else if (a == "--") {
            options_done = true;
        } else if (cli::is_help(a)) {
            cli::show_help("treemerge", std::string(kUsage) + kHelp);
        } else if (a == "--tree") {
            if (i + 1 >= argc) usage_error("--tree needs a NAME");
            tree = argv[++i];
        } else {
            usage_error("unknown option " + a);
        }
    }
    if (paths.size() < 2) usage_error("expected OUTPUT and at least one INPUT");

    const std::string output = paths.front();
    const std::vector<std::string> inputs(paths.begin() + 1, paths.end());
    try {
        const rootio::MergeCounts counts = rootio::merge_trees(output, inputs, tree);
        std::printf("%s: %lld entries from %zu inputs, %lld baskets copied\n", output.c_str(),
                    static_cast<long long>(counts.entries), inputs.size(), static_cast<long long>(counts.baskets_copied));
    } catch (const std::exception& e) {
        cli::print_error("treemerge", e.what());
        return 1;
    }
    return cli::standard_output_status("treemerge");
}
