// The skim program on bad inputs and unwritable outputs: one line on standard error naming
// the file (and the entry, for a read inside the event loop), exit status 1, no output.root
// left behind, and standard output holding only what the run printed before the fault.
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "framework/scratch_dir.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"
#include "skim/event_files.h"
#include "skim/generated_events.h"
#include "skim/run_program.h"

namespace {

using namespace skimtest;
namespace fs = std::filesystem;

constexpr const char* kInputName = "example_RunIISummer20UL18.root";
constexpr const char* kEventLines = "getting entry\nfilling output_tree\ndone\n";

class SkimFault : public ::testing::Test {
protected:
    std::string input() const { return dir.file(kInputName); }
    std::string output() const { return dir.file("output.root"); }
    RunResult run(const std::function<void()>& in_child = {}) const
    {
        return run_program(skim_program(), dir.path().string(), in_child);
    }
    // The run failed cleanly with exactly `line` (plus newline) on standard error.
    void expect_failed_with(const RunResult& r, const std::string& line) const
    {
        EXPECT_EQ(r.signal, 0) << "killed by a signal";
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.err, line + "\n");
        EXPECT_FALSE(fs::exists(fs::symlink_status(output()))) << "output.root left behind";
    }
    void write_bytes(const std::string& path, const std::string& bytes) const
    {
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::string read_bytes(const std::string& path) const
    {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

    testutil::ScratchDir dir;
};

TEST_F(SkimFault, MissingInput)
{
    const RunResult r = run();
    expect_failed_with(r, "skim: example_RunIISummer20UL18.root: cannot open: No such file or directory");
    EXPECT_EQ(r.out, "");
}

TEST_F(SkimFault, InputThatIsNotARootFile)
{
    write_bytes(input(), "Not a ROOT file at all, though long enough to hold a header of one.\n");
    const RunResult r = run();
    expect_failed_with(r, "skim: example_RunIISummer20UL18.root: not a ROOT file (no 'root' magic)");
    EXPECT_EQ(r.out, "");
}

TEST_F(SkimFault, TruncatedInput)
{
    write_event_file(input(), EventGenerator(5).events(500));
    const std::string whole = read_bytes(input());
    write_bytes(input(), whole.substr(0, whole.size() * 2 / 3));
    const RunResult r = run();
    expect_failed_with(r, "skim: example_RunIISummer20UL18.root: truncated: the header says the file is " +
                              std::to_string(whole.size()) + " bytes, but it has " +
                              std::to_string(whole.size() * 2 / 3));
    EXPECT_EQ(r.out, "");
}

TEST_F(SkimFault, CorruptBasketOfASelectionBranchNamesFileBranchAndEntry)
{
    write_event_file(input(), {passing_event(1)});
    int64_t seek = 0;
    {
        const auto file = rootio::RootFile::open(input());
        const auto tree = rootio::read_tree(*file, "Events");
        const auto& branch = tree.branches.at(tree.find_branch("Electron_dz"));
        ASSERT_EQ(branch.write_basket(), 1);
        seek = branch.basket_seek.at(0);
    }
    std::string bytes = read_bytes(input());
    // Damage the basket's compressed payload, past its key header.
    for (int64_t i = seek + 90; i < seek + 100 && i < static_cast<int64_t>(bytes.size()); ++i) bytes[i] ^= 0x5a;
    write_bytes(input(), bytes);
    const RunResult r = run();
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err.rfind("skim: example_RunIISummer20UL18.root: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Electron_dz"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("entry 0"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(output()));
}

TEST_F(SkimFault, InputWithoutEventsTree)
{
    FileOptions opt;
    opt.tree_name = "Runs";
    write_event_file(input(), {passing_event(1)}, opt);
    const RunResult r = run();
    expect_failed_with(r, "skim: example_RunIISummer20UL18.root: no object named \"Events\"");
    EXPECT_EQ(r.out, "");
}

// A branch the selection reads is asked of every input before anything is read or written,
// even when no event would reach the cut that reads it: here none has a lepton, so without
// the check both programs would read every entry and never miss the fat-jet branch.
TEST_F(SkimFault, MissingSelectionBranchIsRefusedBeforeTheRun)
{
    FileOptions opt;
    opt.omit_branch = "FatJet_msoftdrop";
    Event no_leptons = passing_event(1);
    no_leptons.electrons.clear();
    write_event_file(input(), {no_leptons, no_leptons}, opt);
    const std::string line = ": example_RunIISummer20UL18.root: branch FatJet_msoftdrop is missing (the event reader needs it)";
    for (const std::string program : {"skim", "skim-report"}) {
        SCOPED_TRACE(program);
        const RunResult r = run_program(std::string(SKIM_BUILD_DIR) + "/" + program, dir.path().string());
        expect_failed_with(r, program + line);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(dir.file("report.root")));
    }
}

// The reader also knows branches the selection never reads (MET_phi, run, event): an input
// without one is skimmed, not refused.
TEST_F(SkimFault, ABranchOnlyTheReaderKnowsMayBeMissing)
{
    FileOptions opt;
    opt.omit_branch = "MET_phi";
    write_event_file(input(), {passing_event(1)}, opt);
    const RunResult r = run();
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kEventLines) + "\n");  // the bar's closing newline
}

TEST_F(SkimFault, CountAboveTheStoredArrayEndsTheRunAtThatEntry)
{
    FileOptions opt;
    opt.overstate_nElectron = true;
    opt.overstate_from_entry = 2;
    write_event_file(input(), {passing_event(1), passing_event(2), passing_event(3)}, opt);
    const RunResult r = run();
    expect_failed_with(r, "skim: example_RunIISummer20UL18.root: entry 2: "
                          "vector::_M_range_check: __n (which is 1) >= this->size() (which is 1)");
    EXPECT_EQ(r.out, std::string(kEventLines) + kEventLines);
}

TEST_F(SkimFault, OutputThatIsADirectoryIsLeftAlone)
{
    write_event_file(input(), {passing_event(1)});
    fs::create_directory(output());
    write_bytes(output() + "/keep.txt", "mine");
    const RunResult r = run();
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "skim: output.root: cannot create: Is a directory\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fs::is_directory(output()));
    EXPECT_EQ(read_bytes(output() + "/keep.txt"), "mine");
}

// Under ThreadSanitizer the copy of the skim reads a copy of the suppressions (a later
// suppressions= wins), since the user it runs as may not reach the checkout.
std::string with_readable_suppressions(const fs::path& folder)
{
    const char* options = std::getenv("TSAN_OPTIONS");
    if (!options || !std::strstr(options, "suppressions=")) return {};
    const fs::path copy = folder / "tsan.supp";
    fs::copy_file(std::string(SKIM_SOURCE_DIR) + "/tests/tsan.supp", copy);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    return std::string(options) + " suppressions=" + copy.string();
}

TEST_F(SkimFault, UnwritableFolder)
{
    write_event_file(input(), {passing_event(1)});
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    // Permissions do not bind root: as root, the skim runs as an unprivileged user. That user
    // runs a copy of it from the test's folder, since the checkout may be where only its
    // owner can go (a root user's home is mode 700).
    const bool as_root = ::geteuid() == 0;
    std::string program = skim_program();
    std::string sanitizer_options;
    if (as_root) {
        const fs::path bin = dir.path() / "bin";
        fs::create_directory(bin);
        fs::copy_file(program, bin / "skim");
        const auto everyone_runs = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec;
        fs::permissions(bin, everyone_runs);
        fs::permissions(bin / "skim", everyone_runs);
        fs::permissions(input(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                     fs::perms::others_read);
        program = (bin / "skim").string();
        sanitizer_options = with_readable_suppressions(bin);
    }
    const RunResult r = run_program(program, dir.path().string(), [as_root, &sanitizer_options] {
        if (as_root && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(125);
        if (!sanitizer_options.empty()) ::setenv("TSAN_OPTIONS", sanitizer_options.c_str(), 1);
    });
    fs::permissions(dir.path(), fs::perms::owner_all);
    if (r.exit_status == 125) GTEST_SKIP() << "cannot drop root privileges here";
    expect_failed_with(r, "skim: output.root: cannot create: Permission denied");
    EXPECT_EQ(r.out, "");
}

TEST_F(SkimFault, DiskFullWhileWritingTheOutput)
{
    write_event_file(input(), EventGenerator(11).events(3000));
    // Room for the output's first records but not for all of them; the run gets EFBIG
    // (not SIGXFSZ, which stays ignored across exec).
    const RunResult r = run([] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{8000, 8000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err.rfind("skim: output.root: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(output()));
    // Whatever was printed is whole event messages, then possibly the bar's newline.
    std::string out = r.out;
    if (!out.empty() && out.back() == '\n' && out.size() % std::string(kEventLines).size() == 1) out.pop_back();
    EXPECT_EQ(out.size() % std::string(kEventLines).size(), 0u) << out;
}

// Damage anywhere in the input: the run either succeeds (the damage hit bytes it never
// reads) or ends with one error line, never a crash or a hang.
TEST_F(SkimFault, DamageAnywhereEndsCleanly)
{
    write_event_file(input(), EventGenerator(13).events(400));
    const std::string intact = read_bytes(input());
    int failures = 0;
    for (size_t i = 0; i < 48; ++i) {
        std::string damaged = intact;
        const size_t at = (intact.size() - 16) * i / 47;
        for (size_t k = at; k < at + 8; ++k) damaged[k] = static_cast<char>(damaged[k] ^ (0x3c + k));
        write_bytes(input(), damaged);
        fs::remove(output());
        const RunResult r = run([] { ::alarm(20); });
        SCOPED_TRACE("damage at byte " + std::to_string(at));
        ASSERT_EQ(r.signal, 0) << r.err;
        if (r.exit_status == 0) continue;
        ++failures;
        ASSERT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.err.rfind("skim: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(output()));
    }
    EXPECT_GT(failures, 10) << "most damage should be noticed";
}

}  // namespace
