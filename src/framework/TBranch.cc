#include "TBranch.h"

#include "TTree.h"
#include "ntuple_branches.h"
#include "rootio/format/error.h"

TBranch::TBranch(TTree* tree, int index, const char* name, const char* title)
    : TNamed(name, title), fTree(tree), fIndex(index)
{
}

TBranch::~TBranch() = default;

const rootio::BranchInfo& TBranch::GetInfo() const
{
    if (fTree->IsOutput()) return fTree->OutputInfo().branches[fIndex];
    return fTree->fInfo.branches[fIndex];
}

Long64_t TBranch::GetEntries() const
{
    return fTree->IsOutput() ? fTree->OutputInfo().entries : GetInfo().entries;
}

TBranch* TBranch::GetBranchCount() const
{
    const int count = GetInfo().count_branch;
    return count < 0 ? nullptr : static_cast<TBranch*>(fTree->fBranches.At(count));
}

rootio::BranchReader& TBranch::Reader()
{
    if (fTree->fNtuple) rootio::fail(fTree->FileName(), GetName(), "is a field of an RNTuple, read without baskets");
    if (!fReader) {
        fReader = std::make_unique<rootio::BranchReader>(*fTree->fSource, fTree->fInfo, fIndex);
        fReader->use_cache(fTree->fCache.get());
    }
    return *fReader;
}

Int_t TBranch::GetEntry(Long64_t entry, Int_t getall)
{
    if (fTree->IsOutput()) return 0;  // an output branch holds no entries to read back
    if (entry != fReadEntry && fTree->fCache && fTree->fCache->learning()) {
        if (fTree->fActiveStale) fTree->RefreshActive();  // the cache fetches for the active branches
        Reader();  // a branch that cannot be read is not learned
        fTree->fCache->learn(fIndex, entry);
    }
    return Read(entry);
}

Int_t TBranch::Read(Long64_t entry)
{
    if (entry != fReadEntry) {
        fEntryBytes = fTree->fNtuple ? fTree->fNtuple->entry_bytes(static_cast<size_t>(fIndex), entry)
                                     : Reader().entry_bytes(entry);
        fReadEntry = entry;
    }
    return static_cast<Int_t>(fEntryBytes.size());
}
