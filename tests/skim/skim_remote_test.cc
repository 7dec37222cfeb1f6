// The skim reading root:// inputs from a real XRootD server, trees and RNTuples alike: the
// output is byte for byte the skim of the same files read locally, remote and local inputs
// mix in one chain, and a damaged file (met where the local skim meets it, in the same
// words), a missing remote file, a server that cannot be reached and a server that dies
// mid-run each end the run with one line naming the URL, exit status 1 and no output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "framework/scratch_dir.h"
#include "skim/event_files.h"
#include "skim/generated_events.h"
#include "skim/run_program.h"
#include "tree_to_ntuple.h"
#include "xrootd_server.h"

namespace {

using namespace skimtest;
namespace fs = std::filesystem;

class SkimRemote : public ::testing::Test {
protected:
    SkimRemote()
    {
        uint64_t first = 1;
        for (const char* name : {"a.root", "b.root", "c.root"}) {
            write_event_file(dir.file(name), EventGenerator(first).events(3000, first));
            first += 3000;
        }
        for (const char* name : {"a", "b"})
            convert::tree_to_ntuple(dir.file(std::string(name) + ".root"), dir.file(std::string(name) + "n.root"),
                                    "Events");
    }
    // Runs the skim in the test folder with fixed time stamps; `environment` is
    // NAME=VALUE settings added for the run. Never hangs: a run over a minute is killed.
    RunResult skim(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment = {},
                   const std::function<void(const std::string&)>& on_output = {}) const
    {
        return run_program(
            skim_program(), dir.path().string(),
            [environment] {
                ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
                for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
                ::alarm(60);
            },
            arguments, on_output);
    }
    std::string bytes_of(const std::string& name) const
    {
        std::ifstream in(dir.file(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The skim of `arguments`, written to out.root and taken out of the way as `keep_as`.
    std::string skimmed(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) const
    {
        std::vector<std::string> all = {"-o", "out.root"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        const RunResult r = skim(all, environment);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        std::string bytes = bytes_of("out.root");
        fs::remove(dir.file("out.root"));
        return bytes;
    }
    void expect_failed_naming(const RunResult& r, const std::string& url, const std::string& what) const
    {
        EXPECT_EQ(r.signal, 0) << "killed by a signal";
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.err.rfind("skim: " + url + ": ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find(url, 7 + url.size()), std::string::npos) << "the URL named twice: " << r.err;
        EXPECT_NE(r.err.find(what), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(dir.file("out.root"))) << "output left behind";
    }

    testutil::ScratchDir dir;
    testutil::XRootDServer server;
};

TEST_F(SkimRemote, OutputIsByteIdenticalToTheLocalSkim)
{
    for (const std::string suffix : {"", "n"}) {  // trees, RNTuples
        const std::string a = "a" + suffix + ".root", b = "b" + suffix + ".root";
        SCOPED_TRACE(a);
        const std::string local = skimmed({a, b});
        ASSERT_GT(local.size(), 1000u);
        std::ofstream(dir.file("urls.txt")) << server.publish(dir.file(a), "store/" + a) << "\n"
                                            << server.publish(dir.file(b), "store/" + b) << "\n";
        EXPECT_TRUE(skimmed({"@urls.txt"}) == local) << "remote skim differs from the local one";
        // Batches arrive while the workers decode: the bytes are the same at every thread count.
        for (const char* threads : {"SKIM_THREADS=1", "SKIM_THREADS=4"})
            EXPECT_TRUE(skimmed({"@urls.txt"}, {threads}) == local) << threads;
    }
}

TEST_F(SkimRemote, LocalAndRemoteInputsMixInOneChain)
{
    const std::vector<std::vector<std::string>> chains = {{"a.root", "b.root", "c.root"}, {"an.root", "bn.root", "c.root"}};
    for (const std::vector<std::string>& chain : chains) {
        SCOPED_TRACE(chain.front());
        const std::string local = skimmed(chain);
        const std::string mixed = skimmed({chain[0], server.publish(dir.file(chain[1]), chain[1]), chain[2]});
        EXPECT_TRUE(mixed == local) << "mixed skim differs from the local one";
    }
}

TEST_F(SkimRemote, MissingRemoteFileEndsTheRunBeforeTheLoop)
{
    const std::string url = server.url("store/none.root");
    const RunResult r = skim({"-o", "out.root", "a.root", url});
    expect_failed_naming(r, url, "cannot open: no such file on the server");
    EXPECT_EQ(r.out, "");
}

TEST_F(SkimRemote, ServerThatCannotBeReachedIsNamed)
{
    const std::string url = server.publish(dir.file("a.root"), "a.root");
    server.stop();
    // The user's own client settings are taken over the program's defaults.
    const RunResult r = skim({"-o", "out.root", url}, {"XRD_CONNECTIONWINDOW=1", "XRD_CONNECTIONRETRY=1"});
    expect_failed_naming(r, url, "cannot open: no connection to the server");
}

TEST_F(SkimRemote, DamagedFileAFewAheadIsReportedWhenTheLoopReachesIt)
{
    // Its first cluster is requested while the files before it are skimmed; the damage
    // surfaces where the local skim meets it, with the same words.
    fs::copy_file(dir.file("c.root"), dir.file("bad.root"));
    {
        std::fstream f(dir.file("bad.root"), std::ios::in | std::ios::out | std::ios::binary);
        const auto size = static_cast<std::streamoff>(fs::file_size(dir.file("bad.root")));
        for (int k = 1; k < 40; ++k) {
            f.seekp(size * k / 50);
            f.write(std::string(600, '\xff').data(), 600);
        }
    }
    const std::vector<std::string> names = {"a.root", "b.root", "c.root", "bad.root"};
    const RunResult local = skim({"-o", "out.root", "a.root", "b.root", "c.root", "bad.root"});
    ASSERT_EQ(local.exit_status, 1) << local.err;
    const std::string prefix = "skim: bad.root: ";
    ASSERT_EQ(local.err.rfind(prefix, 0), 0u) << local.err;
    std::vector<std::string> urls;
    for (const std::string& name : names) urls.push_back(server.publish(dir.file(name), name));
    const RunResult remote = skim({"-o", "out.root", urls[0], urls[1], urls[2], urls[3]});
    expect_failed_naming(remote, urls[3], local.err.substr(prefix.size()));
    EXPECT_EQ(remote.out, local.out) << "the files before it skimmed as locally";
}

TEST_F(SkimRemote, ServerStoppedMidRunEndsTheRunWithinTheDefaultTimeOuts)
{
    write_event_file(dir.file("big.root"), EventGenerator(9).events(120000));
    // The RNTuple in clusters of about 1 MB, so that most of them are still to be read.
    rootio::ntuple::WriteOptions clusters;
    clusters.cluster_bytes = size_t{1} << 20;
    convert::tree_to_ntuple(dir.file("big.root"), dir.file("bign.root"), "Events", clusters);
    for (const char* name : {"big.root", "bign.root"}) {
        SCOPED_TRACE(name);
        testutil::XRootDServer own_server;
        const std::string big = own_server.publish(dir.file(name), name);
        const std::string after = own_server.publish(dir.file("c.root"), "c.root");
        // Killed as soon as the first selected event is copied: the rest of the big input
        // and all of c.root are still to be read.
        const RunResult r = skim({"-o", "out.root", big, after}, {}, [&own_server](const std::string& out) {
            if (out.find("done\n") != std::string::npos) own_server.stop();
        });
        EXPECT_NE(r.out.find("done\n"), std::string::npos);
        EXPECT_EQ(r.signal, 0) << "killed by a signal (the 60 s alarm?)";
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_TRUE(r.err.rfind("skim: " + big + ": ", 0) == 0 || r.err.rfind("skim: " + after + ": ", 0) == 0)
            << r.err;
        EXPECT_EQ(r.err.find("root://", 7 + big.size()), std::string::npos) << "a URL named twice: " << r.err;
        EXPECT_NE(r.err.find("server"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(dir.file("out.root"))) << "output left behind";
    }
}

}  // namespace
