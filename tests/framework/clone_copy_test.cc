// CloneTree(0) gives the active branches' structure in the current file; GetEntry +
// CopyAddresses + Fill copies entries byte for byte, checked by re-reading both files with
// the engine's branch reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "TFile.h"
#include "TTree.h"
#include "framework/scratch_dir.h"
#include "framework/tree_files.h"
#include "rootio/format/bytes.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/format/error.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"
#include "testdata.h"

namespace {

std::vector<std::string> branch_names(TTree& tree)
{
    std::vector<std::string> names;
    for (TObject* obj : *tree.GetListOfBranches()) names.push_back(obj->GetName());
    return names;
}

// Every branch of `output` entry j holds the bytes of the same-named `input` branch at
// entry picked[j].
void expect_entries_copied(const std::string& input, const std::string& output, const std::string& tree_name,
                           const std::vector<int64_t>& picked)
{
    const auto in_file = rootio::RootFile::open(input);
    const auto out_file = rootio::RootFile::open(output);
    const rootio::TreeInfo in_tree = rootio::read_tree(*in_file, tree_name);
    const rootio::TreeInfo out_tree = rootio::read_tree(*out_file, tree_name);
    ASSERT_EQ(out_tree.entries, static_cast<int64_t>(picked.size()));
    for (size_t b = 0; b < out_tree.branches.size(); ++b) {
        const std::string& name = out_tree.branches[b].name;
        const int in_index = in_tree.find_branch(name);
        ASSERT_GE(in_index, 0) << name;
        rootio::BranchReader in_reader(*in_file, in_tree, in_index);
        rootio::BranchReader out_reader(*out_file, out_tree, static_cast<int>(b));
        for (size_t j = 0; j < picked.size(); ++j) {
            const auto want = in_reader.entry_bytes(picked[j]);
            const std::vector<uint8_t> want_copy(want.begin(), want.end());
            const auto got = out_reader.entry_bytes(static_cast<int64_t>(j));
            ASSERT_EQ(std::vector<uint8_t>(got.begin(), got.end()), want_copy)
                << name << " output entry " << j << " (input entry " << picked[j] << ")";
        }
    }
}

class CloneTree : public ::testing::Test {
protected:
    void SetUp() override { fwtest::write_sample_tree(input(), 12000, 101); }
    std::string input() const { return dir.file("input.root"); }
    std::string output() const { return dir.file("output.root"); }
    testutil::ScratchDir dir;
};

TEST_F(CloneTree, EmptyCloneHasTheActiveBranchesWithTheirStructureInTheCurrentFile)
{
    TFile in(input().c_str());
    auto* tree = static_cast<TTree*>(in.Get("Events"));
    tree->SetBranchStatus("*", 0);
    tree->SetBranchStatus("Muon_tightId", 1);
    tree->SetBranchStatus("event", 1);
    tree->SetBranchStatus("trig_bits", 1);
    tree->SetBranchStatus("FatJet*", 1);

    auto* out = new TFile(output().c_str(), "RECREATE");
    TTree* clone = tree->CloneTree(0);
    EXPECT_EQ(branch_names(*clone),
              (std::vector<std::string>{"event", "nMuon", "Muon_tightId", "nJet", "FatJet_pt", "trig_bits"}));
    EXPECT_EQ(clone->GetEntries(), 0);
    EXPECT_STREQ(clone->GetName(), "Events");
    EXPECT_STREQ(clone->GetTitle(), "sample events");
    EXPECT_EQ(clone->GetDirectory(), out);
    EXPECT_EQ(out->FindObject("Events"), clone);
    for (TObject* obj : *clone->GetListOfBranches()) {
        const rootio::BranchInfo& got = static_cast<TBranch*>(obj)->GetInfo();
        const rootio::BranchInfo& want = tree->GetBranch(obj->GetName())->GetInfo();
        EXPECT_EQ(got.title, want.title) << got.name;
        EXPECT_EQ(got.leaf.title, want.leaf.title) << got.name;
        EXPECT_EQ(got.leaf.type, want.leaf.type) << got.name;
        EXPECT_EQ(got.leaf.len, want.leaf.len) << got.name;
        EXPECT_EQ(got.leaf.is_range, want.leaf.is_range) << got.name;
        EXPECT_EQ(got.leaf.count_leaf, want.leaf.count_leaf) << got.name;
    }
    EXPECT_EQ(clone->GetBranch("FatJet_pt")->GetBranchCount(), clone->GetBranch("nJet"));

    // The file owns the clone: writing and closing stores it and disposes of it.
    out->Write();
    out->Close();
    EXPECT_EQ(out->GetList()->GetEntries(), 0);
    delete out;

    TFile back(output().c_str());
    auto* stored = static_cast<TTree*>(back.Get("Events"));
    EXPECT_EQ(branch_names(*stored),
              (std::vector<std::string>{"event", "nMuon", "Muon_tightId", "nJet", "FatJet_pt", "trig_bits"}));
    EXPECT_EQ(stored->GetEntries(), 0);
}

TEST_F(CloneTree, NeedsAFileOpenForWritingAsCurrentDirectory)
{
    TFile in(input().c_str());
    auto* tree = static_cast<TTree*>(in.Get("Events"));
    try {
        tree->CloneTree(0);  // the current directory is the input file
        FAIL() << "cloned into a read-only file";
    } catch (const rootio::RootError& e) {
        EXPECT_NE(std::string(e.what()).find(input()), std::string::npos) << e.what();
    }
}

TEST_F(CloneTree, SelectedEntriesAreCopiedByteForByte)
{
    const std::vector<int64_t> picked = {0, 1, 7, 4999, 5000, 9001, 11999};
    {
        TFile in(input().c_str());
        auto* tree = static_cast<TTree*>(in.Get("Events"));
        tree->SetBranchStatus("*", 0);
        for (const char* p : {"event", "Muon*", "Jet*", "MET*", "HLT*", "trig_bits"}) tree->SetBranchStatus(p, 1);
        TFile out(output().c_str(), "RECREATE");
        TTree* clone = tree->CloneTree(0);
        tree->CopyAddresses(clone);
        for (int64_t entry : picked) {
            ASSERT_GT(tree->GetEntry(entry), 0);
            ASSERT_GT(clone->Fill(), 0);
        }
        EXPECT_EQ(clone->GetEntries(), static_cast<Long64_t>(picked.size()));
        out.Write();
        out.Close();
    }
    expect_entries_copied(input(), output(), "Events", picked);
}

TEST_F(CloneTree, FillAfterTheInputFileIsGoneIsAnErrorNotACrash)
{
    TFile out(output().c_str(), "RECREATE");
    TTree* clone = nullptr;
    {
        auto* in = new TFile(input().c_str());
        auto* tree = static_cast<TTree*>(in->Get("Events"));
        out.cd();
        clone = tree->CloneTree(0);
        tree->CopyAddresses(clone);
        tree->GetEntry(3);
        clone->Fill();
        delete in;  // also deletes `tree`; the clone must drop its links to it
    }
    EXPECT_THROW(clone->Fill(), rootio::RootError);
    EXPECT_EQ(clone->GetEntries(), 1);
}

TEST_F(CloneTree, DeletingTheOutputFileDisposesOfTheCloneAndItsLinks)
{
    auto* in = new TFile(input().c_str());
    auto* tree = static_cast<TTree*>(in->Get("Events"));
    auto* out = new TFile(output().c_str(), "RECREATE");
    TTree* clone = tree->CloneTree(0);
    tree->CopyAddresses(clone);
    tree->GetEntry(0);
    clone->Fill();
    delete out;  // never written: the clone goes, and so does the file
    EXPECT_FALSE(std::filesystem::exists(output())) << "an unwritten output must not look complete";
    EXPECT_GT(tree->GetEntry(1), 0);
    delete in;  // must not reach the deleted clone (AddressSanitizer builds check this)
}

TEST_F(CloneTree, EntryIsCopiedOnlyWhenEveryBranchHoldsTheSameEntry)
{
    TFile in(input().c_str());
    auto* tree = static_cast<TTree*>(in.Get("Events"));
    TFile out(output().c_str(), "RECREATE");
    TTree* clone = tree->CloneTree(0);
    tree->CopyAddresses(clone);
    tree->GetEntry(10);
    tree->GetBranch("MET_pt")->GetEntry(11);  // one branch moved on alone
    EXPECT_THROW(clone->Fill(), rootio::RootError);
}

// A fault in what an input holds is reported against that input (and the entry), not the
// output it was being copied into. The input is stored uncompressed, so a case can bend it.
TEST_F(CloneTree, AnInconsistentInputIsNamedNotTheOutput)
{
    const std::string bad = dir.file("bad.root");
    {
        rootio::FileWriter file(bad, 0);
        rootio::TreeWriter tree(file, "t", "");
        tree.set_value(tree.add_branch("n", rootio::LeafType::UInt32), uint32_t{2});
        tree.set_values<float>(tree.add_branch("x", rootio::LeafType::Float, "n"), std::vector<float>{1, 2});
        tree.set_values<float>(tree.add_branch("fa", rootio::LeafType::Float, {}, 3),
                               std::vector<float>{1, 2, 3});
        tree.fill();
        tree.write();
        file.close();
    }
    // Each case sets the 32 bits `skip` bytes after `after`, on top of the cases before it:
    // entry 0 of n, past its basket's header, raised to 3 while x stores 2; then fa's leaf
    // length made -3.
    const struct {
        std::string after;
        size_t skip;
        int32_t value;
        std::string error;  // after the input's path
    } cases[] = {
        {"", 0, 0, ": TTree t: branch n has no input entry to copy into " + output()},
        {"\x07TBasket\x01n\x01t", 19, 3,
         ": entry 0: branch x: 2 elements given, but n = 3 elements expected (not copied into " + output() +
             ")"},
        {"\2fa\5fa[3]", 0, -3, ": branch fa: cannot be copied: leaf length -3"},
    };
    for (const auto& c : cases) {
        std::ifstream in_bytes(bad, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in_bytes)), {});
        if (const size_t at = bytes.find(c.after); !c.after.empty() && at != std::string::npos)
            rootio::store_be<int32_t>(reinterpret_cast<uint8_t*>(bytes.data() + at + c.after.size() + c.skip),
                                      c.value);
        std::ofstream(bad, std::ios::binary) << bytes;
        TFile in(bad.c_str());
        auto* tree = static_cast<TTree*>(in.Get("t"));
        TFile out(output().c_str(), "RECREATE");
        std::string error;
        try {
            TTree* clone = tree->CloneTree(0);
            if (!c.after.empty()) tree->GetEntry(0);
            clone->Fill();
        } catch (const rootio::RootError& e) {
            error = e.what();
        }
        EXPECT_EQ(error, bad + c.error);
    }
}

// A file written by the framework itself (baskets embedded in the tree record, ~950
// branches, many pruned away): the output holds exactly the chosen entries.
TEST(CloneTreeOnRealFile, CopiesEntriesOfAFrameworkWrittenFileUnchanged)
{
    REQUIRE_TESTDATA(path, "collider-sample-ttbar.root");
    testutil::ScratchDir dir;
    const std::string output = dir.file("output.root");
    std::vector<int64_t> picked;
    for (int64_t i = 0; i < 200; i += 3) picked.push_back(i);
    {
        TFile in(path.c_str());
        auto* tree = static_cast<TTree*>(in.Get("Events"));
        tree->SetBranchStatus("*", 0);
        for (const char* p : {"Electron*", "Muon*", "Jet*", "event", "HLT_*", "MET*", "nFatJet", "FatJet*"})
            tree->SetBranchStatus(p, 1);
        TFile out(output.c_str(), "RECREATE");
        TTree* clone = tree->CloneTree(0);
        tree->CopyAddresses(clone);
        for (int64_t entry : picked) {
            tree->GetEntry(entry);
            clone->Fill();
        }
        out.Write();
        out.Close();
    }
    expect_entries_copied(path.string(), output, "Events", picked);
}

}  // namespace
