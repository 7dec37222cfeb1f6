// The skim at several thread counts (SKIM_THREADS): the same output.root byte for byte and
// the same standard output; a write that fails ends every run with the same line.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "framework/scratch_dir.h"
#include "skim/event_files.h"
#include "skim/generated_events.h"
#include "skim/run_program.h"

namespace {

using namespace skimtest;
namespace fs = std::filesystem;

constexpr const char* kInputName = "example_RunIISummer20UL18.root";
constexpr int kThreadCounts[] = {1, 2, 4};

std::string read_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

RunResult run_with_threads(const testutil::ScratchDir& dir, int threads,
                           rlim_t file_size_limit = RLIM_INFINITY)
{
    return run_program(skim_program(), dir.path().string(), [threads, file_size_limit] {
        ::setenv("SKIM_THREADS", std::to_string(threads).c_str(), 1);
        ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
        if (file_size_limit != RLIM_INFINITY) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{file_size_limit, file_size_limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    });
}

TEST(SkimThreads, OutputIsTheSameBytesAtEveryThreadCount)
{
    testutil::ScratchDir dir;
    FileOptions options;
    options.compression = 209;
    write_event_file(dir.file(kInputName), EventGenerator(29).events(4000), options);
    RunResult first;
    std::string first_output;
    for (int threads : kThreadCounts) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const RunResult run = run_with_threads(dir, threads);
        ASSERT_EQ(run.exit_status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const std::string output = read_bytes(dir.file("output.root"));
        ASSERT_GT(output.size(), 1000u);
        if (threads == 1) {
            first = run;
            first_output = output;
            continue;
        }
        EXPECT_EQ(run.out, first.out);
        EXPECT_TRUE(output == first_output) << "output.root differs from the one-thread run";
    }
}

TEST(SkimThreads, DiskFullEndsEveryThreadCountWithTheSameLine)
{
    testutil::ScratchDir dir;
    write_event_file(dir.file(kInputName), EventGenerator(11).events(3000));
    std::string first_err;
    for (int threads : kThreadCounts) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const RunResult run = run_with_threads(dir, threads, 8000);
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(dir.file("output.root"))) << "output.root left behind";
        if (threads == 1)
            first_err = run.err;
        else
            EXPECT_EQ(run.err, first_err);
    }
}

}  // namespace
