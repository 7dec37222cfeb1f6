#pragma once
// A flat tree, either read from a file (its branches read through the engine, raw bytes,
// no decoding) or written into one (entries copied byte for byte from an input tree whose
// addresses it shares). Trees belong to the directory they were created in.
#include <limits>
#include <memory>
#include <vector>

#include "TBranch.h"
#include "TNamed.h"
#include "TObjArray.h"
#include "rootio/tree/first_cluster_ahead.h"
#include "rootio/tree/read_cache.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_model.h"
#include "rootio/tree/tree_writer.h"

class TDirectory;
class TFile;
namespace convert {
class NtupleBranches;
class NtupleOutput;
}  // namespace convert
namespace rootio::ntuple {
class NtupleReader;
}  // namespace rootio::ntuple

class TTree : public TNamed {
public:
    static constexpr Long64_t kMaxEntries = std::numeric_limits<Long64_t>::max();

    TTree(const TTree&) = delete;
    TTree& operator=(const TTree&) = delete;
    // Leaves its directory, and drops the links other trees hold to its branches.
    ~TTree() override;

    const char* ClassName() const override { return "TTree"; }

    // `bname` is a branch name or a pattern where * matches any run of characters and ?
    // one character. Enabling a branch also enables the branch holding its length.
    virtual void SetBranchStatus(const char* bname, Bool_t status = 1, UInt_t* found = nullptr);
    virtual Bool_t GetBranchStatus(const char* branchname) const;

    // A new tree in the current directory with this tree's active branches (names, titles,
    // leaf types, count leaves, order) and its first `nentries` entries (-1: all). The
    // clone shares this tree's addresses. Option "rntuple" writes the clone as an RNTuple
    // of the same name, laid out as treeconvert lays out a tree.
    virtual TTree* CloneTree(Long64_t nentries = -1, Option_t* option = "");
    // Makes `tree`'s same-named branches take their values from this tree's active
    // branches (undo: no longer).
    virtual void CopyAddresses(TTree* tree, Bool_t undo = kFALSE);

    // A read cache of `cachesize` bytes (negative: the default, 0: none) for a tree read from
    // a file: after the learning entries, the branches the loop read by themselves are read
    // a cluster ahead and decompressed on the worker threads; a whole-entry read fetches
    // the baskets it needs in one batch. Returns 0.
    virtual Int_t SetCacheSize(Long64_t cachesize = -1);
    // Entries, from the next one read, during which the cache learns the branches read.
    virtual void SetCacheLearnEntries(Int_t n = 10);
    Long64_t GetCacheSize() const { return fCacheSize; }
    Int_t GetCacheLearnEntries() const { return fCacheLearnEntries; }

    virtual Long64_t GetEntries() const;
    virtual Long64_t GetEntriesFast() const;
    Long64_t GetReadEntry() const { return fReadEntry; }
    // Reads `entry` of every active branch; returns the bytes read, 0 when out of range.
    virtual Int_t GetEntry(Long64_t entry = 0, Int_t getall = 0);
    // Output tree: stores the entry its branches' sources hold; returns its bytes.
    virtual Int_t Fill();

    virtual TBranch* GetBranch(const char* name);
    virtual TObjArray* GetListOfBranches() { return &fBranches; }
    TDirectory* GetDirectory() const { return fDirectory; }
    virtual TFile* GetCurrentFile() const;
    // A tree read from an RNTuple (its fields seen as the tree it was converted from).
    Bool_t IsNtuple() const { return fNtuple != nullptr; }

protected:
    TTree();  // a chain fills in its own state

private:
    friend class TFile;
    friend class TBranch;

    // A tree read from `file`, owned by it; `first_cluster`: requested while the file
    // before it was read, for the cache to take in.
    TTree(TFile* file, rootio::TreeInfo info,
          std::vector<std::unique_ptr<rootio::FirstClusterAhead>> first_cluster = {});
    // The tree RNTuple `reader` of `file` reads as, owned by the file.
    TTree(TFile* file, std::unique_ptr<rootio::ntuple::NtupleReader> reader);
    // An empty tree written into `file`, owned by it.
    TTree(TFile* file, const char* name, const char* title);
    // An empty tree written into `file` as an RNTuple, owned by it.
    TTree(TFile* file, const char* name, std::unique_ptr<convert::NtupleOutput> output);

    bool IsOutput() const { return fWriter != nullptr || fNtupleOutput != nullptr; }
    const rootio::TreeInfo& OutputInfo() const;
    const char* FileName() const;
    void AddBranchLike(const TBranch& source);
    void WriteToFile();
    void RefreshActive();
    void TellCacheActive();
    void PrepareCachedEntry(Long64_t entry);
    void Unlink(TTree* output);
    void RelinkProviders();
    void SyncNtupleActive();

    TDirectory* fDirectory = nullptr;
    TObjArray fBranches;                          // owns the TBranch objects

    const rootio::RootFile* fSource = nullptr;    // input: the file's engine reader
    rootio::TreeInfo fInfo;                       // input: the tree as read
    std::unique_ptr<rootio::TreeWriter> fWriter;  // output
    std::unique_ptr<rootio::ntuple::NtupleReader> fNtupleReader;  // input from an RNTuple
    std::unique_ptr<convert::NtupleBranches> fNtuple;             // its branches' entries
    std::unique_ptr<convert::NtupleOutput> fNtupleOutput;         // output as an RNTuple

    std::vector<TBranch*> fActive;                // input: branches GetEntry reads
    bool fActiveStale = true;
    std::unique_ptr<rootio::ReadCache> fCache;    // input, once a cache size is set
    std::vector<std::unique_ptr<rootio::FirstClusterAhead>> fFirstCluster;  // input: for its cache
    std::vector<rootio::BranchReader*> fActiveReaders;  // readers of fActive, for the cache
    bool fActiveReadersStale = true;
    // Links made by CopyAddresses, both ways, so either tree may go first.
    std::vector<TTree*> fAddressUsers;            // input: output trees reading our branches
    std::vector<TTree*> fAddressProviders;        // output: input trees we read from

    Long64_t fReadEntry = -1;
    Long64_t fCacheSize = 0;
    Int_t fCacheLearnEntries = 10;
};
