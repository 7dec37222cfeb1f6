// Inputs that are not regular files (a FIFO nobody writes to, a folder, a device) are
// refused at once with one line naming them; nothing blocks, and the skim writes nothing.
// So is an output that is a FIFO nobody reads, by every program that writes a file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "framework/scratch_dir.h"
#include "programs/child_process.h"

namespace {

using namespace programs;
namespace fs = std::filesystem;

TEST(SpecialInputs, FifoFolderAndDeviceAreRefusedWithoutWaiting)
{
    testutil::ScratchDir dir;
    ASSERT_EQ(::mkfifo(dir.file("events.fifo").c_str(), 0600), 0);
    fs::create_directory(dir.file("folder.root"));
    const struct {
        std::string input, what;
    } cases[] = {
        {"events.fifo", "is a FIFO, not a regular file"},
        {"folder.root", "is a directory, not a regular file"},
        {"/dev/zero", "is a character device, not a regular file"},
    };
    auto soon = [] { ::alarm(10); };  // a blocked open ends the child with SIGALRM
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const Outcome skim = run(built("skim"), {c.input}, dir.path(), Stdout::Captured, soon);
        EXPECT_EQ(skim.signal, 0);
        EXPECT_EQ(skim.exit_status, 1);
        EXPECT_EQ(skim.err, "skim: " + c.input + ": " + c.what + "\n");
        EXPECT_FALSE(fs::exists(dir.file("output.root")));

        const Outcome dump = run(built("treedump"), {c.input}, dir.path(), Stdout::Captured, soon);
        EXPECT_EQ(dump.signal, 0);
        EXPECT_EQ(dump.exit_status, 1);
        EXPECT_EQ(dump.err, "treedump: " + c.input + ": " + c.what + "\n");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2)
        << "nothing but the FIFO and the folder";
}

TEST(SpecialOutputs, FifoIsRefusedWithoutWaiting)
{
    testutil::ScratchDir dir;
    ASSERT_EQ(run(built("make-example"), {"--events", "20", "--quiet", "--output", "in.root"}, dir.path()).exit_status, 0);
    ASSERT_EQ(::mkfifo(dir.file("out.root").c_str(), 0600), 0);
    const struct {
        std::string program;
        std::vector<std::string> args;
    } writers[] = {
        {"skim", {"-o", "out.root", "in.root"}},
        {"treemerge", {"out.root", "in.root"}},
        {"skim-report", {"-o", "out", "in.root"}},
        {"make-example", {"--events", "20", "--quiet", "--output", "out.root"}},
    };
    for (const auto& w : writers) {
        SCOPED_TRACE(w.program);
        const Outcome r = run(built(w.program), w.args, dir.path(), Stdout::Captured, [] { ::alarm(10); });
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.err, w.program + ": out.root: is a FIFO, not a regular file\n");
        EXPECT_EQ(fs::status(dir.file("out.root")).type(), fs::file_type::fifo);
    }
}

}  // namespace
