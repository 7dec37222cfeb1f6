// The skim at several thread counts: the same output bytes, the same failures. Baskets are
// read ahead and decoded on worker threads, so a damaged basket must fail the run exactly
// when a sequential run would read it, and never when it would not; an RNTuple's damaged
// pages fail it as a sequential run would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "framework/scratch_dir.h"
#include "rootio/file/root_file.h"
#include "rootio/ntuple/ntuple_reader.h"
#include "rootio/tree/tree_reader.h"
#include "skim/event_files.h"
#include "skim/generated_events.h"
#include "skim/run_program.h"
#include "tree_to_ntuple.h"

namespace {

using namespace skimtest;
namespace fs = std::filesystem;

constexpr const char* kInputName = "example_RunIISummer20UL18.root";
constexpr int64_t kCluster = 400;

std::string read_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void write_bytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct ThreadRun {
    RunResult result;
    std::string output;  // output.root's bytes, empty when there is none
    bool output_exists = false;
};

// Runs the skim on `input` in a folder of its own with SKIM_THREADS=threads.
ThreadRun run_with_threads(const testutil::ScratchDir& dir, const std::string& input, int threads)
{
    const fs::path folder = dir.path() / ("threads-" + std::to_string(threads));
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(input, folder / kInputName);
    // Set here, not in the child: the child of a threaded process must not allocate.
    ::setenv("SKIM_THREADS", std::to_string(threads).c_str(), 1);
    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    ThreadRun run;
    run.result = run_program(skim_program(), folder.string());
    ::unsetenv("SKIM_THREADS");
    ::unsetenv("SOURCE_DATE_EPOCH");
    run.output_exists = fs::exists(folder / "output.root");
    if (run.output_exists) run.output = read_bytes(folder / "output.root");
    return run;
}

// `count` events numbered from `number`; those at multiples of `pass_every` pass, the others
// have no lepton.
std::vector<Event> events_passing_every(size_t count, size_t pass_every, uint64_t number)
{
    std::vector<Event> events;
    for (size_t i = 0; i < count; ++i) {
        events.push_back(passing_event(number + i));
        if (i % pass_every != 0) events.back().electrons.clear();
    }
    return events;
}

class SkimThreads : public ::testing::Test {
protected:
    std::string input() const { return dir.file("input.root"); }
    // Flips the last bytes of `branch`'s basket number `basket`: the end of its compressed
    // payload, where zlib keeps its checksum.
    void damage_basket(const std::string& branch, int basket) const
    {
        int64_t seek = 0;
        int32_t nbytes = 0;
        {
            const auto file = rootio::RootFile::open(input());
            const auto tree = rootio::read_tree(*file, "Events");
            const auto& b = tree.branches.at(static_cast<size_t>(tree.find_branch(branch)));
            ASSERT_GT(b.write_basket(), basket);
            seek = b.basket_seek.at(static_cast<size_t>(basket));
            nbytes = b.basket_bytes.at(static_cast<size_t>(basket));
        }
        std::string bytes = read_bytes(input());
        for (int64_t i = seek + nbytes - 6; i < seek + nbytes; ++i) bytes[static_cast<size_t>(i)] ^= 0x5a;
        write_bytes(input(), bytes);
    }
    testutil::ScratchDir dir;
};

// Runs at 2 and 4 threads fail as the one-thread run `one` did: the same message and
// standard output, no output file.
void expect_the_same_failure_with_more_threads(const testutil::ScratchDir& dir, const std::string& input,
                                               const ThreadRun& one)
{
    for (int threads : {2, 4}) {
        const ThreadRun run = run_with_threads(dir, input, threads);
        SCOPED_TRACE(std::to_string(threads) + " threads");
        EXPECT_EQ(run.result.signal, 0);
        EXPECT_EQ(run.result.exit_status, 1);
        EXPECT_EQ(run.result.err, one.result.err);
        EXPECT_EQ(run.result.out, one.result.out);
        EXPECT_FALSE(run.output_exists);
    }
}

// A tree's baskets are decoded a cluster ahead; an RNTuple's columns are shared out among
// the workers cluster by cluster.
TEST_F(SkimThreads, OutputIsByteIdenticalAtEveryThreadCount)
{
    FileOptions opt;
    opt.cluster = kCluster;
    opt.compression = 209;
    write_event_file(input(), EventGenerator(17).events(2400), opt);
    const std::string ntuple = dir.file("ntuple.root");
    convert::tree_to_ntuple(input(), ntuple, "Events");
    for (const std::string& in : {input(), ntuple}) {
        SCOPED_TRACE(in);
        const ThreadRun one = run_with_threads(dir, in, 1);
        ASSERT_EQ(one.result.exit_status, 0) << one.result.err;
        ASSERT_TRUE(one.output_exists);
        ASSERT_GT(one.result.out.size(), 30u * 3) << "too few selected events to tell anything";
        for (int threads : {2, 4}) {
            const ThreadRun many = run_with_threads(dir, in, threads);
            SCOPED_TRACE(std::to_string(threads) + " threads");
            EXPECT_EQ(many.result.exit_status, 0) << many.result.err;
            EXPECT_EQ(many.result.out, one.result.out);
            EXPECT_TRUE(many.output == one.output) << "output.root differs from the one-thread run";
        }
    }
}

// Jet_btagDeepFlavB is kept but not read by the selection: its baskets are read only for
// clusters holding a selected event. Clusters 0 and 2 hold one; cluster 1 none.
TEST_F(SkimThreads, ADamagedBasketNoSelectedEventNeedsDoesNotFailTheRun)
{
    FileOptions opt;
    opt.cluster = kCluster;
    std::vector<Event> events = events_passing_every(3 * kCluster, 3 * kCluster, 1);
    events[2 * kCluster + 7] = passing_event(2 * kCluster + 8);
    write_event_file(input(), events, opt);
    const ThreadRun intact = run_with_threads(dir, input(), 1);
    ASSERT_EQ(intact.result.exit_status, 0) << intact.result.err;
    damage_basket("Jet_btagDeepFlavB", 1);
    for (int threads : {1, 2, 4}) {
        const ThreadRun run = run_with_threads(dir, input(), threads);
        SCOPED_TRACE(std::to_string(threads) + " threads");
        EXPECT_EQ(run.result.exit_status, 0) << run.result.err;
        EXPECT_EQ(run.result.err, "");
        EXPECT_TRUE(run.output == intact.output);
    }
}

// Jet_btagDeepFlavB's basket 1 is fetched for the first selected entry of cluster 1, 485
// (every 97th entry passes): each thread count fails there with the same message, the same
// standard output and no output file.
TEST_F(SkimThreads, ADamagedBasketASelectedEventNeedsFailsTheSameWayAtEveryThreadCount)
{
    FileOptions opt;
    opt.cluster = kCluster;
    write_event_file(input(), events_passing_every(3 * kCluster, 97, 1), opt);
    damage_basket("Jet_btagDeepFlavB", 1);
    const ThreadRun one = run_with_threads(dir, input(), 1);
    EXPECT_EQ(one.result.exit_status, 1);
    EXPECT_EQ(one.result.err.rfind(std::string("skim: ") + kInputName + ": branch Jet_btagDeepFlavB", 0), 0u)
        << one.result.err;
    EXPECT_NE(one.result.err.find("entry 485)"), std::string::npos) << one.result.err;
    EXPECT_EQ(std::count(one.result.err.begin(), one.result.err.end(), '\n'), 1) << one.result.err;
    EXPECT_FALSE(one.output_exists);
    expect_the_same_failure_with_more_threads(dir, input(), one);
}

// An RNTuple cluster's columns go to whichever worker is free, the largest first. With a
// page of HLT_IsoMu24 (small, early in field order) and one of Jet_btagDeepFlavB (larger,
// later) damaged, every thread count fails on HLT_IsoMu24, with the same message.
TEST_F(SkimThreads, TwoDamagedPagesFailOnTheFirstFieldAtEveryThreadCount)
{
    write_event_file(input(), events_passing_every(3 * kCluster, 97, 1), FileOptions{});
    const std::string ntuple = dir.file("ntuple.root");
    convert::tree_to_ntuple(input(), ntuple, "Events");
    std::vector<rootio::ntuple::Locator> pages;
    {
        const auto file = rootio::RootFile::open(ntuple);
        const auto reader = rootio::ntuple::NtupleReader::open(*file, "Events");
        const rootio::ntuple::Descriptor& d = reader->descriptor();
        for (const char* name : {"HLT_IsoMu24", "Jet_btagDeepFlavB"})
            for (const rootio::ntuple::ColumnDescriptor& c : d.columns)
                if (d.fields[c.field].name == name) pages.push_back(d.clusters.at(0).columns.at(c.id).pages.at(0).locator);
    }
    ASSERT_EQ(pages.size(), 2u);
    std::string bytes = read_bytes(ntuple);
    for (const rootio::ntuple::Locator& page : pages) bytes[page.offset + page.size / 2] ^= 0x5a;
    write_bytes(ntuple, bytes);

    const ThreadRun one = run_with_threads(dir, ntuple, 1);
    EXPECT_EQ(one.result.exit_status, 1);
    EXPECT_NE(one.result.err.find("HLT_IsoMu24"), std::string::npos) << one.result.err;
    EXPECT_NE(one.result.err.find("checksum"), std::string::npos) << one.result.err;
    EXPECT_FALSE(one.output_exists);
    expect_the_same_failure_with_more_threads(dir, ntuple, one);
}

}  // namespace
