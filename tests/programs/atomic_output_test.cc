// A written file appears under its name only when complete. Runs that fail, or are ended by
// a signal mid-run, leave whatever stood at the final name untouched and no temporary file
// behind (after SIGKILL only the clearly named temporary file); signals give 128 + N.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>

#include "framework/scratch_dir.h"
#include "programs/child_process.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"

namespace {

using namespace programs;
namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::StartsWith;

constexpr const char* kPrevious = "the previous run's result";

std::string read_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void write_bytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> names_in(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The size of the temporary file beside `final_name`, or -1 while there is none.
int64_t temporary_size(const fs::path& folder, const std::string& final_name)
{
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(final_name + ".incomplete-"))
            return static_cast<int64_t>(fs::file_size(entry.path()));
    return -1;
}

int64_t entries_of(const fs::path& file)
{
    return rootio::read_tree(*rootio::RootFile::open(file), "Events").entries;
}

// Far more events than the test waits for: the run is interrupted long before its end.
const std::vector<std::string> kLongRun = {"--events", "1000000",  "--compression", "101",
                                           "--quiet",  "--output", "out.root"};

class AtomicOutput : public ::testing::Test {
protected:
    void SetUp() override { write_bytes(folder() / "out.root", kPrevious); }
    const fs::path& folder() const { return dir.path(); }

    // make-example, signalled once its temporary file has received data.
    Outcome interrupt_make_example(int sig)
    {
        Background child(built("make-example"), kLongRun, folder(), [sig] { std::signal(sig, SIG_DFL); });
        EXPECT_TRUE(child.wait_until([&] { return temporary_size(folder(), "out.root") > 0; }))
            << "the run ended before it wrote anything";
        ::kill(child.pid(), sig);
        return child.wait();
    }

    testutil::ScratchDir dir;
};

TEST_F(AtomicOutput, SignalsMidRunRemoveTheTemporaryFileAndKeepThePreviousOne)
{
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(::strsignal(sig));
        const Outcome r = interrupt_make_example(sig);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.exit_status, 128 + sig);
        EXPECT_THAT(names_in(folder()), ElementsAre("out.root"));
        EXPECT_EQ(read_bytes(folder() / "out.root"), kPrevious);
    }
}

TEST_F(AtomicOutput, AfterSigkillOnlyTheTemporaryFileRemains)
{
    const Outcome r = interrupt_make_example(SIGKILL);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_THAT(names_in(folder()), ElementsAre("out.root", StartsWith("out.root.incomplete-")));
    EXPECT_EQ(read_bytes(folder() / "out.root"), kPrevious);
}

// A file-size limit of `bytes`; SIGXFSZ at its default action or ignored (writes then fail
// with EFBIG).
std::function<void()> size_limit(rlim_t bytes, bool ignore_signal)
{
    return [=] {
        std::signal(SIGXFSZ, ignore_signal ? SIG_IGN : SIG_DFL);
        const rlimit limit{bytes, bytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
}

// SIGXFSZ at its default ends the run like any fatal signal; ignored, the write fails and
// the run ends with one error line.
TEST_F(AtomicOutput, FileSizeLimitLeavesThePreviousFile)
{
    const Outcome signalled =
        run(built("make-example"), kLongRun, folder(), Stdout::Captured, size_limit(8 << 20, false));
    EXPECT_EQ(signalled.exit_status, 128 + SIGXFSZ);
    EXPECT_THAT(names_in(folder()), ElementsAre("out.root"));

    const Outcome failed =
        run(built("make-example"), kLongRun, folder(), Stdout::Captured, size_limit(8 << 20, true));
    EXPECT_EQ(failed.exit_status, 1);
    EXPECT_EQ(failed.err, "make-example: out.root: write failed: File too large\n");
    EXPECT_THAT(names_in(folder()), ElementsAre("out.root"));
    EXPECT_EQ(read_bytes(folder() / "out.root"), kPrevious);
}

// Through a symbolic link the link's target is replaced (in its own folder) and the link
// stays; a failed run leaves both as they were.
TEST_F(AtomicOutput, SymbolicLinkStaysAndItsTargetIsReplaced)
{
    const fs::path elsewhere = folder() / "elsewhere";
    fs::create_directory(elsewhere);
    fs::remove(folder() / "out.root");
    write_bytes(elsewhere / "data.root", kPrevious);
    fs::create_symlink("elsewhere/data.root", folder() / "out.root");

    const Outcome failed =
        run(built("make-example"), kLongRun, folder(), Stdout::Captured, size_limit(8 << 20, true));
    EXPECT_EQ(failed.exit_status, 1);
    EXPECT_TRUE(fs::is_symlink(folder() / "out.root"));
    EXPECT_EQ(read_bytes(elsewhere / "data.root"), kPrevious);

    const Outcome done =
        run(built("make-example"),
            {"--events", "300", "--compression", "101", "--quiet", "--output", "out.root"}, folder());
    ASSERT_EQ(done.exit_status, 0) << done.err;
    EXPECT_EQ(fs::read_symlink(folder() / "out.root"), "elsewhere/data.root");
    EXPECT_THAT(names_in(elsewhere), ElementsAre("data.root"));
    EXPECT_EQ(entries_of(elsewhere / "data.root"), 300);
}

// The skim: a run failing as it writes (a file-size limit) and a run ended by a closed pipe
// (`skim | head -1`) keep the previous output.root.
TEST_F(AtomicOutput, SkimFailureAndClosedPipeKeepThePreviousOutput)
{
    fs::rename(folder() / "out.root", folder() / "output.root");
    ASSERT_EQ(run(built("make-example"),
                  {"--events", "2000", "--compression", "101", "--quiet", "--output",
                   "example_RunIISummer20UL18.root"},
                  folder())
                  .exit_status,
              0);

    const Outcome piped =
        run(built("skim"), {}, folder(), Stdout::BrokenPipe, [] { std::signal(SIGPIPE, SIG_DFL); });
    EXPECT_EQ(piped.exit_status, 128 + SIGPIPE);
    EXPECT_THAT(names_in(folder()), ElementsAre("example_RunIISummer20UL18.root", "output.root"));
    EXPECT_EQ(read_bytes(folder() / "output.root"), kPrevious);

    const Outcome failed = run(built("skim"), {}, folder(), Stdout::Captured, size_limit(8000, true));
    EXPECT_EQ(failed.exit_status, 1);
    EXPECT_EQ(failed.err, "skim: output.root: write failed: File too large\n");
    EXPECT_THAT(names_in(folder()), ElementsAre("example_RunIISummer20UL18.root", "output.root"));
    EXPECT_EQ(read_bytes(folder() / "output.root"), kPrevious);
}

// skim-report's two files are one report: a run that fails changes neither, and a signal
// at the moment the histograms land in place still finds the page beside them.
TEST_F(AtomicOutput, ReportFilesAreReplacedTogetherOrNotAtAll)
{
    ASSERT_EQ(run(built("make-example"), {"--events", "300", "--quiet", "--output", "in.root"}, folder()).exit_status, 0);
    write_bytes(folder() / "report.root", kPrevious);
    fs::create_directory(folder() / "report.html");
    const Outcome failed = run(built("skim-report"), {"in.root"}, folder());
    EXPECT_EQ(failed.exit_status, 1);
    EXPECT_EQ(failed.err, "skim-report: report.html: cannot create: Is a directory\n");
    EXPECT_EQ(read_bytes(folder() / "report.root"), kPrevious);

    fs::remove(folder() / "report.html");
    write_bytes(folder() / "report.html", kPrevious);
    // SIGTERM as soon as report.root is renamed into place.
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, folder().c_str(), IN_MOVED_TO), 0);
    Background child(built("skim-report"), {"in.root"}, folder(), [] { std::signal(SIGTERM, SIG_DFL); });
    alignas(inotify_event) char events[4096];
    for (bool landed = false; !landed;) {
        pollfd ready{watch, POLLIN, 0};
        ASSERT_EQ(::poll(&ready, 1, 60000), 1) << "report.root never landed";
        const ssize_t n = ::read(watch, events, sizeof events);
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            landed = landed || (event->len > 0 && std::string(event->name) == "report.root");
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::kill(child.pid(), SIGTERM);
    const Outcome r = child.wait();
    ::close(watch);
    EXPECT_TRUE(r.exit_status == 0 || r.exit_status == 128 + SIGTERM) << r.exit_status;
    EXPECT_THAT(names_in(folder()), ElementsAre("in.root", "out.root", "report.html", "report.root"));
    EXPECT_NE(read_bytes(folder() / "report.root"), kPrevious);
    EXPECT_NE(read_bytes(folder() / "report.html"), kPrevious) << "new histograms beside the old page";
}

}  // namespace
