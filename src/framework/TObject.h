#pragma once
// Root of the framework's class tree: a name, a title and status bits.
#include "RtypesCore.h"

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
    virtual ~TObject() = default;

    virtual const char* GetName() const { return ClassName(); }
    virtual const char* GetTitle() const { return ""; }
    virtual const char* ClassName() const { return "TObject"; }

    void SetBit(UInt_t f) { fBits |= f; }
    void ResetBit(UInt_t f) { fBits &= ~f; }
    Bool_t TestBit(UInt_t f) const { return (fBits & f) != 0; }

private:
    UInt_t fBits = 0;
};
