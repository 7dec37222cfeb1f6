// treedump FILE                      every key: path, class, cycle; keys in a subdirectory follow
//                                    it as DIR/NAME (DIR/SUB/NAME deeper down)
// treedump FILE TREE                 entry count, then per branch: name, type letter, count
//                                    (TREE may be a path: DIR/TREE)
// treedump FILE TREE --json [--first N] [--count M] [--branch NAME]...
//                                    one JSON object per entry
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/program.h"
#include "json_values.h"
#include "ntuple_dump.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"

namespace {

struct Options {
    std::string file;
    std::string tree;
    bool json = false;
    int64_t first = 0;
    int64_t count = -1;
    std::vector<std::string> branches;
};

constexpr std::string_view kUsage =
    "usage: treedump FILE [TREE [--json [--first N] [--count M] [--branch NAME]...]]\n"
    "Lists the keys of a ROOT file (name, class, cycle), the branches of one of its trees\n"
    "(name, type letter, count branch), or its entries as one JSON object per line.\n"
    "\n"
    "  --json           entries as JSON, every readable branch unless --branch is given\n"
    "  --first N        start at entry N (default 0)\n"
    "  --count M        at most M entries (default all)\n"
    "  --branch NAME    this branch (repeatable; tree order, each once)\n"
    "  --help           this text\n";

[[noreturn]] void usage(const std::string& what)
{
    cli::usage_error("treedump", what, kUsage);
}

int64_t parse_count(const char* flag, const char* text)
{
    int64_t v = 0;
    const std::string_view s(text);
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size() || v < 0)
        usage(std::string(flag) + " needs a non-negative number, got '" + text + "'");
    return v;
}

Options parse_args(int argc, char** argv)
{
    Options o;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) usage(a + " needs a value");
            return argv[++i];
        };
        if (cli::is_help(a)) cli::show_help("treedump", kUsage);
        else if (a == "--json") o.json = true;
        else if (a == "--first") o.first = parse_count("--first", value());
        else if (a == "--count") o.count = parse_count("--count", value());
        else if (a == "--branch") o.branches.emplace_back(value());
        else if (a.starts_with("--")) usage("unknown option " + a);
        else positional.push_back(a);
    }
    if (positional.empty() || positional.size() > 2) usage("expected FILE [TREE]");
    o.file = positional[0];
    if (positional.size() == 2) o.tree = positional[1];
    if ((o.json || !o.branches.empty() || o.first || o.count >= 0) && o.tree.empty())
        usage("--json and its options need a TREE");
    return o;
}

void list_keys(const rootio::RootFile& file)
{
    for (const rootio::PathKey& k : file.all_keys())
        std::cout << k.path << ' ' << k.key.class_name << ' ' << k.key.cycle << '\n';
}

void list_branches(const rootio::TreeInfo& tree)
{
    std::cout << "entries " << tree.entries << '\n';
    for (const rootio::BranchInfo& b : tree.branches) {
        std::cout << b.name << ' ';
        if (!b.is_supported()) {
            std::cout << "unsupported: " << b.unsupported << '\n';
            continue;
        }
        std::cout << rootio::leaf_type_letter(b.leaf.type) << ' ';
        if (b.count_branch >= 0)
            std::cout << tree.branches[static_cast<size_t>(b.count_branch)].name;
        else
            std::cout << '-';
        if (b.leaf.len > 1) std::cout << " [" << b.leaf.len << ']';
        std::cout << '\n';
    }
}

void dump_json(const rootio::RootFile& file, const rootio::TreeInfo& tree, const Options& o)
{
    std::vector<int> selected;
    if (o.branches.empty()) {
        for (size_t i = 0; i < tree.branches.size(); ++i)
            if (tree.branches[i].is_supported()) selected.push_back(static_cast<int>(i));
    } else {
        // Tree order, each branch once, however often it was asked for.
        for (size_t i = 0; i < tree.branches.size(); ++i)
            if (std::find(o.branches.begin(), o.branches.end(), tree.branches[i].name) != o.branches.end())
                selected.push_back(static_cast<int>(i));
        for (const std::string& name : o.branches)
            if (tree.find_branch(name) < 0) rootio::fail(file.path(), "tree " + tree.name, "no branch named '" + name + "'");
    }
    std::vector<rootio::BranchReader> readers;
    readers.reserve(selected.size());
    for (int i : selected) readers.emplace_back(file, tree, i);

    const int64_t first = std::min(o.first, tree.entries);
    const int64_t end = o.count < 0 ? tree.entries : std::min(tree.entries, first + o.count);
    std::string line;
    for (int64_t entry = first; entry < end; ++entry) {
        line.clear();
        line += '{';
        for (size_t r = 0; r < readers.size(); ++r) {
            const rootio::BranchInfo& b = readers[r].info();
            if (r) line += ',';
            treedump::append_key(line, b.name);
            treedump::append_value(line, b.leaf.type, b.leaf.len > 1 || b.count_branch >= 0, readers[r].entry_bytes(entry));
        }
        line += "}\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const Options o = parse_args(argc, argv);
    try {
        auto file = rootio::RootFile::open(o.file);
        if (o.tree.empty()) {
            list_keys(*file);
        } else if (treedump::is_ntuple(*file, o.tree)) {
            const auto ntuple = rootio::ntuple::NtupleReader::open(*file, o.tree);
            if (o.json)
                treedump::dump_fields_json(*ntuple, o.first, o.count, o.branches);
            else
                treedump::list_fields(*ntuple);
        } else {
            const rootio::TreeInfo tree = rootio::read_tree(*file, o.tree);
            if (o.json)
                dump_json(*file, tree, o);
            else
                list_branches(tree);
        }
    } catch (const std::exception& e) {
        std::cout.flush();
        cli::print_error("treedump", e.what());
        return 1;
    }
    return cli::standard_output_status("treedump");
}
