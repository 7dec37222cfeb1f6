// Standard output that cannot be written (closed, full device, broken pipe with SIGPIPE
// ignored) is reported at the end in one line with exit status 1, and the output file is
// still complete. Every program answers --help on standard output; usage errors exit 2.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>

#include "framework/scratch_dir.h"
#include "programs/child_process.h"

namespace {

using namespace programs;
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string read_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Fixed time stamps and UUID: equal content gives equal bytes.
void reproducible()
{
    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
}

TEST(StandardOutput, LostOutputIsAnErrorAndTheSkimOutputIsStillWhole)
{
    testutil::ScratchDir dir;
    ASSERT_EQ(run(built("make-example"),
                  {"--events", "1500", "--compression", "101", "--quiet", "--output",
                   "example_RunIISummer20UL18.root"},
                  dir.path())
                  .exit_status,
              0);
    const Outcome clean = run(built("skim"), {}, dir.path(), Stdout::Captured, reproducible);
    ASSERT_EQ(clean.exit_status, 0) << clean.err;
    ASSERT_THAT(clean.out, HasSubstr("filling output_tree")) << "no event passes: nothing is printed";
    const std::string whole = read_bytes(dir.file("output.root"));

    const struct {
        Stdout out;
        const char* name;
        std::string reason;
    } cases[] = {
        {Stdout::FullDevice, "full device", ""},
        {Stdout::Closed, "closed", ": Bad file descriptor"},
        {Stdout::BrokenPipe, "broken pipe, SIGPIPE ignored", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir.file("output.root"));
        const Outcome r = run(built("skim"), {}, dir.path(), c.out, [] {
            reproducible();
            std::signal(SIGPIPE, SIG_IGN);
        });
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_THAT(r.err, StartsWith("skim: standard output: write error" + c.reason));
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(read_bytes(dir.file("output.root")) == whole) << "output.root differs from a clean run's";
    }

    // The other programs report the same way.
    const Outcome listing = run(built("treedump"), {"output.root"}, dir.path(), Stdout::FullDevice);
    EXPECT_EQ(listing.exit_status, 1);
    EXPECT_THAT(listing.err, StartsWith("treedump: standard output: write error"));
    const Outcome help = run(built("make-example"), {"--help"}, dir.path(), Stdout::Closed);
    EXPECT_EQ(help.exit_status, 1);
    EXPECT_EQ(help.err, "make-example: standard output: write error: Bad file descriptor\n");
}

TEST(Usage, HelpOnStandardOutputAndUsageErrorsExitTwo)
{
    testutil::ScratchDir dir;
    for (const std::string program : {"treedump", "make-example", "treemerge", "skim-report"}) {
        SCOPED_TRACE(program);
        const Outcome help = run(built(program), {"--help"}, dir.path());
        EXPECT_EQ(help.exit_status, 0);
        EXPECT_THAT(help.out, StartsWith("usage: " + program + " "));
        EXPECT_EQ(help.err, "");

        const Outcome wrong = run(built(program), {"--no-such-option"}, dir.path());
        EXPECT_EQ(wrong.exit_status, 2);
        EXPECT_EQ(wrong.out, "");
        const std::string first_line = wrong.err.substr(0, wrong.err.find('\n') + 1);
        EXPECT_THAT(first_line, StartsWith(program + ": "));
        EXPECT_THAT(first_line, HasSubstr("--no-such-option"));
        const std::string usage_line = help.out.substr(0, help.out.find('\n') + 1);
        EXPECT_THAT(wrong.err.substr(first_line.size()), StartsWith(usage_line)) << "the usage follows the error";
    }
}

}  // namespace
