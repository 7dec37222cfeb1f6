#pragma once
// A directory owns the objects created in it (trees read from or cloned into a file).
// gDirectory is the current directory: new trees land there.
#include "TNamed.h"
#include "TObjArray.h"

class TDirectory : public TNamed {
public:
    TDirectory(const char* name = "", const char* title = "");
    TDirectory(const TDirectory&) = delete;
    TDirectory& operator=(const TDirectory&) = delete;
    // Deletes the objects it owns; the current directory falls back to the top one.
    ~TDirectory() override;

    const char* ClassName() const override { return "TDirectory"; }

    // Makes this the current directory. Sub-directory paths are not supported.
    virtual Bool_t cd(const char* path = nullptr);
    virtual Int_t Write(const char* name = nullptr, Int_t opt = 0, Int_t bufsize = 0) { return 0; }

    // Ownership of in-memory objects (trees).
    void Append(TObject* obj) { fList.Add(obj); }
    TObject* Remove(TObject* obj) { return fList.Remove(obj); }
    TObjArray* GetList() { return &fList; }
    TObject* FindObject(const char* name) const { return fList.FindObject(name); }

protected:
    void DeleteOwnedObjects();
    // If this is the current directory, the top directory becomes current.
    void LeaveCurrent();

private:
    TObjArray fList;
};

extern TDirectory* gDirectory;
