#pragma once
// A ROOT file, read ("" / "READ") or written ("RECREATE", "NEW", "CREATE"). Opening one
// makes it the current directory. Where the framework would print an error and hand back
// a zombie or a null object, this layer throws rootio::RootError naming the file: the
// program must not go on with a file it could not open or a tree it could not find.
#include <memory>
#include <string>

#include "TDirectory.h"
#include "rootio/file/file_writer.h"
#include "rootio/file/root_file.h"

class TTree;

class TFile : public TDirectory {
public:
    TFile(const char* fname, Option_t* option = "", const char* ftitle = "", Int_t compress = 101);
    // Closes the file. A written file is closed only when Write() has stored its trees;
    // otherwise it is removed, so that it cannot pass for a complete file.
    ~TFile() override;

    static TFile* Open(const char* name, Option_t* option = "", const char* ftitle = "", Int_t compress = 101,
                       Int_t netopt = 0);

    const char* ClassName() const override { return "TFile"; }

    // The object under this key (the highest cycle unless "name;cycle" is given). Only trees
    // are read; throws when there is no such key or it holds another class.
    TObject* Get(const char* namecycle);
    // Writes every tree of the file.
    Int_t Write(const char* name = nullptr, Int_t opt = 0, Int_t bufsize = 0) override;
    // Deletes the file's trees and closes it (a written file gets its directory, keys list
    // and header here).
    virtual void Close(Option_t* option = "");

    // Reads of every file of the process so far: bytes, and requests (a batch of ranges
    // answered by one request counts once).
    static Long64_t GetFileBytesRead() { return static_cast<Long64_t>(rootio::read_totals().bytes); }
    static Int_t GetFileReadCalls() { return static_cast<Int_t>(rootio::read_totals().requests); }

    Bool_t IsOpen() const { return fReader != nullptr || fWriter != nullptr; }
    Bool_t IsWritable() const { return fWriter != nullptr; }
    Int_t GetCompressionSettings() const { return fCompress; }
    Option_t* GetOption() const { return fOption.c_str(); }

private:
    friend class TTree;
    const rootio::RootFile& Reader() const { return *fReader; }
    rootio::FileWriter& Writer() { return *fWriter; }

    std::string fOption;
    Int_t fCompress;
    std::shared_ptr<const rootio::RootFile> fReader;  // shared with a file opened ahead
    std::unique_ptr<rootio::FileWriter> fWriter;
    bool fWritten = false;
};
