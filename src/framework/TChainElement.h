#pragma once
// One file of a chain: named after the tree, titled with the file name. Also used for the
// chain's remembered branch statuses (named after the pattern).
#include "TNamed.h"

class TChainElement : public TNamed {
public:
    TChainElement(const char* name, const char* title, Long64_t entries = 0) : TNamed(name, title), fEntries(entries) {}

    const char* ClassName() const override { return "TChainElement"; }

    Long64_t GetEntries() const { return fEntries; }
    void SetNumberEntries(Long64_t n) { fEntries = n; }
    Int_t GetStatus() const { return fStatus; }
    void SetStatus(Int_t status) { fStatus = status; }

private:
    Long64_t fEntries;
    Int_t fStatus = 1;
};
