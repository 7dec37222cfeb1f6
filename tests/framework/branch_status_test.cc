// Branch status: wildcard patterns, the found count, the count-branch rule, and a chain
// replaying its remembered statuses in the order they were last set.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "TChain.h"
#include "TFile.h"
#include "TTree.h"
#include "framework/scratch_dir.h"
#include "framework/tree_files.h"
#include "testdata.h"

namespace {

std::vector<std::string> active_branches(TTree& tree)
{
    std::vector<std::string> names;
    for (TObject* obj : *tree.GetListOfBranches())
        if (tree.GetBranchStatus(obj->GetName())) names.push_back(obj->GetName());
    return names;
}

class BranchStatus : public ::testing::Test {
protected:
    void SetUp() override
    {
        fwtest::write_sample_tree(dir.file("sample.root"), 10);
        file = std::make_unique<TFile>(dir.file("sample.root").c_str());
        tree = static_cast<TTree*>(file->Get("Events"));
    }
    testutil::ScratchDir dir;
    std::unique_ptr<TFile> file;
    TTree* tree = nullptr;
};

TEST_F(BranchStatus, AllBranchesStartActiveAndStarDisablesThemAll)
{
    EXPECT_EQ(active_branches(*tree), fwtest::sample_branches());
    UInt_t found = 99;
    tree->SetBranchStatus("*", 0, &found);
    EXPECT_EQ(found, fwtest::sample_branches().size());
    EXPECT_TRUE(active_branches(*tree).empty());
}

TEST_F(BranchStatus, PatternsMatchTheWholeNameWithStarAndQuestionMark)
{
    struct Case {
        const char* pattern;
        std::vector<std::string> enabled;  // what the pattern enables after "*" off
        UInt_t found;
    };
    const std::vector<Case> cases = {
        {"Muon*", {"nMuon", "Muon_pt", "Muon_charge", "Muon_tightId"}, 3},  // nMuon by the count rule
        {"nMuon", {"nMuon"}, 1},
        {"Muon", {}, 0},                                  // a prefix is no match
        {"Jet*", {"nJet", "Jet_pt"}, 1},                  // not FatJet_pt, not nJet by name
        {"*Jet*", {"nJet", "Jet_pt", "FatJet_pt"}, 3},
        {"*Weight*", {"LHEWeight_originalXWGTUP"}, 1},
        {"MET_?t", {"MET_pt"}, 1},
        {"MET*", {"MET_pt", "MET_covXX"}, 2},
        {"Events.run", {"run"}, 1},                       // the tree-qualified name
        {"event*", {"event"}, 1},
        {"*_pt", {"nMuon", "Muon_pt", "nJet", "Jet_pt", "FatJet_pt", "MET_pt"}, 4},
        {"FatJet*", {"nJet", "FatJet_pt"}, 1},            // the count branch of another family
        {"trig_bits", {"trig_bits"}, 1},                  // a fixed-size array has no count
        {"Tau*", {}, 0},
    };
    for (const Case& c : cases) {
        tree->SetBranchStatus("*", 0);
        UInt_t found = 99;
        tree->SetBranchStatus(c.pattern, 1, &found);
        EXPECT_EQ(active_branches(*tree), c.enabled) << c.pattern;
        EXPECT_EQ(found, c.found) << c.pattern;
    }
}

TEST_F(BranchStatus, DisablingByPatternLeavesTheRest)
{
    tree->SetBranchStatus("Muon*", 0);
    std::vector<std::string> expected;
    for (const auto& name : fwtest::sample_branches())
        if (name.rfind("Muon", 0) != 0) expected.push_back(name);
    EXPECT_EQ(active_branches(*tree), expected) << "nMuon is not matched by Muon*, so it stays";
}

TEST_F(BranchStatus, AnActiveArrayKeepsItsCountBranchActive)
{
    tree->SetBranchStatus("*", 0);
    tree->SetBranchStatus("Jet_pt", 1);
    tree->SetBranchStatus("nJet", 0);
    EXPECT_TRUE(tree->GetBranchStatus("nJet")) << "an array read without its length cannot be copied";
    EXPECT_FALSE(tree->GetBranchStatus("nMuon"));
}

TEST_F(BranchStatus, ChainReplaysStatusesInTheOrderLastSet)
{
    TChain chain("Events", "");
    chain.Add(dir.file("sample.root").c_str());
    chain.SetBranchStatus("Jet*", 1);
    chain.SetBranchStatus("*", 0);
    chain.SetBranchStatus("Jet*", 1);  // set again: moves after "*"
    chain.SetBranchStatus("MET_pt", 1);

    ASSERT_NE(chain.GetListOfBranches(), nullptr);  // loads the first tree and replays
    ASSERT_NE(chain.GetTree(), nullptr);
    EXPECT_EQ(active_branches(*chain.GetTree()), (std::vector<std::string>{"nJet", "Jet_pt", "MET_pt"}));

    // Once loaded, a new status reaches the tree at once, found count included.
    UInt_t found = 0;
    chain.SetBranchStatus("Muon_pt", 1, &found);
    EXPECT_EQ(found, 1u);
    EXPECT_TRUE(chain.GetBranchStatus("nMuon"));
}

// The 28 keep patterns on a real file of ~950 branches, against an independent matcher
// (the C library's fnmatch) plus the count-branch rule.
TEST(BranchStatusOnRealFile, KeepListEnablesWhatFnmatchAndCountRuleSay)
{
    REQUIRE_TESTDATA(path, "collider-sample-ttbar.root");
    const std::vector<std::string> patterns = {
        "Electron*", "nElectron", "Muon*",   "nMuon",   "Tau*",       "nTau",     "Jet*",
        "nJet",      "FatJet*",   "nFatJet", "GenPart*", "nGenPart",  "GenJet*",  "nGenJet",
        "Generator*", "MET*",     "event*",  "run*",    "luminosityBlock*", "genWeight*", "btagWeight*",
        "LHE*",      "*Weight*",  "Flag*",   "SubJet*", "HLT_*",      "Pileup*",  "fixedGridRhoFastjetAll"};

    TFile file(path.c_str());
    auto* tree = static_cast<TTree*>(file.Get("Events"));
    tree->SetBranchStatus("*", 0);
    for (const auto& p : patterns) tree->SetBranchStatus(p.c_str(), 1);

    std::set<std::string> expected;
    for (TObject* obj : *tree->GetListOfBranches()) {
        auto* branch = static_cast<TBranch*>(obj);
        for (const auto& p : patterns)
            if (fnmatch(p.c_str(), branch->GetName(), 0) == 0) {
                expected.insert(branch->GetName());
                if (TBranch* count = branch->GetBranchCount()) expected.insert(count->GetName());
            }
    }
    std::vector<std::string> expected_in_order;
    for (TObject* obj : *tree->GetListOfBranches())
        if (expected.count(obj->GetName())) expected_in_order.push_back(obj->GetName());

    EXPECT_EQ(active_branches(*tree), expected_in_order);
    // Spot checks that make the comparison meaningful on this file.
    EXPECT_TRUE(tree->GetBranchStatus("nGenJetAK8")) << "count of GenJetAK8_* arrays, kept by GenJet*";
    EXPECT_FALSE(tree->GetBranchStatus("fixedGridRhoFastjetCentral")) << "no wildcard in that pattern";
    EXPECT_TRUE(tree->GetBranchStatus("nLHEPdfWeight")) << "matched by *Weight*";
    EXPECT_FALSE(tree->GetBranchStatus("nCorrT1METJet"));
    EXPECT_FALSE(tree->GetBranchStatus("CaloMET_pt"));
    EXPECT_GT(expected_in_order.size(), 300u);
}

}  // namespace
