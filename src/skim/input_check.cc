#include "input_check.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Heron.h"
#include "TBranch.h"
#include "TChain.h"
#include "TChainElement.h"
#include "TFile.h"
#include "TTree.h"
#include "rootio/format/error.h"
#include "rootio/format/printable.h"
#include "rootio/tree/opened_files.h"

namespace skim {
namespace {

// What a reader must agree on to copy a branch's entries unchanged: its class, and for a
// plain branch its leaf with dimensions and type ("Jet_pt[nJet]/F").
std::string type_of(const rootio::BranchInfo& branch)
{
    if (branch.class_name != "TBranch" || !branch.is_supported())
        return branch.class_name + " " + branch.title;
    return branch.leaf.title + "/" + rootio::leaf_type_letter(branch.leaf.type);
}

// Inputs opened at once (remote ones each cost several round trips), and how many of
// them stay open from the check to the event loop: beyond that they are opened again
// there, so a long list does not hold thousands of descriptors.
constexpr int kOpenedAtOnce = 16;
constexpr Int_t kKeptForTheLoop = 256;

// Opens the inputs [from, from + kOpenedAtOnce) concurrently, with their trees, for the
// check and the event loop to take.
void open_window(TChain& chain, Int_t from)
{
    auto* elements = chain.GetListOfFiles();
    std::vector<std::string> kept, checked_only;
    for (Int_t i = from; i < std::min(elements->GetEntries(), from + kOpenedAtOnce); ++i)
        (i < kKeptForTheLoop ? kept : checked_only).push_back(elements->UncheckedAt(i)->GetTitle());
    rootio::open_files_ahead(kept, chain.GetName(), 2, kOpenedAtOnce);
    rootio::open_files_ahead(checked_only, chain.GetName(), 1, kOpenedAtOnce);
}

}  // namespace

void check_reader_branches(const std::string& file_name, const TObjArray& branches)
{
    for (const char* wanted : Heron::branch_names()) {
        const bool found = std::any_of(branches.begin(), branches.end(), [&](const TObject* branch) {
            return std::strcmp(branch->GetName(), wanted) == 0;
        });
        if (!found)
            rootio::fail(file_name, "",
                         std::string("branch ") + wanted + " is missing (the event reader needs it)");
    }
}

void check_chain_inputs(TChain& chain)
{
    auto* elements = chain.GetListOfFiles();
    // Opened ahead: the first file for the chain and the loop, the others for the check
    // and the loop.
    if (!chain.GetTree()) open_window(chain, 0);
    TObjArray* first_branches = chain.GetListOfBranches();  // opens the first file
    const std::string first_name = rootio::printable(elements->UncheckedAt(0)->GetTitle());
    check_reader_branches(elements->UncheckedAt(0)->GetTitle(), *first_branches);
    std::vector<const rootio::BranchInfo*> kept;
    for (TObject* obj : *first_branches) {
        const auto* branch = static_cast<const TBranch*>(obj);
        if (!branch->TestBit(TBranch::kDoNotProcess)) kept.push_back(&branch->GetInfo());
    }

    // Opening a file makes it the current directory; the run's own must stay current.
    TDirectory* current = gDirectory;
    for (Int_t i = 1; i < elements->GetEntries(); ++i) {
        if (i % kOpenedAtOnce == 0) open_window(chain, i);
        auto* element = static_cast<TChainElement*>(elements->UncheckedAt(i));
        const std::string name = element->GetTitle();
        try {
            TFile file(name.c_str());
            auto* tree = static_cast<TTree*>(file.Get(chain.GetName()));
            std::unordered_map<std::string_view, const rootio::BranchInfo*> branches;
            for (TObject* obj : *tree->GetListOfBranches()) {
                const rootio::BranchInfo& info = static_cast<const TBranch*>(obj)->GetInfo();
                branches.emplace(info.name, &info);
            }
            for (const rootio::BranchInfo* want : kept) {
                const auto found = branches.find(want->name);
                if (found == branches.end())
                    rootio::fail(name, "",
                                 "branch " + rootio::printable(want->name) + " is missing (" + first_name +
                                     " has it and the skim keeps it)");
                if (type_of(*found->second) != type_of(*want))
                    rootio::fail(name, "",
                                 "branch " + rootio::printable(want->name) + " is " +
                                     rootio::printable(type_of(*found->second)) + " here but " +
                                     rootio::printable(type_of(*want)) + " in " + first_name);
            }
            check_reader_branches(name, *tree->GetListOfBranches());
            element->SetNumberEntries(tree->GetEntries());
        } catch (...) {
            gDirectory = current;
            throw;
        }
        gDirectory = current;
    }
}

}  // namespace skim
