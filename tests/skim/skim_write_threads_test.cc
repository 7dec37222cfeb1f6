// The skim's output written at several thread counts (SKIM_THREADS): a write that fails ends
// every run with the same line, the same exit status and no output.root.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "framework/scratch_dir.h"
#include "skim/event_files.h"
#include "skim/generated_events.h"
#include "skim/run_program.h"

namespace {

using namespace skimtest;
namespace fs = std::filesystem;

constexpr const char* kInputName = "example_RunIISummer20UL18.root";

TEST(SkimWriteThreads, DiskFullEndsEveryThreadCountWithTheSameLine)
{
    testutil::ScratchDir dir;
    write_event_file(dir.file(kInputName), EventGenerator(11).events(3000));
    std::string first_err;
    for (int threads : {1, 2, 4}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        // Set here, not in the child: the child of a threaded process must not allocate.
        ::setenv("SKIM_THREADS", std::to_string(threads).c_str(), 1);
        // Room for the output's first baskets but not for all of them.
        const RunResult run = run_program(skim_program(), dir.path().string(), [] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{8000, 8000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        ::unsetenv("SKIM_THREADS");
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
