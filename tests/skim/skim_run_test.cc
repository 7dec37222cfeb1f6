// The skim program end to end on generated inputs: its standard output byte for byte, its
// exit status, and output.root read back with the engine: exactly the kept branches in
// input order, and for each output entry the raw bytes of the input entry the selection
// picks when called directly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Heron.h"
#include "TFile.h"
#include "TTree.h"
#include "framework/scratch_dir.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"
#include "selection.h"
#include "skim/event_files.h"
#include "skim/generated_events.h"
#include "skim/run_program.h"

namespace {

using namespace skimtest;

constexpr const char* kInputName = "example_RunIISummer20UL18.root";
constexpr const char* kEventLines = "getting entry\nfilling output_tree\ndone\n";

// Entries of `path` that the selection passes, calling it as the driver does.
std::vector<int64_t> selected_entries(const std::string& path)
{
    TFile file(path.c_str());
    auto* tree = static_cast<TTree*>(file.Get("Events"));
    nt.Init(tree);
    std::vector<LorentzVector> veto_lep_p4s, tight_lep_p4s;
    std::vector<int64_t> selected;
    for (unsigned int event = 0; event < tree->GetEntriesFast(); ++event) {
        nt.GetEntry(event);
        LorentzVector lep_p4;
        if (passes_lepton_selection(veto_lep_p4s, tight_lep_p4s, lep_p4) && passes_jet_selection(lep_p4))
            selected.push_back(event);
    }
    nt.Init(nullptr);
    return selected;
}

std::string repeated(const std::string& s, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

// output.root holds tree Events with exactly the kept branches of the input, in input order,
// with the input's structure, and entry j equal byte for byte to input entry picked[j].
void expect_output_copies(const std::string& input, const std::string& output, const std::vector<int64_t>& picked)
{
    const auto in_file = rootio::RootFile::open(input);
    const auto out_file = rootio::RootFile::open(output);
    const rootio::TreeInfo in_tree = rootio::read_tree(*in_file, "Events");
    const rootio::TreeInfo out_tree = rootio::read_tree(*out_file, "Events");

    std::vector<std::string> names;
    for (const auto& b : out_tree.branches) names.push_back(b.name);
    ASSERT_EQ(names, kept_branches());
    ASSERT_EQ(out_tree.entries, static_cast<int64_t>(picked.size()));
    EXPECT_EQ(out_tree.title, in_tree.title);

    for (size_t b = 0; b < out_tree.branches.size(); ++b) {
        const rootio::BranchInfo& got = out_tree.branches[b];
        const int in_index = in_tree.find_branch(got.name);
        const rootio::BranchInfo& want = in_tree.branches[in_index];
        EXPECT_EQ(got.title, want.title);
        EXPECT_EQ(got.leaf.type, want.leaf.type) << got.name;
        EXPECT_EQ(got.leaf.count_leaf, want.leaf.count_leaf) << got.name;
        if (picked.empty()) continue;
        rootio::BranchReader in_reader(*in_file, in_tree, in_index);
        rootio::BranchReader out_reader(*out_file, out_tree, static_cast<int>(b));
        for (size_t j = 0; j < picked.size(); ++j) {
            const auto in_bytes = in_reader.entry_bytes(picked[j]);
            const std::vector<uint8_t> want_bytes(in_bytes.begin(), in_bytes.end());
            const auto out_bytes = out_reader.entry_bytes(static_cast<int64_t>(j));
            ASSERT_EQ(std::vector<uint8_t>(out_bytes.begin(), out_bytes.end()), want_bytes)
                << got.name << " at output entry " << j;
        }
    }
}

class SkimRun : public ::testing::TestWithParam<int> {};

TEST_P(SkimRun, CopiesExactlyTheSelectedEntriesWithTheKeptBranches)
{
    testutil::ScratchDir dir;
    const std::string input = dir.file(kInputName);
    FileOptions options;
    options.compression = GetParam();
    write_event_file(input, EventGenerator(17).events(4000), options);
    const std::vector<int64_t> picked = selected_entries(input);
    // A few per cent pass: enough to copy, few enough that the rejections are exercised.
    ASSERT_GT(picked.size(), 40u);
    ASSERT_LT(picked.size(), 400u);

    const RunResult run = run_program(skim_program(), dir.path().string());
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    // Three lines per selected event, then the bar's closing newline (it draws nothing
    // else when standard output is not a terminal).
    EXPECT_EQ(run.out, repeated(kEventLines, picked.size()) + "\n");
    expect_output_copies(input, dir.file("output.root"), picked);
}

INSTANTIATE_TEST_SUITE_P(Codecs, SkimRun, ::testing::Values(101, 209, 404, 505, 0),
                         [](const auto& test_info) { return "setting" + std::to_string(test_info.param); });

TEST(SkimRunEdges, NoSelectedEventGivesAnEmptyTreeWithTheKeptBranches)
{
    testutil::ScratchDir dir;
    const std::string input = dir.file(kInputName);
    std::vector<Event> events = EventGenerator(3).events(300);
    for (Event& e : events) e.met_pt = -1000;  // ST can never reach 800
    write_event_file(input, events);
    ASSERT_TRUE(selected_entries(input).empty());

    const RunResult run = run_program(skim_program(), dir.path().string());
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, "\n");
    EXPECT_EQ(run.err, "");
    expect_output_copies(input, dir.file("output.root"), {});
}

TEST(SkimRunEdges, AnInputWithNoEntriesGivesAnEmptyOutput)
{
    testutil::ScratchDir dir;
    write_event_file(dir.file(kInputName), {});
    const RunResult run = run_program(skim_program(), dir.path().string());
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, "\n");
    expect_output_copies(dir.file(kInputName), dir.file("output.root"), {});
}

TEST(SkimRunEdges, AnExistingOutputIsReplaced)
{
    testutil::ScratchDir dir;
    const std::string input = dir.file(kInputName);
    write_event_file(input, {passing_event(1), passing_event(2)});
    {
        std::FILE* old = std::fopen(dir.file("output.root").c_str(), "w");
        std::fputs(std::string(100000, 'x').c_str(), old);
        std::fclose(old);
    }
    const RunResult run = run_program(skim_program(), dir.path().string());
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, repeated(kEventLines, 2) + "\n");
    expect_output_copies(input, dir.file("output.root"), {0, 1});
}

// Not a check: writes a generated input for tools outside this binary (the interop test
// compares a skim of it as read by another ROOT reader).
//   SKIM_WRITE_INPUT=PATH [SKIM_WRITE_EVENTS=N] skim_tests --gtest_filter=GeneratedInput.*
TEST(GeneratedInput, WrittenWhenAsked)
{
    const char* path = std::getenv("SKIM_WRITE_INPUT");
    if (!path || !*path) GTEST_SKIP() << "set SKIM_WRITE_INPUT to write a generated input";
    const char* count = std::getenv("SKIM_WRITE_EVENTS");
    write_event_file(path, EventGenerator(29).events(count ? std::strtoull(count, nullptr, 10) : 5000));
    EXPECT_TRUE(std::filesystem::exists(path));
}

}  // namespace
