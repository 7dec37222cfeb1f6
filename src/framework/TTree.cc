#include "TTree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "TFile.h"
#include "ntuple_branches.h"
#include "ntuple_output.h"
#include "rootio/format/error.h"
#include "rootio/parallel/threads.h"
#include "rootio/io/wildcard.h"
#include "rootio/tree/opened_files.h"

namespace {

constexpr Long64_t kDefaultCacheSize = 30 * 1000 * 1000;

bool branch_matches(const char* bname, const TTree& tree, const TBranch& branch)
{
    if (std::strcmp(bname, "*") == 0 || std::strcmp(bname, branch.GetName()) == 0) return true;
    const std::string longname = std::string(tree.GetName()) + "." + branch.GetName();
    return longname == bname || rootio::wildcard_match(bname, branch.GetName());
}

template <class T>
void erase_value(std::vector<T>& v, const T& value)
{
    v.erase(std::remove(v.begin(), v.end(), value), v.end());
}

}  // namespace

TTree::TTree(TFile* file, rootio::TreeInfo info, std::vector<std::unique_ptr<rootio::FirstClusterAhead>> first_cluster)
    : TNamed(info.name.c_str(), info.title.c_str()), fDirectory(file), fSource(&file->Reader()), fInfo(std::move(info)),
      fFirstCluster(std::move(first_cluster))
{
    fBranches.SetOwner();
    for (size_t i = 0; i < fInfo.branches.size(); ++i) {
        const auto& b = fInfo.branches[i];
        fBranches.Add(new TBranch(this, static_cast<int>(i), b.name.c_str(), b.title.c_str()));
    }
    file->Append(this);
}

TTree::TTree(TFile* file, std::unique_ptr<rootio::ntuple::NtupleReader> reader)
    : fDirectory(file), fNtupleReader(std::move(reader)),
      fNtuple(std::make_unique<convert::NtupleBranches>(*fNtupleReader))
{
    fInfo = fNtuple->tree_info();
    SetName(fInfo.name.c_str());
    fBranches.SetOwner();
    for (size_t i = 0; i < fInfo.branches.size(); ++i) {
        const auto& b = fInfo.branches[i];
        fBranches.Add(new TBranch(this, static_cast<int>(i), b.name.c_str(), b.title.c_str()));
    }
    SyncNtupleActive();
    file->Append(this);
}

TTree::TTree(TFile* file, const char* name, std::unique_ptr<convert::NtupleOutput> output)
    : TNamed(name, ""), fDirectory(file), fNtupleOutput(std::move(output))
{
    fBranches.SetOwner();
    file->Append(this);
}

// The RNTuple's cluster loads fetch the active branches' columns.
void TTree::SyncNtupleActive()
{
    if (!fNtuple) return;
    std::vector<size_t> active;
    for (Int_t i = 0; i < fBranches.GetEntries(); ++i)
        if (!fBranches.UncheckedAt(i)->TestBit(TBranch::kDoNotProcess)) active.push_back(static_cast<size_t>(i));
    fNtuple->set_active(std::move(active));
}

TTree::TTree(TFile* file, const char* name, const char* title)
    : TNamed(name, title), fDirectory(file),
      fWriter(std::make_unique<rootio::TreeWriter>(file->Writer(), name, title))
{
    fBranches.SetOwner();
    file->Append(this);
}

TTree::TTree() = default;

TTree::~TTree()
{
    while (!fAddressUsers.empty()) Unlink(fAddressUsers.back());
    while (!fAddressProviders.empty()) fAddressProviders.back()->Unlink(this);
    if (fDirectory) fDirectory->Remove(this);
    fBranches.Clear();
}

// Drops every link between input tree `this` and output tree `output`.
void TTree::Unlink(TTree* output)
{
    for (TObject* obj : output->fBranches) {
        auto* branch = static_cast<TBranch*>(obj);
        if (branch->fAddressSource && branch->fAddressSource->fTree == this) branch->fAddressSource = nullptr;
    }
    erase_value(fAddressUsers, output);
    erase_value(output->fAddressProviders, this);
}

const rootio::TreeInfo& TTree::OutputInfo() const { return fWriter ? fWriter->info() : fNtupleOutput->info(); }

TFile* TTree::GetCurrentFile() const { return dynamic_cast<TFile*>(fDirectory); }

const char* TTree::FileName() const
{
    const TFile* file = GetCurrentFile();
    return file ? file->GetName() : "(no file)";
}

void TTree::SetBranchStatus(const char* bname, Bool_t status, UInt_t* found)
{
    if (!bname || !*bname) {
        std::fprintf(stderr, "Error in <TTree::SetBranchStatus>: Input regexp is an empty string: no match "
                             "against branch names will be attempted.\n");
        return;
    }
    // First pass: the matching branches, and the count branches of those being enabled.
    UInt_t nb = 0;
    for (TObject* obj : fBranches) {
        auto* branch = static_cast<TBranch*>(obj);
        if (!branch_matches(bname, *this, *branch)) continue;
        ++nb;
        if (status) branch->ResetBit(TBranch::kDoNotProcess);
        else branch->SetBit(TBranch::kDoNotProcess);
        if (TBranch* count = branch->GetBranchCount(); count && status) count->ResetBit(TBranch::kDoNotProcess);
    }
    if (nb == 0) std::fprintf(stderr, "Error in <TTree::SetBranchStatus>: unknown branch -> %s\n", bname);
    if (found) *found = nb;
    // Second pass: an active array always needs its length, whatever was disabled above.
    for (TObject* obj : fBranches) {
        auto* branch = static_cast<TBranch*>(obj);
        if (branch->TestBit(TBranch::kDoNotProcess)) continue;
        if (TBranch* count = branch->GetBranchCount()) count->ResetBit(TBranch::kDoNotProcess);
    }
    fActiveStale = true;
    SyncNtupleActive();
}

Bool_t TTree::GetBranchStatus(const char* branchname) const
{
    const auto* branch = static_cast<const TBranch*>(fBranches.FindObject(branchname));
    return branch && !branch->TestBit(TBranch::kDoNotProcess);
}

TBranch* TTree::GetBranch(const char* name) { return static_cast<TBranch*>(fBranches.FindObject(name)); }

void TTree::RefreshActive()
{
    fActive.clear();
    for (TObject* obj : fBranches)
        if (!obj->TestBit(TBranch::kDoNotProcess)) fActive.push_back(static_cast<TBranch*>(obj));
    fActiveStale = false;
    fActiveReadersStale = true;
    if (fCache) TellCacheActive();
}

void TTree::TellCacheActive()
{
    std::vector<int> indices;
    indices.reserve(fActive.size());
    for (const TBranch* branch : fActive) indices.push_back(branch->fIndex);
    fCache->set_active(indices);
}

Int_t TTree::SetCacheSize(Long64_t cachesize)
{
    fCacheSize = cachesize < 0 ? kDefaultCacheSize : cachesize;
    if (IsOutput() || !fSource) return 0;
    if (fCache && fCache->size_bytes() == fCacheSize) return 0;
    fCache.reset();
    if (fCacheSize > 0) {
        fCache = std::make_unique<rootio::ReadCache>(*fSource, fInfo, fCacheSize, fCacheLearnEntries,
                                                     rootio::thread_count());
        fCache->adopt(std::move(fFirstCluster));
        fFirstCluster.clear();
        // The loop's next file (when it said which, see opened_files.h) gets its first
        // cluster requested once this one's last cluster is entered.
        fCache->pass_on_to_next_file([path = fSource->path()](const rootio::CarriedBranches& carried) {
            rootio::request_first_cluster_after(path, carried);
        });
    }
    for (TObject* obj : fBranches)
        if (auto* branch = static_cast<TBranch*>(obj); branch->fReader) branch->fReader->use_cache(fCache.get());
    if (fCache && !fActiveStale) TellCacheActive();
    return 0;
}

void TTree::SetCacheLearnEntries(Int_t n)
{
    fCacheLearnEntries = n;
    if (fCache) fCache->restart_learning(n);
}

// The baskets this entry needs of every active branch, fetched in one batch. A reader that
// cannot be made stops the list there: reading the branches in order meets that error
// where it would without the cache.
void TTree::PrepareCachedEntry(Long64_t entry)
{
    if (fActiveReadersStale) {
        fActiveReaders.clear();
        bool complete = true;
        for (TBranch* branch : fActive) {
            try {
                fActiveReaders.push_back(&branch->Reader());
            } catch (const rootio::RootError&) {
                complete = false;
                break;
            }
        }
        fActiveReadersStale = !complete;
    }
    fCache->prepare_entry(fActiveReaders, entry);
}

Long64_t TTree::GetEntries() const { return IsOutput() ? OutputInfo().entries : fInfo.entries; }

Long64_t TTree::GetEntriesFast() const { return GetEntries(); }

Int_t TTree::GetEntry(Long64_t entry, Int_t getall)
{
    if (IsOutput()) rootio::fail(FileName(), std::string("TTree ") + GetName(), "an output tree cannot be read back");
    if (entry < 0 || entry >= fInfo.entries) return 0;
    if (fActiveStale) RefreshActive();
    if (fCache) PrepareCachedEntry(entry);
    if (fNtuple) fNtuple->prepare_entry(entry);
    Int_t nbytes = 0;
    for (TBranch* branch : fActive) nbytes += branch->Read(entry);
    fReadEntry = entry;
    return nbytes;
}

void TTree::AddBranchLike(const TBranch& source_branch)
{
    const rootio::BranchInfo& source = source_branch.GetInfo();
    // The fault lies in the input's tree record, so the input is the file to name.
    if (!source.is_supported())
        rootio::fail(
            source_branch.fTree->FileName(), "branch " + rootio::printable(source.name),
            "cannot be copied: " + rootio::printable(source.unsupported, rootio::kErrorMessageLimit));
    const int index = fWriter ? fWriter->add_branch(source) : fNtupleOutput->add_branch(source);
    fBranches.Add(new TBranch(this, index, source.name.c_str(), source.title.c_str()));
}

TTree* TTree::CloneTree(Long64_t nentries, Option_t* option)
{
    auto* file = dynamic_cast<TFile*>(gDirectory);
    if (!file || !file->IsWritable())
        rootio::fail(FileName(), std::string("TTree ") + GetName(),
                     "cannot be cloned: the current directory is not a file open for writing");
    const bool rntuple = option && std::string_view(option) == "rntuple";
    auto* clone = rntuple ? new TTree(file, GetName(), std::make_unique<convert::NtupleOutput>(file->Writer(), GetName()))
                          : new TTree(file, GetName(), GetTitle());
    try {
        for (TObject* obj : fBranches) {
            auto* branch = static_cast<TBranch*>(obj);
            if (!branch->TestBit(TBranch::kDoNotProcess)) clone->AddBranchLike(*branch);
        }
        if (!IsOutput() && fInfo.auto_flush > 0 && clone->fWriter) clone->fWriter->set_auto_flush(fInfo.auto_flush);
        CopyAddresses(clone);
        const Long64_t n = nentries < 0 ? GetEntries() : std::min(nentries, GetEntries());
        for (Long64_t i = 0; i < n; ++i) {
            GetEntry(i);
            clone->Fill();
        }
    } catch (...) {
        delete clone;
        throw;
    }
    return clone;
}

void TTree::CopyAddresses(TTree* tree, Bool_t undo)
{
    if (undo) {
        Unlink(tree);
        return;
    }
    for (TObject* obj : fBranches) {
        auto* branch = static_cast<TBranch*>(obj);
        if (branch->TestBit(TBranch::kDoNotProcess)) continue;
        if (TBranch* target = tree->GetBranch(branch->GetName())) target->fAddressSource = branch;
    }
    tree->RelinkProviders();
}

// Output tree: makes the provider lists agree with the branches' sources after a change.
void TTree::RelinkProviders()
{
    std::vector<TTree*> providers;
    for (TObject* obj : fBranches)
        if (const TBranch* source = static_cast<TBranch*>(obj)->fAddressSource;
            source && std::find(providers.begin(), providers.end(), source->fTree) == providers.end())
            providers.push_back(source->fTree);
    for (TTree* old : fAddressProviders)
        if (std::find(providers.begin(), providers.end(), old) == providers.end()) erase_value(old->fAddressUsers, this);
    for (TTree* now : providers)
        if (std::find(now->fAddressUsers.begin(), now->fAddressUsers.end(), this) == now->fAddressUsers.end())
            now->fAddressUsers.push_back(this);
    fAddressProviders = std::move(providers);
}

Int_t TTree::Fill()
{
    if (!IsOutput())
        rootio::fail(FileName(), std::string("TTree ") + GetName(), "a tree read from a file cannot be filled");
    // Every branch must copy the same input entry: a mix would write an entry that never was.
    Long64_t entry = -1;
    Int_t nbytes = 0;
    for (Int_t i = 0; i < fBranches.GetEntries(); ++i) {
        const auto* branch = static_cast<TBranch*>(fBranches.UncheckedAt(i));
        const TBranch* source = branch->fAddressSource;
        if (!source)
            rootio::fail(FileName(), std::string("TTree ") + GetName(),
                         std::string("branch ") + branch->GetName() + " has no input branch to copy from");
        if (source->fReadEntry < 0)
            rootio::fail(source->fTree->FileName(), std::string("TTree ") + source->fTree->GetName(),
                         std::string("branch ") + branch->GetName() + " has no input entry to copy into " +
                             FileName());
        if (i == 0) entry = source->fReadEntry;
        else if (source->fReadEntry != entry)
            rootio::fail(FileName(), std::string("TTree ") + GetName(),
                         std::string("branch ") + branch->GetName() + " holds entry " +
                             std::to_string(source->fReadEntry) + " of its input, not entry " +
                             std::to_string(entry) + " like the others");
        if (fWriter) fWriter->set_entry_bytes(i, source->fEntryBytes);
        else fNtupleOutput->set_entry_bytes(i, source->fEntryBytes);
        nbytes += static_cast<Int_t>(source->fEntryBytes.size());
    }
    try {
        if (fWriter) fWriter->fill();
        else fNtupleOutput->fill();
    } catch (const rootio::EntryRejected& e) {
        // The bytes are the input's, as read: name where they came from.
        const TBranch* source = static_cast<TBranch*>(fBranches.UncheckedAt(e.branch()))->fAddressSource;
        rootio::fail(source->fTree->FileName(), "entry " + std::to_string(source->fReadEntry),
                     "branch " + rootio::printable(source->GetName()) + ": " + e.reason() +
                         " (not copied into " + FileName() + ")");
    }
    return nbytes;
}

void TTree::WriteToFile()
{
    if (fWriter) fWriter->write();
    else fNtupleOutput->write();
}
