// The event loop over files on an XRootD server behind a relay that delays every chunk:
// the loop reads nothing on demand whatever the files' number of clusters and of selected
// entries (every basket comes in a batch sent ahead), waits only for the run's first
// request (each next file's first cluster is asked for while the file before it is read),
// and each input is opened once, in one request, for the check and the loop together. An
// RNTuple's cluster loads are one request each: the selection's fields per cluster, the
// kept ones once more for a cluster with a selected entry.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "Heron.h"
#include "TChain.h"
#include "TFile.h"
#include "TTree.h"
#include "delay_relay.h"
#include "framework/scratch_dir.h"
#include "rootio/io/byte_source.h"
#include "rootio/tree/opened_files.h"
#include "input_check.h"
#include "selection.h"
#include "skim/event_files.h"
#include "skim/generated_events.h"
#include "rootio/file/root_file.h"
#include "rootio/ntuple/ntuple_reader.h"
#include "tree_to_ntuple.h"
#include "xrootd_server.h"

namespace {

using namespace skimtest;

constexpr int kCluster = 500;
const char* const kKept[] = {"Electron*", "nElectron", "Muon*", "nMuon", "Jet*", "nJet", "FatJet*", "nFatJet", "MET*",
                             "event*", "run*"};

// What the loop thread stopped for while reading one file.
struct FileStops {
    uint64_t opening_reads = 0;   // the file's opening and the tree's (or RNTuple's) read
    uint64_t blocking_reads = 0;  // the loop's
    uint64_t waits = 0;
    uint64_t requests = 0;
    int selected = 0;
};

// The skim's reads of `urls` as its driver makes them: the inputs checked up front, then
// each file's tree taken with the next file named for the reads ahead, the selection's
// branches read at every entry and the kept ones for the selected entries. The loop pauses
// 1 ms every `pause_every` entries, so that a cluster takes several round trips of the
// relay: a batch sent a cluster ahead has arrived when the loop gets there.
std::vector<FileStops> skim_reads(const std::vector<std::string>& urls, int pause_every = 25)
{
    TDirectory* current = gDirectory;
    TChain chain("Events");
    for (const std::string& url : urls) chain.Add(url.c_str());
    chain.SetBranchStatus("*", 0);
    for (const char* p : kKept) chain.SetBranchStatus(p, 1);
    skim::check_chain_inputs(chain);
    gDirectory = current;
    std::vector<FileStops> stops;
    std::vector<LorentzVector> veto, tight;
    rootio::read_tree_ahead(urls.front(), "Events");
    for (size_t i = 0; i < urls.size(); ++i) {
        const rootio::ThreadStops before = rootio::this_thread_stops();
        TFile file(urls[i].c_str());
        auto* tree = static_cast<TTree*>(file.Get("Events"));
        const uint64_t opening_reads = rootio::this_thread_stops().blocking_reads - before.blocking_reads;
        const uint64_t requests_before = rootio::read_totals().requests;
        rootio::read_files_ahead(urls, i, "Events");
        tree->SetCacheSize(134217728);
        tree->SetCacheLearnEntries(100);
        tree->SetBranchStatus("*", 0);
        for (const char* p : kKept) tree->SetBranchStatus(p, 1);
        nt.Init(tree);
        FileStops& s = stops.emplace_back();
        s.opening_reads = opening_reads;
        for (Long64_t entry = 0; entry < tree->GetEntriesFast(); ++entry) {
            if (entry % pause_every == 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            nt.GetEntry(entry);
            LorentzVector lep_p4;
            if (!passes_lepton_selection(veto, tight, lep_p4) || !passes_jet_selection(lep_p4)) continue;
            tree->GetEntry(entry);
            ++s.selected;
        }
        nt.Init(nullptr);
        s.blocking_reads = rootio::this_thread_stops().blocking_reads - before.blocking_reads - opening_reads;
        s.waits = rootio::this_thread_stops().waits - before.waits;
        s.requests = rootio::read_totals().requests - requests_before;
    }
    gDirectory = current;
    return stops;
}

class RemoteReads : public ::testing::Test {
protected:
    testutil::ScratchDir dir;
    testutil::XRootDServer server;
    testutil::DelayRelay relay{server.port(), std::chrono::milliseconds(2)};
};

TEST_F(RemoteReads, TheLoopWaitsOnlyForTheRunsFirstRequestWhateverTheFilesAndClusters)
{
    struct Case {
        int files;
        int clusters;  // per file
    };
    int published = 0;
    for (const Case c : {Case{1, 2}, Case{1, 8}, Case{3, 1}, Case{3, 3}}) {
        std::vector<std::string> urls;
        for (int k = 0; k < c.files; ++k) {
            const std::string name = "f" + std::to_string(published++) + ".root";
            write_event_file(dir.file(name), EventGenerator(7 + k).events(kCluster * c.clusters),
                             {.cluster = kCluster});
            urls.push_back(relay.url(name));
            server.publish(dir.file(name), name);
        }
        const std::vector<FileStops> stops = skim_reads(urls);
        for (size_t k = 0; k < stops.size(); ++k) {
            SCOPED_TRACE(std::to_string(c.files) + " files of " + std::to_string(c.clusters) + " clusters, file " +
                         std::to_string(k) + ", " + std::to_string(stops[k].selected) + " selected");
            ASSERT_GT(stops[k].selected, c.clusters) << "a whole-entry read in most clusters";
            // Every basket comes in a batch sent ahead: none is read on demand, whatever the
            // number of clusters and of selected entries.
            EXPECT_EQ(stops[k].opening_reads + stops[k].blocking_reads, 0u);
            // The first file waits for its first cluster, asked for when its loop starts; the
            // others' first clusters were asked for while the file before them was read.
            EXPECT_EQ(stops[k].waits, k == 0 ? 1u : 0u);
        }
    }
}

TEST_F(RemoteReads, FilesQuickerThanARoundTripAreRequestedSeveralAhead)
{
    // A round trip of 20 ms, one-cluster files skimmed in about 10: each file's first
    // cluster must go out several files before the loop gets to it.
    testutil::DelayRelay distant{server.port(), std::chrono::milliseconds(10)};
    std::vector<std::string> urls;
    for (int k = 0; k < 8; ++k) {
        const std::string name = "quick" + std::to_string(k) + ".root";
        write_event_file(dir.file(name), EventGenerator(20 + k).events(kCluster), {.cluster = kCluster});
        server.publish(dir.file(name), name);
        urls.push_back(distant.url(name));
    }
    const std::vector<FileStops> stops = skim_reads(urls, 50);
    for (size_t k = 0; k < stops.size(); ++k) {
        EXPECT_EQ(stops[k].opening_reads + stops[k].blocking_reads, 0u) << "file " << k;
        // The second file's request goes out as the first one's loop starts, one file
        // before it is needed; from the third on the requests are ahead of the loop.
        if (k != 1) EXPECT_EQ(stops[k].waits, k == 0 ? 1u : 0u) << "file " << k;
    }
}

TEST_F(RemoteReads, FirstClustersGoAheadOnlyOverTheNetworkAndWithinTheirBudget)
{
    std::vector<std::string> local, remote;
    for (int k = 0; k < 3; ++k) {
        const std::string name = "ahead" + std::to_string(k) + ".root";
        write_event_file(dir.file(name), EventGenerator(40 + k).events(kCluster), {.cluster = kCluster});
        local.push_back(dir.file(name));
        remote.push_back(server.publish(dir.file(name), name));
    }
    struct Case {
        bool over_the_network;
        int64_t budget_bytes;
        uint64_t requests;  // sent for the two files after the first
    };
    for (const Case c : {Case{true, int64_t{1} << 30, 2}, Case{true, 1, 0}, Case{false, int64_t{1} << 30, 0}}) {
        const std::vector<std::string>& paths = c.over_the_network ? remote : local;
        SCOPED_TRACE(paths.front() + ", budget " + std::to_string(c.budget_bytes));
        rootio::open_files_ahead(paths, "Events", 1);
        rootio::read_files_ahead(paths, 0, "Events");
        const uint64_t before = rootio::read_totals().requests;
        rootio::request_first_cluster_after(paths.front(), {{"nMuon", "Muon_pt"}, {"Jet_pt"}, c.budget_bytes});
        EXPECT_EQ(rootio::read_totals().requests - before, c.requests);
        for (const std::string& path : paths) {  // the loop's takes, leaving nothing kept
            const auto file = rootio::take_opened_file(path);
            const auto ahead = rootio::take_tree_read_ahead(*file, *file->find_path("Events"));
            ASSERT_TRUE(ahead.has_value());
            EXPECT_EQ(ahead->first_cluster.size(), &path != &paths.front() && c.requests > 0 ? 1u : 0u);
        }
    }
}

TEST_F(RemoteReads, AnRNTupleClusterCostsOneRequestAndAnotherForItsSelectedEntries)
{
    write_event_file(dir.file("tree.root"), EventGenerator(7).events(kCluster * 8));
    rootio::ntuple::WriteOptions options;
    options.cluster_bytes = size_t{100} << 10;
    convert::tree_to_ntuple(dir.file("tree.root"), dir.file("ntuple.root"), "Events", options);
    const auto file = rootio::RootFile::open(dir.file("ntuple.root"));
    const uint64_t clusters = rootio::ntuple::NtupleReader::open(*file, "Events")->descriptor().clusters.size();
    ASSERT_GE(clusters, 8u);
    const FileStops stops = skim_reads({server.publish(dir.file("ntuple.root"), "ntuple.root")}).front();
    // Each load is one batched read of one request, never a read per page or entry.
    EXPECT_EQ(stops.requests, stops.blocking_reads);
    EXPECT_GT(stops.selected, static_cast<int>(clusters)) << "a whole-entry read in most clusters";
    // One load per cluster for the selection, one more for the kept fields of a cluster with
    // a selected entry; learning the fields the selection reads costs one more at most.
    EXPECT_GE(stops.blocking_reads, clusters);
    EXPECT_LE(stops.blocking_reads, 2 * clusters + 1) << clusters << " clusters";
}

TEST_F(RemoteReads, TheCheckAndTheLoopOpenEachRemoteInputOnce)
{
    std::vector<std::string> urls;
    for (int k = 0; k < 3; ++k) {
        const std::string name = "f" + std::to_string(k) + ".root";
        write_event_file(dir.file(name), EventGenerator(11 + k).events(600));
        server.publish(dir.file(name), name);
        urls.push_back(relay.url(name));
    }
    const rootio::ReadTotals before = rootio::read_totals();
    TChain chain("Events");
    for (const std::string& url : urls) chain.Add(url.c_str());
    chain.SetBranchStatus("*", 0);
    chain.SetBranchStatus("Muon*", 1);
    skim::check_chain_inputs(chain);
    EXPECT_EQ(rootio::read_totals().opened - before.opened, urls.size()) << "the check opens each input";
    // Header, directory, keys list and tree record come in one request per file.
    EXPECT_EQ(rootio::read_totals().requests - before.requests, urls.size());
    const uint64_t blocking_reads = rootio::read_totals().blocking_reads;
    for (const std::string& url : urls) {
        TFile file(url.c_str());
        auto* tree = static_cast<TTree*>(file.Get("Events"));
        EXPECT_EQ(tree->GetEntries(), 600);
    }
    EXPECT_EQ(rootio::read_totals().opened - before.opened, urls.size()) << "the loop reuses what the check opened";
    EXPECT_EQ(rootio::read_totals().blocking_reads, blocking_reads) << "the check left its trees for the loop";
}

}  // namespace
