// Chains over files, the file list the driver walks, and opening files that are missing,
// not ROOT files, or lack the object asked for.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "TChain.h"
#include "TFile.h"
#include "TObjArray.h"
#include "TTree.h"
#include "framework/scratch_dir.h"
#include "framework/tree_files.h"
#include "rootio/format/error.h"
#include "testdata.h"

namespace {

// Runs `f`, which must throw RootError; returns its message.
template <class F>
std::string root_error_of(F&& f)
{
    try {
        f();
    } catch (const rootio::RootError& e) {
        return e.what();
    }
    ADD_FAILURE() << "no RootError";
    return {};
}

TEST(Chain, FilesAreListedWithTheirNamesAsTitlesAndCountedLazily)
{
    testutil::ScratchDir dir;
    const std::string a = dir.file("a.root"), b = dir.file("b.root");
    fwtest::write_sample_tree(a, 30);
    fwtest::write_sample_tree(b, 12);

    TChain chain("Events", "");
    EXPECT_EQ(chain.Add(a.c_str()), 1);
    EXPECT_EQ(chain.Add(b.c_str()), 1);
    EXPECT_EQ(chain.GetEntriesFast(), TTree::kMaxEntries) << "no file opened yet";
    EXPECT_EQ(chain.GetEntries(), 42);
    EXPECT_EQ(chain.GetEntriesFast(), 42);

    TIter next(chain.GetListOfFiles());
    TObject* element = next.Next();
    ASSERT_NE(element, nullptr);
    EXPECT_STREQ(element->GetTitle(), a.c_str());
    EXPECT_STREQ(element->GetName(), "Events");
    element = next.Next();
    ASSERT_NE(element, nullptr);
    EXPECT_STREQ(element->GetTitle(), b.c_str());
    EXPECT_EQ(next.Next(), nullptr);
    EXPECT_EQ(next.Next(), nullptr) << "stays at the end";

    TIter none(nullptr);
    EXPECT_EQ(none.Next(), nullptr);
}

TEST(Chain, AGivenEntryCountIsTakenAsIsAndANonPositiveOneOpensTheFile)
{
    testutil::ScratchDir dir;
    const std::string a = dir.file("a.root");
    fwtest::write_sample_tree(a, 30);
    TChain chain("Events");
    chain.Add(a.c_str(), 5);
    chain.Add(a.c_str(), 0);
    EXPECT_EQ(chain.GetEntriesFast(), 35);
    EXPECT_EQ(chain.GetEntries(), 35);
}

TEST(Chain, AWildcardInTheFileNameAddsEveryMatchInNameOrder)
{
    testutil::ScratchDir dir;
    for (const char* name : {"run2.root", "run10.root", "run1.root", "other.root"})
        fwtest::write_sample_tree(dir.file(name), 4);
    TChain chain("Events");
    EXPECT_EQ(chain.Add(dir.file("run*.root").c_str(), 0), 3);
    EXPECT_EQ(chain.Add(dir.file("run?.root").c_str(), 100), 2) << "a count is for one named file only";
    EXPECT_EQ(chain.Add(dir.file("none*.root").c_str()), 0);
    std::vector<std::string> titles;
    for (TObject* element : *chain.GetListOfFiles()) titles.push_back(element->GetTitle());
    EXPECT_EQ(titles, (std::vector<std::string>{dir.file("run1.root"), dir.file("run10.root"), dir.file("run2.root"),
                                                dir.file("run1.root"), dir.file("run2.root")}));
    EXPECT_EQ(chain.GetEntries(), 20);
}

TEST(Chain, MissingFileOrTreeIsReportedWhenTheChainNeedsIt)
{
    testutil::ScratchDir dir;
    const std::string missing = dir.file("missing.root");
    TChain chain("Events");
    chain.Add(missing.c_str());  // lazy: nothing opened yet
    EXPECT_NE(root_error_of([&] { chain.GetEntries(); }).find(missing), std::string::npos);

    const std::string other = dir.file("other.root");
    fwtest::write_sample_tree(other, 3, 101, "Friends");
    TChain wrong("Events");
    wrong.Add(other.c_str());
    const std::string message = root_error_of([&] { wrong.GetEntries(); });
    EXPECT_NE(message.find(other), std::string::npos) << message;
    EXPECT_NE(message.find("Events"), std::string::npos) << message;

    TDirectory* before = gDirectory;
    root_error_of([&] { wrong.CloneTree(0); });
    EXPECT_EQ(gDirectory, before) << "a failed load must not change the current directory";
}

TEST(File, OpeningAMissingFileNamesIt)
{
    testutil::ScratchDir dir;
    const std::string missing = dir.file("nowhere.root");
    const std::string message = root_error_of([&] { delete TFile::Open(missing.c_str()); });
    EXPECT_EQ(message.rfind(missing, 0), 0u) << message;
}

TEST(File, OpeningSomethingElseOrATruncatedFileNamesIt)
{
    testutil::ScratchDir dir;
    const std::string text = dir.file("text.root");
    std::ofstream(text) << "this is not a ROOT file, just some text that is long enough to look at\n";
    EXPECT_EQ(root_error_of([&] { TFile f(text.c_str()); }).rfind(text, 0), 0u);

    const std::string whole = dir.file("whole.root"), cut = dir.file("cut.root");
    fwtest::write_sample_tree(whole, 2000);
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(cut, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2));
    EXPECT_EQ(root_error_of([&] { TFile f(cut.c_str()); }).rfind(cut, 0), 0u);
}

TEST(File, GetOfAnAbsentObjectNamesTheFileAndTheObject)
{
    testutil::ScratchDir dir;
    const std::string path = dir.file("sample.root");
    fwtest::write_sample_tree(path, 3, 101, "Runs");
    TFile file(path.c_str());
    const std::string message = root_error_of([&] { file.Get("Events"); });
    EXPECT_EQ(message, path + ": no object named \"Events\"");
    EXPECT_NE(file.Get("Runs"), nullptr);
    EXPECT_EQ(file.Get("Runs"), file.Get("Runs")) << "read once, then found in memory";
}

TEST(File, GetTakesAPathIntoSubdirectoriesAndAChainTheSame)
{
    REQUIRE_TESTDATA(path, "older-and-other-writers/uproot-issue64.root");
    TFile file(path.c_str());
    EXPECT_EQ(root_error_of([&] { file.Get("events"); }),
              path.string() + ": events: is a TDirectoryFile; only TTree objects can be read");
    auto* tree = dynamic_cast<TTree*>(file.Get("events/events"));
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->GetEntries(), 500);
    EXPECT_STREQ(tree->GetName(), "events");

    TChain chain("events/events");
    chain.Add(path.c_str());
    EXPECT_EQ(chain.GetEntries(), 500);
}

TEST(File, OpeningMakesTheFileCurrentAndClosingFallsBack)
{
    testutil::ScratchDir dir;
    const std::string path = dir.file("out.root");
    auto* out = new TFile(path.c_str(), "RECREATE");
    EXPECT_EQ(gDirectory, out);
    EXPECT_TRUE(out->IsWritable());
    EXPECT_EQ(out->GetCompressionSettings(), 101);
    out->Close();
    EXPECT_NE(gDirectory, out);
    delete out;
}

}  // namespace
