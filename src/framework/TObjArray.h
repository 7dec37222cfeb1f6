#pragma once
// An ordered array of objects, and the forward iterator over it. When it is the owner it
// deletes its elements, as the framework's collections do.
#include <cstring>
#include <vector>

#include "TObject.h"

class TObjArray : public TObject {
public:
    TObjArray() = default;
    TObjArray(const TObjArray&) = delete;
    TObjArray& operator=(const TObjArray&) = delete;
    ~TObjArray() override { Clear(); }

    const char* ClassName() const override { return "TObjArray"; }

    void SetOwner(Bool_t enable = kTRUE) { fOwner = enable; }
    Bool_t IsOwner() const { return fOwner; }

    void Add(TObject* obj) { fCont.push_back(obj); }
    void AddLast(TObject* obj) { fCont.push_back(obj); }
    Int_t GetEntries() const { return static_cast<Int_t>(fCont.size()); }
    Int_t GetEntriesFast() const { return static_cast<Int_t>(fCont.size()); }
    Int_t GetLast() const { return GetEntries() - 1; }
    TObject* At(Int_t i) const { return i >= 0 && i < GetEntries() ? fCont[i] : nullptr; }
    TObject* UncheckedAt(Int_t i) const { return fCont[i]; }
    TObject* operator[](Int_t i) const { return At(i); }

    TObject* FindObject(const char* name) const
    {
        for (TObject* obj : fCont)
            if (obj && std::strcmp(obj->GetName(), name) == 0) return obj;
        return nullptr;
    }
    // Takes `obj` out without deleting it; returns it, or nullptr when absent.
    TObject* Remove(TObject* obj)
    {
        for (auto it = fCont.begin(); it != fCont.end(); ++it)
            if (*it == obj) {
                fCont.erase(it);
                return obj;
            }
        return nullptr;
    }
    void Clear()
    {
        if (fOwner)
            for (TObject* obj : fCont) delete obj;
        fCont.clear();
    }

    auto begin() const { return fCont.begin(); }
    auto end() const { return fCont.end(); }

private:
    std::vector<TObject*> fCont;
    Bool_t fOwner = kFALSE;
};

constexpr Bool_t kIterForward = kTRUE;
constexpr Bool_t kIterBackward = !kIterForward;

class TIter {
public:
    explicit TIter(const TObjArray* col, Bool_t dir = kIterForward) : fCol(col), fForward(dir)
    {
        Reset();
    }

    // The next element, or nullptr past the last one (and for no collection at all).
    TObject* Next()
    {
        if (!fCol || fCursor < 0 || fCursor >= fCol->GetEntries()) return nullptr;
        TObject* obj = fCol->UncheckedAt(fCursor);
        fCursor += fForward ? 1 : -1;
        return obj;
    }
    TObject* operator()() { return Next(); }
    void Reset() { fCursor = fForward ? 0 : (fCol ? fCol->GetLast() : -1); }

private:
    const TObjArray* fCol;
    Bool_t fForward;
    Int_t fCursor = 0;
};
