#include "TFile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "TTree.h"
#include "ntuple_branches.h"
#include "rootio/format/error.h"
#include "rootio/ntuple/format_constants.h"
#include "rootio/ntuple/ntuple_reader.h"
#include "rootio/tree/opened_files.h"
#include "rootio/tree/tree_reader.h"

namespace {

std::string upper(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

}  // namespace

TFile::TFile(const char* fname, Option_t* option, const char* ftitle, Int_t compress)
    : TDirectory(fname, ftitle), fOption(upper(option ? option : "")), fCompress(compress)
{
    if (fOption.empty() || fOption == "READ") {
        fOption = "READ";
        // A file opened ahead (rootio/tree/opened_files.h) is not opened again.
        fReader = rootio::take_opened_file(fname);
        if (!fReader) fReader = rootio::RootFile::open(fname);
    } else if (fOption == "RECREATE" || fOption == "NEW" || fOption == "CREATE") {
        if (fOption != "RECREATE" && std::filesystem::exists(fname))
            rootio::fail(fname, "", "file already exists (open it with \"RECREATE\" to replace it)");
        fWriter = std::make_unique<rootio::FileWriter>(fname, compress, ftitle ? ftitle : "");
    } else {
        rootio::fail(fname, "", "option \"" + fOption + "\" is not supported (use \"READ\" or \"RECREATE\")");
    }
    cd();
}

TFile* TFile::Open(const char* name, Option_t* option, const char* ftitle, Int_t compress, Int_t netopt)
{
    return new TFile(name, option, ftitle, compress);
}

TFile::~TFile()
{
    DeleteOwnedObjects();
    if (fWriter && fWritten && !fWriter->is_closed()) {
        try {
            fWriter->close();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "Error in <TFile::Close>: %s\n", e.what());
        }
    }
}

TObject* TFile::Get(const char* namecycle)
{
    std::string_view name(namecycle);
    int16_t cycle = -1;
    if (const size_t semi = name.find(';'); semi != std::string_view::npos) {
        cycle = static_cast<int16_t>(std::atoi(namecycle + semi + 1));
        name = name.substr(0, semi);
    }
    const std::string key_name(name);
    // "dir/sub/name" reaches into subdirectories, as in ROOT; objects held in memory are the
    // top directory's, so a path is always read from the file.
    const bool path = key_name.find('/') != std::string::npos;
    if (TObject* in_memory = path ? nullptr : FindObject(key_name.c_str())) return in_memory;
    if (!fReader) return nullptr;

    const std::optional<rootio::KeyHeader> key = fReader->find_path(key_name, cycle);
    if (!key) rootio::fail(GetName(), "", "no object named \"" + rootio::printable(namecycle) + "\"");
    if (key->class_name == rootio::ntuple::kAnchorClassName)
        return new TTree(this, rootio::ntuple::NtupleReader::open(*fReader, key_name));
    if (!rootio::is_tree_class(key->class_name))
        rootio::fail(GetName(), rootio::printable(key_name),
                     "is a " + rootio::printable(key->class_name) + "; only TTree objects can be read");
    std::optional<rootio::TreeTakenAhead> ahead = rootio::take_tree_read_ahead(*fReader, *key);
    if (!ahead) return new TTree(this, rootio::read_tree(*fReader, *key, key_name));
    return new TTree(this, std::move(ahead->tree), std::move(ahead->first_cluster));
}

Int_t TFile::Write(const char* name, Int_t opt, Int_t bufsize)
{
    if (!fWriter) return 0;
    const int64_t before = fWriter->end();
    for (TObject* obj : *GetList())
        if (auto* tree = dynamic_cast<TTree*>(obj)) tree->WriteToFile();
    fWritten = true;
    return static_cast<Int_t>(fWriter->end() - before);
}

void TFile::Close(Option_t* option)
{
    DeleteOwnedObjects();
    fReader.reset();
    if (fWriter) {
        // On failure the writer, going out of scope unclosed, removes the file.
        auto writer = std::move(fWriter);
        writer->close();
    }
    LeaveCurrent();
}
