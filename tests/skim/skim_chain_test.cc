// The skim over several inputs: the chain reads them in command-line order, and its output
// holds the selected events of each file in turn, as the skims of the single files do.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "framework/scratch_dir.h"
#include "rootio/branch_reader.h"
#include "rootio/bytes.h"
#include "rootio/root_file.h"
#include "rootio/tree_reader.h"
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

}  // namespace
