#pragma once
// One branch of a tree. An input branch reads its entries through the engine, lazily: its
// basket reader exists only once the branch is first read. An output branch stores, at each
// Fill, the bytes of the input branch whose address it shares (CopyAddresses).
#include <cstdint>
#include <memory>
#include <span>

#include "TNamed.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/tree/tree_model.h"

class TTree;

class TBranch : public TNamed {
public:
    enum EStatusBits { kDoNotProcess = BIT(10) };

    TBranch(const TBranch&) = delete;
    TBranch& operator=(const TBranch&) = delete;
    ~TBranch() override;

    const char* ClassName() const override { return "TBranch"; }

    // Input branch: makes `entry` the loaded entry and returns its size in bytes. Asking
    // again for the loaded entry costs nothing, so a branch read by the event reader and
    // then by TTree::GetEntry is decoded from its basket once.
    Int_t GetEntry(Long64_t entry = 0, Int_t getall = 0);
    Long64_t GetReadEntry() const { return fReadEntry; }
    Long64_t GetEntries() const;
    TTree* GetTree() const { return fTree; }
    // The branch that holds this array's length, or nullptr.
    TBranch* GetBranchCount() const;

    // The loaded entry's elements as stored: big-endian, back to back. The engine keeps no
    // user-side buffers; these bytes play the part of the branch address.
    std::span<const uint8_t> GetEntryBytes() const { return fEntryBytes; }
    // The engine's description of the branch (leaf type, count leaf, baskets).
    const rootio::BranchInfo& GetInfo() const;

private:
    friend class TTree;
    TBranch(TTree* tree, int index, const char* name, const char* title);
    // The engine reader, made on first use (and given the tree's read cache).
    rootio::BranchReader& Reader();
    // GetEntry without telling the read cache: a whole-entry read is not the loop choosing
    // this branch. Only for an input tree (its callers have checked).
    Int_t Read(Long64_t entry);

    TTree* fTree;
    int fIndex;                                    // position in the tree's engine model
    std::unique_ptr<rootio::BranchReader> fReader;  // input only
    Long64_t fReadEntry = -1;
    std::span<const uint8_t> fEntryBytes;
    TBranch* fAddressSource = nullptr;             // output only: the branch Fill copies
};
