// The skim of an RNTuple converted from a tree (tree_to_ntuple, the importer's layout):
// the same entries selected, the same standard output, and a tree identical in names,
// types and values to the skim of the tree itself: directly with --format ttree, and after
// converting back an RNTuple output (an RNTuple input's default, or --format rntuple).
// Chains may mix the formats; a field the selection reads is required up front as a branch is.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "framework/scratch_dir.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/tree/tree_reader.h"
#include "skim/event_files.h"
#include "skim/generated_events.h"
#include "skim/run_program.h"
#include "ntuple_to_tree.h"
#include "tree_to_ntuple.h"

namespace {

using namespace skimtest;

// Every branch of tree "Events": name, leaf list, and its entries' bytes, in order.
std::vector<std::string> tree_contents(const std::string& path)
{
    const auto file = rootio::RootFile::open(path);
    const rootio::TreeInfo tree = rootio::read_tree(*file, "Events");
    std::vector<std::string> out{"entries " + std::to_string(tree.entries)};
    for (size_t b = 0; b < tree.branches.size(); ++b) {
        std::string line = tree.branches[b].name + " " + tree.branches[b].title + ":";
        rootio::BranchReader reader(*file, tree, static_cast<int>(b));
        for (int64_t e = 0; e < tree.entries; ++e) {
            for (uint8_t byte : reader.entry_bytes(e)) line += std::to_string(byte) + ",";
            line += ';';
        }
        out.push_back(std::move(line));
    }
    return out;
}

class SkimNtupleInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        write_event_file(dir.file("tree.root"), EventGenerator(7).events(400));
        convert::tree_to_ntuple(dir.file("tree.root"), dir.file("ntuple.root"), "Events");
    }
    RunResult skim(const std::vector<std::string>& arguments) const
    {
        return run_program(skim_program(), dir.path().string(), {}, arguments);
    }
    testutil::ScratchDir dir;
};

TEST_F(SkimNtupleInput, SelectsAndCopiesAsTheTreeSkimDoes)
{
    const RunResult from_tree = skim({"-o", "from_tree.root", "tree.root"});
    ASSERT_EQ(from_tree.exit_status, 0) << from_tree.err;
    const std::vector<std::string> expected = tree_contents(dir.file("from_tree.root"));
    ASSERT_NE(expected.front(), "entries 0");  // the generated events include passing ones

    // Each run's output against the tree skim's; a chain's against the tree skim of the same chain.
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> tree_arguments;  // the same run on the tree input
        bool rntuple_output;
    };
    const std::vector<Case> cases = {
        {{"--format", "ttree", "ntuple.root"}, {"tree.root"}, false},
        {{"--format=ttree", "ntuple.root", "tree.root"}, {"tree.root", "tree.root"}, false},
        {{"tree.root", "ntuple.root"}, {"tree.root", "tree.root"}, false},  // a tree first: tree output
        {{"ntuple.root"}, {"tree.root"}, true},
        {{"ntuple.root", "tree.root"}, {"tree.root", "tree.root"}, true},  // an RNTuple first
        {{"--format", "rntuple", "tree.root"}, {"tree.root"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        std::vector<std::string> arguments = {"-o", "out.root"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        std::vector<std::string> tree_arguments = {"-o", "tree_out.root"};
        tree_arguments.insert(tree_arguments.end(), c.tree_arguments.begin(), c.tree_arguments.end());
        const RunResult r = skim(arguments);
        const RunResult t = skim(tree_arguments);
        ASSERT_EQ(r.exit_status, 0) << r.err;
        ASSERT_EQ(t.exit_status, 0) << t.err;
        EXPECT_EQ(r.out, t.out);
        std::string tree = dir.file("out.root");
        if (c.rntuple_output) {
            tree = dir.file("back.root");
            convert::ntuple_to_tree(dir.file("out.root"), tree, "Events");
        }
        EXPECT_EQ(tree_contents(tree), tree_contents(dir.file("tree_out.root")));
    }
}

TEST_F(SkimNtupleInput, RefusesAMissingSelectionFieldUpFront)
{
    EventGenerator generator(3);
    FileOptions options;
    options.omit_branch = "Jet_pt";
    write_event_file(dir.file("no_jet_pt.root"), generator.events(5), options);
    convert::tree_to_ntuple(dir.file("no_jet_pt.root"), dir.file("no_jet_pt_ntuple.root"), "Events");
    struct Case {
        std::vector<std::string> arguments;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{"--format", "ttree", "no_jet_pt_ntuple.root"}, "skim: no_jet_pt_ntuple.root: branch Jet_pt is missing (the event reader needs it)\n"},
        {{"ntuple.root", "no_jet_pt_ntuple.root"}, "skim: no_jet_pt_ntuple.root: branch Jet_pt is missing (ntuple.root has it and the skim keeps it)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        const RunResult r = skim(c.arguments);
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.err, c.error);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(std::filesystem::exists(dir.file("output.root")));
    }
}

}  // namespace
