// treeconvert [--to rntuple|ttree] [--tree NAME] INPUT OUTPUT: converts a tree of
// count-indexed arrays into an RNTuple laid out as the framework's importer lays it out,
// and such an RNTuple back into its tree.
// Any fault: one line on standard error naming the file, exit status 1, no OUTPUT.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "cli/program.h"
#include "rootio/file/root_file.h"
#include "rootio/format/printable.h"
#include "ntuple_to_tree.h"
#include "tree_to_ntuple.h"

namespace {

constexpr const char* kUsage = "usage: treeconvert [--to rntuple|ttree] [--tree NAME] INPUT OUTPUT\n";

constexpr const char* kHelp =
    "Converts the tree NAME (default Events) of INPUT into an RNTuple of the same name in\n"
    "OUTPUT, compressed with INPUT's setting. Each scalar branch becomes a top-level field of\n"
    "its type; the arrays sharing a count branch become one untyped collection (_collectionN)\n"
    "holding them under their branch names, plus top-level ROOT::VecOps::RVec<T> fields\n"
    "projected from it under the same names; the count stays under its name, as a projected\n"
    "ROOT::RNTupleCardinality<std::uint64_t> field for a 64-bit count and\n"
    "ROOT::RNTupleCardinality<std::uint32_t> for any other. Fixed-size arrays and branches\n"
    "of objects are refused.\n"
    "\n"
    "With --to ttree (the default for an RNTuple) the RNTuple NAME goes back into a tree:\n"
    "fundamental fields as scalar branches, projected RVec fields as arrays counted by their\n"
    "collection's cardinality field, or, where it has none (the framework's importer keeps\n"
    "none), by a UInt_t branch named n + the arrays' common prefix.\n"
    "\n"
    "  --to rntuple  convert a tree into an RNTuple (the default for a tree)\n"
    "  --to ttree    convert an RNTuple into a tree (the default for an RNTuple)\n"
    "  --tree NAME   the tree (or dir/tree) to convert instead of Events\n"
    "  --help        show this text\n"
    "\n"
    "A missing, corrupt or unconvertible input ends the run with one line naming the file\n"
    "(and the branch), exit status 1, and no OUTPUT.\n";

[[noreturn]] void usage_error(const std::string& what)
{
    cli::usage_error("treeconvert", what, kUsage);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string tree = "Events";
    std::string to;
    std::vector<std::string> paths;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (options_done || a.empty() || a[0] != '-' || a == "-") {
            paths.push_back(a);
        } else if (a == "--") {
            options_done = true;
        } else if (cli::is_help(a)) {
            cli::show_help("treeconvert", std::string(kUsage) + kHelp);
        } else if (a == "--tree") {
            if (i + 1 >= argc) usage_error("--tree needs a NAME");
            tree = argv[++i];
        } else if (a == "--to") {
            if (i + 1 >= argc) usage_error("--to needs rntuple or ttree");
            to = argv[++i];
            if (to != "rntuple" && to != "ttree") usage_error("--to takes rntuple or ttree, not " + to);
        } else {
            usage_error("unknown option " + a);
        }
    }
    if (paths.size() != 2) usage_error("expected INPUT and OUTPUT");
    const std::string& input = paths[0];
    const std::string& output = paths[1];

    try {
        if (to.empty()) {
            const std::unique_ptr<rootio::RootFile> in = rootio::RootFile::open(input);
            const auto key = in->find_path(tree);
            to = key && key->class_name == "ROOT::RNTuple" ? "ttree" : "rntuple";
        }
        if (to == "ttree") {
            const convert::ConvertCounts counts = convert::ntuple_to_tree(input, output, tree);
            std::printf("%s: %lld entries, %d branches, %d of them arrays' counts\n", output.c_str(),
                        static_cast<long long>(counts.entries), counts.fields, counts.collections);
        } else {
            const convert::ConvertCounts counts = convert::tree_to_ntuple(input, output, tree);
            std::printf("%s: %lld entries, %d top-level fields, %d collections\n", output.c_str(),
                        static_cast<long long>(counts.entries), counts.fields, counts.collections);
        }
    } catch (const std::exception& e) {
        cli::print_error("treeconvert", e.what());
        return 1;
    }
    return cli::standard_output_status("treeconvert");
}
