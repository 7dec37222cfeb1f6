// What the event loop costs: a rejected event reads only the branches the selection needs,
// kept branches are read only for selected events, a branch is read once per entry however
// often it is asked for, and once warm the loop allocates nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "Heron.h"
#include "TFile.h"
#include "TTree.h"
#include "framework/scratch_dir.h"
#include "selection.h"
#include "selection_report.h"
#include "skim/event_files.h"
#include "skim/generated_events.h"
#include "counting_new.h"


namespace {

using namespace skimtest;

const std::vector<const char*> kKeepPatterns = {
    "Electron*", "nElectron", "Muon*",   "nMuon",   "Tau*",       "nTau",     "Jet*",
    "nJet",      "FatJet*",   "nFatJet", "GenPart*", "nGenPart",  "GenJet*",  "nGenJet",
    "Generator*", "MET*",     "event*",  "run*",    "luminosityBlock*", "genWeight*", "btagWeight*",
    "LHE*",      "*Weight*",  "Flag*",   "SubJet*", "HLT_*",      "Pileup*",  "fixedGridRhoFastjetAll"};

// The branches behind the accessors the selection calls (the _p4 ones read all four).
const std::set<std::string> kSelectionBranches = {
    "nElectron", "Electron_pt", "Electron_eta", "Electron_phi", "Electron_mass", "Electron_deltaEtaSC",
    "Electron_dz", "Electron_dxy", "Electron_cutBased", "nMuon", "Muon_pt", "Muon_eta", "Muon_phi",
    "Muon_mass", "Muon_pfRelIso04_all", "Muon_tightId", "nJet", "Jet_pt", "Jet_eta", "Jet_phi",
    "Jet_mass", "nFatJet", "FatJet_pt", "FatJet_eta", "FatJet_phi", "FatJet_mass", "FatJet_msoftdrop",
    "FatJet_particleNetMD_Xbb", "FatJet_particleNetMD_QCD", "MET_pt"};

void prune(TTree& tree)
{
    tree.SetBranchStatus("*", 0);
    for (const char* p : kKeepPatterns) tree.SetBranchStatus(p, 1);
}

bool select(std::vector<LorentzVector>& veto, std::vector<LorentzVector>& tight)
{
    LorentzVector lep_p4;
    return passes_lepton_selection(veto, tight, lep_p4) && passes_jet_selection(lep_p4);
}

class ReadingCost : public ::testing::Test {
protected:
    void SetUp() override { write_event_file(input(), EventGenerator(23).events(3000)); }
    void TearDown() override { nt.Init(nullptr); }
    std::string input() const { return dir.file("input.root"); }
    testutil::ScratchDir dir;
};

TEST_F(ReadingCost, KeptBranchesAreReadOnlyForSelectedEvents)
{
    TFile file(input().c_str());
    auto* tree = static_cast<TTree*>(file.Get("Events"));
    prune(*tree);
    nt.Init(tree);
    std::vector<LorentzVector> veto, tight;
    Long64_t last_selected = -1;
    int n_selected = 0;
    for (unsigned int event = 0; event < tree->GetEntriesFast(); ++event) {
        nt.GetEntry(event);
        if (select(veto, tight)) {
            tree->GetEntry(event);
            last_selected = event;
            ++n_selected;
        }
        for (TObject* obj : *tree->GetListOfBranches()) {
            const auto* branch = static_cast<TBranch*>(obj);
            if (kSelectionBranches.count(branch->GetName())) continue;
            // Not read since the last selected event (a pruned branch: never).
            const Long64_t expected = tree->GetBranchStatus(branch->GetName()) ? last_selected : -1;
            ASSERT_EQ(branch->GetReadEntry(), expected) << branch->GetName() << " at entry " << event;
        }
    }
    EXPECT_GT(n_selected, 10);
}

TEST_F(ReadingCost, ABranchIsReadOncePerEntryHoweverOftenItIsAskedFor)
{
    TFile file(input().c_str());
    auto* tree = static_cast<TTree*>(file.Get("Events"));
    nt.Init(tree);
    nt.GetEntry(5);
    const uint64_t reads = nt.branch_reads();
    const float first = nt.MET_pt();
    const auto& pts = nt.Electron_pt();
    EXPECT_EQ(nt.branch_reads(), reads + 2);
    EXPECT_EQ(nt.MET_pt(), first);
    EXPECT_EQ(&nt.Electron_pt(), &pts);
    nt.Electron_p4();
    nt.Electron_p4();
    EXPECT_EQ(nt.branch_reads(), reads + 5) << "the p4 reads eta, phi and mass once more, pt is cached";
    nt.GetEntry(6);
    nt.MET_pt();
    EXPECT_EQ(nt.branch_reads(), reads + 6) << "a new entry reads again";
}

// Runs the skim's loop over the input until warm, then once more, which must allocate
// nothing per event. With the read cache, each pass learns again, so it goes through
// learning, reading ahead and whole-entry batches like the first.
void expect_warm_loop_allocates_nothing(const testutil::ScratchDir& dir, const std::string& input, bool cached)
{
    // Output trees buffer whole baskets: give them a file to flush into.
    TFile out(dir.file("output.root").c_str(), "RECREATE");
    TFile file(input.c_str());
    auto* tree = static_cast<TTree*>(file.Get("Events"));
    if (cached) {
        tree->SetCacheSize(128 << 20);
        tree->SetCacheLearnEntries(100);
    }
    prune(*tree);
    out.cd();
    TTree* output_tree = tree->CloneTree(0);
    tree->CopyAddresses(output_tree);
    nt.Init(tree);
    std::vector<LorentzVector> veto, tight;
    auto loop = [&] {
        int n_selected = 0;
        for (unsigned int event = 0; event < tree->GetEntriesFast(); ++event) {
            nt.GetEntry(event);
            if (!select(veto, tight)) continue;
            tree->GetEntry(event);
            output_tree->Fill();
            ++n_selected;
        }
        return n_selected;
    };
    // Warm: baskets, decode buffers, lists and output baskets reach their sizes, and the
    // cache its number of baskets in flight (a pass that starts with baskets loaded reads
    // ahead differently from the first, so it takes two).
    for (int pass = 0; pass < (cached ? 2 : 1); ++pass) {
        loop();
        if (cached) tree->SetCacheLearnEntries(100);
    }
    const uint64_t before = g_allocations.load();
    const int n_selected = loop();
    const uint64_t during = g_allocations.load() - before;
    ASSERT_GT(n_selected, 40);
    // An event, selected or not, may not allocate; only the output's basket tables may grow
    // now and then as baskets are written.
    EXPECT_LT(during, static_cast<uint64_t>(n_selected / 4))
        << during << " allocations over " << tree->GetEntriesFast() << " warm events, " << n_selected << " selected";
}

TEST_F(ReadingCost, TheWarmReportAllocatesNothingPerEvent)
{
    TFile file(input().c_str());
    auto* tree = static_cast<TTree*>(file.Get("Events"));
    nt.Init(tree);
    SelectionReport report;
    auto loop = [&] {
        for (unsigned int event = 0; event < tree->GetEntriesFast(); ++event) {
            nt.GetEntry(event);
            report.add_current_event();
        }
    };
    loop();  // warm: baskets, decode buffers and lepton lists reach their sizes
    const uint64_t before = g_allocations.load();
    loop();
    EXPECT_EQ(g_allocations.load() - before, 0u);
    EXPECT_EQ(report.events_after_stage().front(), 2 * static_cast<int64_t>(tree->GetEntriesFast()));
}

TEST_F(ReadingCost, TheWarmEventLoopAllocatesNothingPerEvent)
{
    expect_warm_loop_allocates_nothing(dir, input(), false);
}

TEST_F(ReadingCost, TheWarmEventLoopWithTheReadCacheAllocatesNothingPerEvent)
{
    expect_warm_loop_allocates_nothing(dir, input(), true);
}

}  // namespace
