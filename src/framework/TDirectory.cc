#include "TDirectory.h"

namespace {
// Stands in for the framework's top-level in-memory directory.
TDirectory top_directory("Rint", "the top directory");
}  // namespace

TDirectory* gDirectory = &top_directory;

TDirectory::TDirectory(const char* name, const char* title) : TNamed(name, title) {}

TDirectory::~TDirectory()
{
    DeleteOwnedObjects();
    LeaveCurrent();
}

void TDirectory::LeaveCurrent()
{
    if (gDirectory == this) gDirectory = this == &top_directory ? nullptr : &top_directory;
}

Bool_t TDirectory::cd(const char* path)
{
    gDirectory = this;
    return kTRUE;
}

void TDirectory::DeleteOwnedObjects()
{
    while (fList.GetEntries() > 0) {
        TObject* obj = fList.UncheckedAt(fList.GetLast());
        fList.Remove(obj);  // before deleting: its destructor may look for itself here
        delete obj;
    }
}
