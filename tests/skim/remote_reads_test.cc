// The event loop over files on an XRootD server behind a relay that delays every chunk:
// the loop reads nothing on demand whatever the file's number of clusters and of selected
// entries (every basket comes in a batch sent ahead), waits at most once per cluster, and
// each input is opened once for the check and the loop together. An RNTuple's cluster
// loads are one request each: the selection's fields per cluster, the kept ones once more
// for a cluster with a selected entry.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "Heron.h"
#include "TChain.h"
#include "TFile.h"
#include "TTree.h"
#include "delay_relay.h"
#include "framework/scratch_dir.h"
#include "rootio/io/byte_source.h"
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

// What the loop thread stopped for while reading one file as the skim does.
struct LoopStops {
    uint64_t blocking_reads = 0;
    uint64_t waits = 0;
    uint64_t requests = 0;
    int selected = 0;
};

LoopStops skim_reads(const std::string& url)
{
    TFile file(url.c_str());
    auto* tree = static_cast<TTree*>(file.Get("Events"));
    tree->SetCacheSize(134217728);
    tree->SetCacheLearnEntries(100);
    tree->SetBranchStatus("*", 0);
    for (const char* p : {"Electron*", "nElectron", "Muon*", "nMuon", "Jet*", "nJet", "FatJet*", "nFatJet", "MET*",
                          "event*", "run*"})
        tree->SetBranchStatus(p, 1);
    nt.Init(tree);
    const rootio::ReadTotals before = rootio::read_totals();
    LoopStops stops;
    std::vector<LorentzVector> veto, tight;
    for (Long64_t entry = 0; entry < tree->GetEntriesFast(); ++entry) {
        nt.GetEntry(entry);
        LorentzVector lep_p4;
        if (!passes_lepton_selection(veto, tight, lep_p4) || !passes_jet_selection(lep_p4)) continue;
        tree->GetEntry(entry);
        ++stops.selected;
    }
    nt.Init(nullptr);
    stops.blocking_reads = rootio::read_totals().blocking_reads - before.blocking_reads;
    stops.waits = rootio::read_totals().waits - before.waits;
    stops.requests = rootio::read_totals().requests - before.requests;
    return stops;
}

class RemoteReads : public ::testing::Test {
protected:
    testutil::ScratchDir dir;
    testutil::XRootDServer server;
    testutil::DelayRelay relay{server.port(), std::chrono::milliseconds(20)};
};

TEST_F(RemoteReads, TheLoopReadsNothingOnDemandAndWaitsAtMostOncePerCluster)
{
    std::vector<LoopStops> stops;
    for (const int clusters : {2, 8}) {
        const std::string name = "c" + std::to_string(clusters) + ".root";
        write_event_file(dir.file(name), EventGenerator(7).events(kCluster * clusters), {.cluster = kCluster});
        server.publish(dir.file(name), name);
        stops.push_back(skim_reads(relay.url(name)));
        EXPECT_GT(stops.back().selected, clusters) << "a whole-entry read in most clusters";
    }
    for (size_t k = 0; k < stops.size(); ++k) {
        const uint64_t clusters = k == 0 ? 2 : 8;
        // Every basket comes in a batch sent ahead: none is read on demand, whatever the
        // number of clusters and of selected entries.
        EXPECT_EQ(stops[k].blocking_reads, 0u) << clusters << " clusters";
        // The loop waits for the learning window's batch, and at most for each cluster's
        // batch (when a cluster takes less than a round trip), never per selected entry.
        EXPECT_GE(stops[k].waits, 1u);
        EXPECT_LE(stops[k].waits, 1 + clusters) << stops[k].selected << " selected";
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
    const LoopStops stops = skim_reads(server.publish(dir.file("ntuple.root"), "ntuple.root"));
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
    const uint64_t opened = rootio::read_totals().opened;
    TChain chain("Events");
    for (const std::string& url : urls) chain.Add(url.c_str());
    chain.SetBranchStatus("*", 0);
    chain.SetBranchStatus("Muon*", 1);
    skim::check_chain_inputs(chain);
    EXPECT_EQ(rootio::read_totals().opened - opened, urls.size()) << "the check opens each input";
    uint64_t blocking_reads = rootio::read_totals().blocking_reads;
    for (const std::string& url : urls) {
        TFile file(url.c_str());
        auto* tree = static_cast<TTree*>(file.Get("Events"));
        EXPECT_EQ(tree->GetEntries(), 600);
    }
    EXPECT_EQ(rootio::read_totals().opened - opened, urls.size()) << "the loop reuses what the check opened";
    EXPECT_EQ(rootio::read_totals().blocking_reads, blocking_reads + urls.size()) << "one read of each tree";
}

}  // namespace
