// The selection at every boundary, in the precision each comparison is made in, run through
// the reader on crafted files.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "Heron.h"
#include "TFile.h"
#include "TTree.h"
#include "framework/scratch_dir.h"
#include "rootio/format/error.h"
#include "selection.h"
#include "skim/event_files.h"
#include "skim/selection_cases.h"

namespace {

using namespace skimtest;

// Event numbers of the entries the whole selection passes.
std::set<uint64_t> passing_event_numbers(const std::string& path)
{
    TFile file(path.c_str());
    auto* tree = (TTree*)file.Get("Events");
    nt.Init(tree);
    std::vector<LorentzVector> veto_lep_p4s, tight_lep_p4s;
    std::set<uint64_t> passed;
    for (unsigned int event = 0; event < tree->GetEntriesFast(); ++event) {
        nt.GetEntry(event);
        LorentzVector lep_p4;
        if (passes_lepton_selection(veto_lep_p4s, tight_lep_p4s, lep_p4) && passes_jet_selection(lep_p4))
            passed.insert(nt.event());
    }
    return passed;
}

TEST(Selection, EachBoundaryCaseHasItsOutcome)
{
    testutil::ScratchDir dir;
    const std::string path = dir.file("cases.root");
    write_event_file(path, selection_case_events());
    const auto passed = passing_event_numbers(path);
    const auto cases = selection_cases();
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(passed.count(1000 + i) == 1, cases[i].passes) << cases[i].what;
}

TEST(Selection, LeptonListsHoldVetoThenTightInLoopOrder)
{
    testutil::ScratchDir dir;
    Event e = passing_event(1);
    Electron veto_only;
    veto_only.pt = 20;
    veto_only.phi = 1.0f;
    e.electrons.push_back(veto_only);
    Muon muon;
    muon.phi = -1.0f;
    e.muons = {muon};
    write_event_file(dir.file("leptons.root"), {e});

    TFile file(dir.file("leptons.root").c_str());
    nt.Init((TTree*)file.Get("Events"));
    nt.GetEntry(0);
    std::vector<LorentzVector> veto, tight;
    LorentzVector lep_p4(1, 2, 3, 4);
    EXPECT_FALSE(passes_lepton_selection(veto, tight, lep_p4));
    ASSERT_EQ(veto.size(), 3u);
    ASSERT_EQ(tight.size(), 2u);
    EXPECT_EQ(veto[0].Phi(), 0.0f);
    EXPECT_EQ(veto[1].Phi(), 1.0f);
    EXPECT_EQ(veto[2].Phi(), -1.0f);
    EXPECT_EQ(tight[0].Phi(), 0.0f);
    EXPECT_EQ(tight[1].Phi(), -1.0f);
    EXPECT_EQ(lep_p4, LorentzVector(1, 2, 3, 4)) << "a rejected event leaves lep_p4 alone";
}

TEST(Selection, CountAboveTheStoredArrayRaisesTheLibraryRangeError)
{
    testutil::ScratchDir dir;
    const std::string path = dir.file("overstated.root");
    FileOptions opt;
    opt.overstate_nElectron = true;
    write_event_file(path, {passing_event(7)}, opt);

    TFile file(path.c_str());
    nt.Init((TTree*)file.Get("Events"));
    nt.GetEntry(0);
    EXPECT_EQ(nt.nElectron(), 2u);
    EXPECT_EQ(nt.Electron_pt().size(), 1u) << "vectors hold what the basket stores, not the count";
    std::vector<LorentzVector> veto, tight;
    LorentzVector lep_p4;
    try {
        passes_lepton_selection(veto, tight, lep_p4);
        FAIL() << "no out_of_range raised";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "vector::_M_range_check: __n (which is 1) >= this->size() (which is 1)");
    }
}

TEST(Selection, BooleanArrayShorterThanItsCountRaisesTheBooleanRangeError)
{
    testutil::ScratchDir dir;
    const std::string path = dir.file("short_tight_id.root");
    FileOptions opt;
    opt.short_tightId = true;
    Event e = passing_event(9);
    e.muons = {Muon{}, Muon{}};
    write_event_file(path, {e}, opt);

    TFile file(path.c_str());
    nt.Init((TTree*)file.Get("Events"));
    nt.GetEntry(0);
    std::vector<LorentzVector> veto, tight;
    LorentzVector lep_p4;
    try {
        passes_lepton_selection(veto, tight, lep_p4);
        FAIL() << "no out_of_range raised";
    } catch (const std::out_of_range& err) {
        EXPECT_STREQ(err.what(), "vector<bool>::_M_range_check: __n (which is 1) >= this->size() (which is 1)");
    }
    EXPECT_EQ(veto.size(), 2u) << "the electron and the first muon were sorted before the error";
    nt.Init(nullptr);
}

TEST(Selection, MissingBranchIsReportedAtTheFirstEntryThatReadsIt)
{
    testutil::ScratchDir dir;
    const std::string path = dir.file("no_dz.root");
    FileOptions opt;
    opt.omit_branch = "Electron_dz";
    Event no_leptons = passing_event(1);
    no_leptons.electrons.clear();
    write_event_file(path, {no_leptons, no_leptons, passing_event(3)}, opt);

    TFile file(path.c_str());
    nt.Init((TTree*)file.Get("Events"));
    std::vector<LorentzVector> veto, tight;
    LorentzVector lep_p4;
    for (unsigned int event = 0; event < 2; ++event) {
        nt.GetEntry(event);
        EXPECT_FALSE(passes_lepton_selection(veto, tight, lep_p4));
    }
    nt.GetEntry(2);
    try {
        passes_lepton_selection(veto, tight, lep_p4);
        FAIL() << "no error for the missing branch";
    } catch (const rootio::RootError& e) {
        EXPECT_EQ(std::string(e.what()), path + ": entry 2: branch Electron_dz is not in tree Events");
    }
}

}  // namespace
