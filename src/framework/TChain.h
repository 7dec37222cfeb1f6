#pragma once
// A chain of files holding a tree of the same name. Files are opened only when needed:
// branch statuses are remembered and applied to each tree as it is loaded.
#include "TChainElement.h"
#include "TFile.h"
#include "TTree.h"

class TChain : public TTree {
public:
    TChain(const char* name, const char* title = "");
    ~TChain() override;

    const char* ClassName() const override { return "TChain"; }

    // Adds one file, or every file a wildcard in the file-name part matches (in name
    // order; none when nothing matches). With nentries at its default a file is not opened
    // until its entry count is needed; a value <= 0 opens it now to count; any other value
    // is taken as the count of a single named file. Returns the number of files added.
    virtual Int_t Add(const char* name, Long64_t nentries = TTree::kMaxEntries);

    TObjArray* GetListOfFiles() const { return &fFiles; }
    Int_t GetNtrees() const { return fFiles.GetEntries(); }

    // Opens every file whose count is still unknown.
    Long64_t GetEntries() const override;
    // The total so far: kMaxEntries while some file's count is unknown.
    Long64_t GetEntriesFast() const override;

    void SetBranchStatus(const char* bname, Bool_t status = 1, UInt_t* found = nullptr) override;
    Bool_t GetBranchStatus(const char* branchname) const override;
    // Clones the first file's tree (structure and active branches). Copying entries
    // (nentries != 0) is done file by file by the caller.
    TTree* CloneTree(Long64_t nentries = -1, Option_t* option = "") override;

    // The loaded tree (the first file's once the chain needed one), or nullptr.
    TTree* GetTree() const { return fTree; }
    TFile* GetCurrentFile() const override { return fFile; }
    TBranch* GetBranch(const char* name) override;
    TObjArray* GetListOfBranches() override;

    Int_t GetEntry(Long64_t entry = 0, Int_t getall = 0) override;
    Int_t Fill() override;

private:
    void LoadFirstTree();

    mutable TObjArray fFiles;  // TChainElement per file, owned
    TObjArray fStatus;         // TChainElement per pattern, in the order last set, owned
    TFile* fFile = nullptr;    // owned; owns fTree
    TTree* fTree = nullptr;
};
