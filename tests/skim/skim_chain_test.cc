// The skim over several inputs: the chain reads them in command-line order, and its output
// holds the selected events of each file in turn, as the skims of the single files do.
// Every input is checked before the first entry is read: a bad one ends the run with its
// name, having printed and written nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "framework/scratch_dir.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"
#include "skim/event_files.h"
#include "skim/generated_events.h"
#include "skim/run_program.h"

namespace {

using namespace skimtest;
namespace fs = std::filesystem;

// The event numbers stored in the "event" branch of a skim output, in entry order.
std::vector<uint64_t> event_numbers(const std::string& path)
{
    const auto file = rootio::RootFile::open(path);
    const rootio::TreeInfo tree = rootio::read_tree(*file, "Events");
    rootio::BranchReader reader(*file, tree, tree.find_branch("event"));
    std::vector<uint64_t> numbers;
    for (int64_t i = 0; i < tree.entries; ++i) {
        const auto bytes = reader.entry_bytes(i);
        uint64_t v = 0;
        for (uint8_t b : bytes) v = v << 8 | b;
        numbers.push_back(v);
    }
    return numbers;
}

class SkimChain : public ::testing::Test {
protected:
    RunResult skim(const std::vector<std::string>& arguments) const
    {
        return run_program(skim_program(), dir.path().string(), {}, arguments);
    }
    // Generated files with disjoint event numbers, so the output shows where each entry came from.
    void write_inputs(const std::vector<std::string>& names, uint64_t events_each) const
    {
        uint64_t first = 1;
        for (const std::string& name : names) {
            fs::create_directories(fs::path(dir.file(name)).parent_path());
            write_event_file(dir.file(name), EventGenerator(first).events(events_each, first));
            first += events_each;
        }
    }
    // What skimming each file on its own selects, in the given order.
    std::vector<uint64_t> selected_one_by_one(const std::vector<std::string>& names) const
    {
        std::vector<uint64_t> all;
        for (const std::string& name : names) {
            const RunResult r = skim({"-o", "single.root", name});
            EXPECT_EQ(r.exit_status, 0) << r.err;
            const std::vector<uint64_t> got = event_numbers(dir.file("single.root"));
            EXPECT_FALSE(got.empty()) << name;
            all.insert(all.end(), got.begin(), got.end());
        }
        fs::remove(dir.file("single.root"));
        return all;
    }

    // The run failed before its loop with exactly `line` on standard error.
    void expect_refused(const RunResult& r, const std::string& line) const
    {
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.err, "skim: " + line + "\n");
        EXPECT_EQ(r.out, "") << "no entry may be processed";
        EXPECT_FALSE(fs::exists(dir.file("out.root")));
    }

    testutil::ScratchDir dir;
};

TEST_F(SkimChain, InputsAreReadInCommandLineOrderWithPatternsInNameOrder)
{
    write_inputs({"data/c.root", "data/a.root", "data/b.root", "extra.root"}, 1500);
    std::ofstream(dir.file("list.txt")) << "# first the extra file\nextra.root\n\n";
    const RunResult r = skim({"-o", "out.root", "@list.txt", "data/*.root"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(dir.file("output.root")));
    EXPECT_EQ(event_numbers(dir.file("out.root")),
              selected_one_by_one({"extra.root", "data/a.root", "data/b.root", "data/c.root"}));
}

TEST_F(SkimChain, ABadInputAnywhereInTheChainEndsTheRunBeforeTheLoop)
{
    write_inputs({"a.root", "c.root"}, 300);
    std::ofstream(dir.file("junk.root")) << std::string(400, 'j');
    FileOptions runs_only;
    runs_only.tree_name = "Runs";
    write_event_file(dir.file("runs.root"), {passing_event(1)}, runs_only);

    expect_refused(skim({"-o", "out.root", "a.root", "c.root", "gone.root"}),
                   "gone.root: cannot open: No such file or directory");
    expect_refused(skim({"-o", "out.root", "a.root", "junk.root", "c.root"}),
                   "junk.root: not a ROOT file (no 'root' magic)");
    expect_refused(skim({"-o", "out.root", "a.root", "runs.root"}), "runs.root: no object named \"Events\"");
}

TEST_F(SkimChain, KeptBranchesMustMatchTheFirstFileButOtherBranchesMayDiffer)
{
    FileOptions no_photons, no_vertices, no_jet_pt, double_met_phi;
    no_photons.omit_branch = "Photon_pt";  // not kept: absent from the first file only
    no_vertices.omit_branch = "PV_npvs";   // not kept: absent from the second file only
    no_jet_pt.omit_branch = "Jet_pt";      // kept
    double_met_phi.double_met_phi = true;  // kept
    write_event_file(dir.file("a.root"), EventGenerator(1).events(400), no_photons);
    write_event_file(dir.file("b.root"), EventGenerator(2).events(400, 401), no_vertices);
    write_event_file(dir.file("c.root"), EventGenerator(3).events(400, 801), no_jet_pt);
    write_event_file(dir.file("d.root"), EventGenerator(4).events(400, 1201), double_met_phi);

    const RunResult ok = skim({"-o", "out.root", "a.root", "b.root"});
    EXPECT_EQ(ok.exit_status, 0) << ok.err;
    EXPECT_EQ(ok.err, "");

    fs::remove(dir.file("out.root"));
    expect_refused(skim({"-o", "out.root", "a.root", "b.root", "c.root"}),
                   "c.root: branch Jet_pt is missing (a.root has it and the skim keeps it)");
    expect_refused(skim({"-o", "out.root", "b.root", "d.root"}),
                   "d.root: branch MET_phi is MET_phi/D here but MET_phi/F in b.root");
}

}  // namespace
