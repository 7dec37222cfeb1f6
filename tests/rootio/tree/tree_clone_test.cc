// Structure cloned from real ROOT files and entries copied as raw bytes read back equal:
// the skim's own path.
#include <gtest/gtest.h>

#include <cctype>

#include "rootio/handmade_file.h"
#include "rootio/tree/tree_writer.h"
#include "testdata.h"
#include "rootio/written_tree.h"

using rootio::BranchInfo;
using rootio::BranchReader;
using rootio::FileWriter;
using rootio::RootFile;
using rootio::TreeWriter;
using namespace written_tree;

namespace {

// Every other branch is taken, plus the counts they need, so indices of count branches
// differ between input and output.
struct CloneCase {
    const char* file;
    const char* tree;
};

}  // namespace

class CloneRealFile : public ::testing::TestWithParam<CloneCase> {};
INSTANTIATE_TEST_SUITE_P(Reference, CloneRealFile,
                         ::testing::Values(CloneCase{"collider-sample-ttbar.root", "Events"},
                                           CloneCase{"uproot-sample-6.20.04-zlib.root", "sample"},
                                           CloneCase{"uproot-HZZ-lz4.root", "events"}),
                         [](const auto& p) {
                             std::string name = p.param.file;
                             name = name.substr(0, name.find('.'));
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST_P(CloneRealFile, SubsetOfBranchesCopiedAsRawBytesReadsBackEqual)
{
    REQUIRE_TESTDATA(input_path, GetParam().file);
    const std::string tree_name = GetParam().tree;
    auto input = RootFile::open(input_path.string());
    const TreeInfo in_tree = rootio::read_tree(*input, tree_name);

    std::vector<bool> keep(in_tree.branches.size(), false);
    for (size_t i = 0; i < in_tree.branches.size(); i += 2) {
        if (!in_tree.branches[i].is_supported()) continue;
        keep[i] = true;
        if (in_tree.branches[i].count_branch >= 0) keep[static_cast<size_t>(in_tree.branches[i].count_branch)] = true;
    }
    std::vector<int> picked;
    for (size_t i = 0; i < keep.size(); ++i)
        if (keep[i]) picked.push_back(static_cast<int>(i));
    ASSERT_GT(picked.size(), 3u);

    handmade::TempDir dir;
    const std::string path = (dir / "clone.root").string();
    std::vector<BranchReader> readers;
    readers.reserve(picked.size());
    for (int i : picked) readers.emplace_back(*input, in_tree, i);
    {
        FileWriter file(path, 505);
        TreeWriter out(file, tree_name, in_tree.title);
        for (int i : picked) out.add_branch(in_tree.branches[static_cast<size_t>(i)]);
        for (int64_t e = 0; e < in_tree.entries; ++e) {
            for (size_t k = 0; k < picked.size(); ++k) out.set_entry_bytes(static_cast<int>(k), readers[k].entry_bytes(e));
            out.fill();
        }
        out.write();
        file.close();
    }

    const Reopened r = reopen(path, tree_name);
    EXPECT_EQ(r.tree.entries, in_tree.entries);
    EXPECT_EQ(r.tree.title, in_tree.title);
    ASSERT_EQ(r.tree.branches.size(), picked.size());
    for (size_t k = 0; k < picked.size(); ++k) {
        const BranchInfo& a = in_tree.branches[static_cast<size_t>(picked[k])];
        const BranchInfo& b = r.tree.branches[k];
        SCOPED_TRACE(a.name);
        EXPECT_EQ(b.name, a.name);
        EXPECT_EQ(b.title, a.title);
        EXPECT_EQ(b.leaf.name, a.leaf.name);
        EXPECT_EQ(b.leaf.title, a.leaf.title);
        EXPECT_EQ(b.leaf.type, a.leaf.type);
        EXPECT_EQ(b.leaf.len, a.leaf.len);
        EXPECT_EQ(b.leaf.count_leaf, a.leaf.count_leaf);
        EXPECT_EQ(b.leaf.is_range, a.leaf.is_range);
        if (a.count_branch >= 0) {
            ASSERT_GE(b.count_branch, 0);
            EXPECT_EQ(r.tree.branches[static_cast<size_t>(b.count_branch)].name,
                      in_tree.branches[static_cast<size_t>(a.count_branch)].name);
        }
        BranchReader reader(*r.file, r.tree, static_cast<int>(k));
        int64_t largest = 0;
        for (int64_t e = 0; e < in_tree.entries; ++e) {
            const auto want = readers[k].entry_bytes(e);
            const Bytes want_copy(want.begin(), want.end());
            const auto got = reader.entry_bytes(e);
            ASSERT_TRUE(std::equal(got.begin(), got.end(), want_copy.begin(), want_copy.end())) << "entry " << e;
            if (b.leaf.is_range && rootio::leaf_type_is_integer(b.leaf.type)) {
                int64_t v = 0;
                switch (b.element_size()) {
                case 1: v = got[0]; break;
                case 2: v = rootio::load_be<uint16_t>(got.data()); break;
                case 4: v = rootio::load_be<uint32_t>(got.data()); break;
                default: v = rootio::load_be<int64_t>(got.data());
                }
                largest = std::max(largest, v);
            }
        }
        // A reader clamps counts to the count leaf's maximum: it must cover every count.
        if (b.leaf.is_range) {
            EXPECT_EQ(b.leaf.count_maximum, largest);
        }
    }
}
