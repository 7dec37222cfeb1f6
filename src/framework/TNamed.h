#pragma once
// An object with a name and a title.
#include "TObject.h"
#include "TString.h"

class TNamed : public TObject {
public:
    TNamed() = default;
    TNamed(const char* name, const char* title) : fName(name), fTitle(title) {}

    const char* GetName() const override { return fName.Data(); }
    const char* GetTitle() const override { return fTitle.Data(); }
    const char* ClassName() const override { return "TNamed"; }
    virtual void SetName(const char* name) { fName = name; }
    virtual void SetTitle(const char* title = "") { fTitle = title; }

protected:
    TString fName;
    TString fTitle;
};
