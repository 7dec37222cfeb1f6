// treemerge OUTPUT INPUT...: concatenates the Events trees (or RNTuples) of files of the
// same structure, copying their compressed baskets (pages) unchanged. Any fault: one line on standard error naming
// the file, exit status 1, no OUTPUT.
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "cli/program.h"
#include "rootio/file/merge_inputs.h"
#include "rootio/file/root_file.h"
#include "rootio/format/error.h"
#include "rootio/format/printable.h"
#include "rootio/ntuple/format_constants.h"
#include "rootio/ntuple/ntuple_merger.h"
#include "rootio/tree/tree_merger.h"

namespace {

constexpr const char* kUsage = "usage: treemerge [--tree NAME] OUTPUT INPUT...\n";

constexpr const char* kHelp =
    "Concatenates the Events trees of INPUT files into OUTPUT, entries in input order.\n"
    "The inputs must have the same structure: the same branches, in the same order, with the\n"
    "same types and counts; inputs without entries are fine. Compressed baskets are copied\n"
    "unchanged, never decompressed or recompressed. Only the tree is written: other top-level\n"
    "keys of the inputs (histograms, other trees) are not copied.\n"
    "When the inputs hold an RNTuple of that name instead, of the same structure (the same\n"
    "fields, types, columns and encodings), its compressed pages are copied unchanged and\n"
    "only the page list, footer and anchor are written anew. Trees and RNTuples are not\n"
    "merged together.\n"
    "\n"
    "  --tree NAME   merge the tree NAME instead of Events\n"
    "  --help        show this text\n"
    "\n"
    "A missing, corrupt or mismatched input ends the run with one line naming the file (and\n"
    "the branch), exit status 1, and no OUTPUT.\n";

// Tells the formats of the inputs apart as the merge opens them: the first input's key
// decides; a later input holding the other format is refused (trees and RNTuples are not
// merged together). A missing key is left for the merge to report.
class FormatCheck {
public:
    FormatCheck(const std::vector<std::string>& inputs, const std::string& name) : inputs_(inputs), name_(name) {}

    bool first_is_rntuple() const { return first_is_rntuple_; }

    void operator()(size_t i, const rootio::RootFile& file)
    {
        const auto key = file.find_path(name_);
        const bool rntuple = key && key->class_name == rootio::ntuple::kAnchorClassName;
        if (i == 0) first_is_rntuple_ = rntuple;
        else if (key && rntuple != first_is_rntuple_)
            rootio::fail(inputs_[i], "",
                         rootio::printable(name_) + " is " + (rntuple ? "an RNTuple" : "a " + key->class_name) +
                             " where " + rootio::printable(inputs_[0]) + " holds " +
                             (first_is_rntuple_ ? "an RNTuple" : "a tree") +
                             ": trees and RNTuples are not merged together");
    }

private:
    const std::vector<std::string>& inputs_;
    const std::string& name_;
    bool first_is_rntuple_ = false;
};

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
        // Each input is opened once: the file its format was told from is the one merged.
        FormatCheck formats(inputs, tree);
        rootio::MergeInputs opened(inputs, std::ref(formats));
        opened.for_check(0);
        if (formats.first_is_rntuple()) {
            const rootio::ntuple::NtupleMergeCounts counts = rootio::ntuple::merge_ntuples(output, opened, tree);
            std::printf("%s: %llu entries from %zu inputs, %llu pages copied\n", output.c_str(),
                        static_cast<unsigned long long>(counts.entries), inputs.size(),
                        static_cast<unsigned long long>(counts.pages_copied));
            return cli::standard_output_status("treemerge");
        }
        const rootio::MergeCounts counts = rootio::merge_trees(output, opened, tree);
        std::printf("%s: %lld entries from %zu inputs, %lld baskets copied\n", output.c_str(),
                    static_cast<long long>(counts.entries), inputs.size(), static_cast<long long>(counts.baskets_copied));
    } catch (const std::exception& e) {
        cli::print_error("treemerge", e.what());
        return 1;
    }
    return cli::standard_output_status("treemerge");
}
