// Local work asks nothing of the network: no program links the XRootD client (whose
// libraries look up the machine's addresses as they load); it comes as a plug-in loaded
// on the first root:// URL, and a program without its plug-in says so in one line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cstddef>
#include <cstdio>

#include "framework/scratch_dir.h"
#include "programs/child_process.h"

namespace {

using namespace programs;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::string libraries_of(const std::string& file)
{
    std::string listed(1 << 16, '\0');
    FILE* ldd = ::popen(("ldd '" + file + "'").c_str(), "r");
    listed.resize(ldd ? std::fread(listed.data(), 1, listed.size(), ldd) : 0);
    if (ldd) ::pclose(ldd);
    return listed;
}

// In the child: a socket() call kills it with SIGSYS (x86-64 system calls checked).
void forbid_sockets()
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        ::_exit(125);
}

TEST(NetworkFree, LocalRunsLinkNoXRootDClientAndOpenNoSocket)
{
#if !defined(__x86_64__)
    GTEST_SKIP() << "the socket filter is written for x86-64";
#endif
    EXPECT_THAT(libraries_of(built("libskim-xrootd.so")), HasSubstr("libXrdCl"));
    testutil::ScratchDir dir;
    const std::vector<std::vector<std::string>> runs = {
        {"make-example", "--events", "300", "--quiet", "--output", "in.root"},
        {"treedump", "in.root", "Events"},
        {"skim-inputs", "in.root"},
        {"skim", "-o", "out.root", "in.root"},
        {"treemerge", "merged.root", "out.root", "out.root"},
        {"skim-report", "-o", "report", "in.root"},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r[0]);
        EXPECT_THAT(libraries_of(built(r[0])), Not(HasSubstr("libXrd")));
        const Outcome outcome = run(built(r[0]), {r.begin() + 1, r.end()}, dir.path(), Stdout::Captured, forbid_sockets);
        EXPECT_EQ(outcome.signal, 0) << "SIGSYS: it opened a socket";
        EXPECT_EQ(outcome.exit_status, 0) << outcome.err;
    }
}

// Every reading program loads the plug-in for a URL (which the client finds malformed
// without asking a server); a copy without the plug-in beside it names what is missing.
TEST(NetworkFree, XRootDPluginIsLoadedOnDemand)
{
    testutil::ScratchDir dir;
    const std::vector<std::vector<std::string>> runs = {
        {"skim", "-o", "out.root", "root://"}, {"treedump", "root://"},
        {"treemerge", "out.root", "root://"},  {"skim-report", "root://"}};
    for (const auto& r : runs) {
        const Outcome outcome = run(built(r[0]), {r.begin() + 1, r.end()}, dir.path());
        EXPECT_EQ(outcome.exit_status, 1) << r[0];
        EXPECT_EQ(outcome.err, r[0] + ": root://: not a valid XRootD URL\n");
    }
    fs::copy_file(built("treedump"), dir.path() / "treedump");
    const Outcome r = run((dir.path() / "treedump").string(), {"root://host//f.root"}, dir.path());
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "treedump: root://host//f.root: cannot open: no XRootD plug-in (libskim-xrootd.so) beside the program in " +
                         dir.path().string() + "\n");
}

}  // namespace
