#include "TChain.h"

#include "rootio/format/error.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"
#include "rootio/io/wildcard.h"
#include "rootio/ntuple/format_constants.h"
#include "rootio/ntuple/ntuple_reader.h"

namespace {

// Entries of the tree or RNTuple `name` of `file`.
Long64_t entries_of(const rootio::RootFile& file, const char* name)
{
    const auto key = file.find_path(name, -1);
    if (key && key->class_name == rootio::ntuple::kAnchorClassName)
        return static_cast<Long64_t>(rootio::ntuple::NtupleReader::open(file, name)->descriptor().entries);
    return rootio::read_tree(file, name).entries;
}

}  // namespace

TChain::TChain(const char* name, const char* title)
{
    SetName(name);
    SetTitle(title);
    fFiles.SetOwner();
    fStatus.SetOwner();
}

TChain::~TChain() { delete fFile; }

Int_t TChain::Add(const char* name, Long64_t nentries)
{
    const std::vector<std::string> names = rootio::expand_file_pattern(name);
    // A count given applies to a single named file only; the files of a pattern count their own.
    if ((names.size() != 1 || names[0] != name) && nentries > 0) nentries = kMaxEntries;
    for (const std::string& file_name : names) {
        auto* element = new TChainElement(GetName(), file_name.c_str(), nentries);
        fFiles.Add(element);
        if (nentries <= 0) {
            const auto file = rootio::RootFile::open(file_name);
            element->SetNumberEntries(entries_of(*file, GetName()));
        }
    }
    return static_cast<Int_t>(names.size());
}

Long64_t TChain::GetEntries() const
{
    Long64_t total = 0;
    for (Int_t i = 0; i < fFiles.GetEntries(); ++i) {
        auto* element = static_cast<TChainElement*>(fFiles.UncheckedAt(i));
        if (element->GetEntries() == kMaxEntries) {
            if (i == 0 && fTree) {
                element->SetNumberEntries(fTree->GetEntries());
            } else {
                const auto file = rootio::RootFile::open(element->GetTitle());
                element->SetNumberEntries(entries_of(*file, GetName()));
            }
        }
        total += element->GetEntries();
    }
    return total;
}

Long64_t TChain::GetEntriesFast() const
{
    Long64_t total = 0;
    for (TObject* obj : fFiles) {
        const Long64_t n = static_cast<TChainElement*>(obj)->GetEntries();
        if (n == kMaxEntries) return kMaxEntries;
        total += n;
    }
    return total;
}

void TChain::SetBranchStatus(const char* bname, Bool_t status, UInt_t* found)
{
    // Setting a pattern again moves it to the end: statuses apply in the order last set.
    auto* element = static_cast<TChainElement*>(fStatus.FindObject(bname));
    if (element) fStatus.Remove(element);
    else element = new TChainElement(bname, "");
    fStatus.Add(element);
    element->SetStatus(status);
    if (fTree) fTree->SetBranchStatus(bname, status, found);
    else if (found) *found = 1;
}

Bool_t TChain::GetBranchStatus(const char* branchname) const
{
    return fTree && fTree->GetBranchStatus(branchname);
}

void TChain::LoadFirstTree()
{
    if (fTree) return;
    if (fFiles.GetEntries() == 0) rootio::fail(GetName(), "TChain", "has no files");
    auto* element = static_cast<TChainElement*>(fFiles.UncheckedAt(0));
    // Loading a tree must not change which directory new objects land in.
    TDirectory* current = gDirectory;
    try {
        fFile = new TFile(element->GetTitle());
        fTree = static_cast<TTree*>(fFile->Get(GetName()));
    } catch (...) {
        delete fFile;
        fFile = nullptr;
        gDirectory = current;
        throw;
    }
    gDirectory = current;
    if (element->GetEntries() == kMaxEntries) element->SetNumberEntries(fTree->GetEntries());
    for (TObject* obj : fStatus) fTree->SetBranchStatus(obj->GetName(), static_cast<TChainElement*>(obj)->GetStatus());
}

TTree* TChain::CloneTree(Long64_t nentries, Option_t* option)
{
    if (nentries != 0)
        rootio::fail(GetName(), "TChain", "CloneTree copies no entries of a chain; clone with 0 and fill file by file");
    LoadFirstTree();
    return fTree->CloneTree(0, option);
}

TBranch* TChain::GetBranch(const char* name)
{
    LoadFirstTree();
    return fTree->GetBranch(name);
}

TObjArray* TChain::GetListOfBranches()
{
    LoadFirstTree();
    return fTree->GetListOfBranches();
}

Int_t TChain::GetEntry(Long64_t entry, Int_t getall)
{
    rootio::fail(GetName(), "TChain", "entries are read through each file's own tree");
}

Int_t TChain::Fill() { rootio::fail(GetName(), "TChain", "a chain cannot be filled"); }
