#include "rootio/tree/tree_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "rootio/handmade_file.h"
#include "testdata.h"

using ::testing::HasSubstr;
using rootio::LeafType;
using rootio::RootError;
using rootio::RootFile;

namespace {

const rootio::BranchInfo& branch(const rootio::TreeInfo& tree, std::string_view name)
{
    const int i = tree.find_branch(name);
    if (i < 0) throw std::runtime_error("no branch " + std::string(name));
    return tree.branches[static_cast<size_t>(i)];
}

}  // namespace

TEST(TreeReader, DecodesCountedArraysAndTheirCounts)
{
    REQUIRE_TESTDATA(path, "uproot-HZZ-zlib.root");
    auto file = RootFile::open(path.string());
    const rootio::TreeInfo tree = rootio::read_tree(*file, "events");
    EXPECT_EQ(tree.name, "events");
    EXPECT_EQ(tree.entries, 2421);
    ASSERT_EQ(tree.branches.size(), 51u);

    const auto& njet = branch(tree, "NJet");
    EXPECT_TRUE(njet.is_supported());
    EXPECT_EQ(njet.leaf.type, LeafType::Int32);
    EXPECT_TRUE(njet.leaf.is_range);
    EXPECT_GT(njet.leaf.count_maximum, 0);
    EXPECT_EQ(njet.count_branch, -1);
    EXPECT_EQ(njet.entry_offset_len, 0);

    const auto& px = branch(tree, "Jet_Px");
    EXPECT_EQ(px.leaf.type, LeafType::Float);
    EXPECT_EQ(px.leaf.title, "Jet_Px[NJet]");
    EXPECT_EQ(px.leaf.count_leaf, "NJet");
    EXPECT_EQ(px.count_branch, tree.find_branch("NJet"));
    EXPECT_GT(px.entry_offset_len, 0);

    EXPECT_EQ(branch(tree, "Jet_ID").leaf.type, LeafType::Bool);
    EXPECT_EQ(branch(tree, "triggerIsoMu24").leaf.type, LeafType::Bool);

    // Basket tables cover every entry, in order.
    for (const auto& b : tree.branches) {
        ASSERT_GE(b.write_basket(), 1) << b.name;
        ASSERT_EQ(b.basket_entry.size(), static_cast<size_t>(b.write_basket()) + 1) << b.name;
        EXPECT_EQ(b.basket_entry.front(), 0) << b.name;
        EXPECT_EQ(b.basket_entry.back(), tree.entries) << b.name;
        EXPECT_TRUE(std::is_sorted(b.basket_entry.begin(), b.basket_entry.end())) << b.name;
        EXPECT_TRUE(b.embedded.empty()) << b.name;
    }
}

TEST(TreeReader, TakesTypesFromLeafClassAndSignedness)
{
    REQUIRE_TESTDATA(path, "uproot-sample-6.20.04-zlib.root");
    auto file = RootFile::open(path.string());
    const rootio::TreeInfo tree = rootio::read_tree(*file, "sample");
    EXPECT_EQ(tree.entries, 30);

    const std::map<std::string, LeafType> scalars = {
        {"b", LeafType::Bool},    {"i1", LeafType::Int8},   {"u1", LeafType::UInt8},  {"i2", LeafType::Int16},
        {"u2", LeafType::UInt16}, {"i4", LeafType::Int32},  {"u4", LeafType::UInt32}, {"i8", LeafType::Int64},
        {"u8", LeafType::UInt64}, {"f4", LeafType::Float},  {"f8", LeafType::Double}};
    for (const auto& [name, type] : scalars) {
        const auto& s = branch(tree, name);
        EXPECT_EQ(s.leaf.type, type) << name;
        EXPECT_EQ(s.leaf.len, 1) << name;
        // "a" + name: fixed [3]; "A" + name: counted by n.
        const auto& fixed = branch(tree, "a" + name);
        EXPECT_EQ(fixed.leaf.type, type) << name;
        EXPECT_EQ(fixed.leaf.len, 3) << name;
        EXPECT_EQ(fixed.count_branch, -1) << name;
        const auto& counted = branch(tree, "A" + name);
        EXPECT_EQ(counted.leaf.type, type) << name;
        EXPECT_EQ(counted.leaf.len, 1) << name;
        EXPECT_EQ(counted.count_branch, tree.find_branch("n")) << name;
    }
    const auto& str = branch(tree, "str");
    EXPECT_FALSE(str.is_supported());
    EXPECT_EQ(str.unsupported, "leaf class TLeafC");

    // Tiny baskets: several per branch, and not the same boundaries for every branch.
    EXPECT_GT(branch(tree, "i4").write_basket(), 1);
    EXPECT_NE(branch(tree, "i4").basket_entry, branch(tree, "af8").basket_entry);
}

TEST(TreeReader, KeepsBasketsEmbeddedInTheTreeRecord)
{
    REQUIRE_TESTDATA(path, "collider-sample-ttbar.root");
    auto file = RootFile::open(path.string());
    const rootio::TreeInfo tree = rootio::read_tree(*file, "Events");
    EXPECT_EQ(tree.entries, 200);
    EXPECT_EQ(tree.branches.size(), 947u);

    int mixed = 0;
    for (const auto& b : tree.branches) {
        ASSERT_TRUE(b.is_supported()) << b.name << ": " << b.unsupported;
        ASSERT_EQ(b.embedded.size(), 1u) << b.name;
        const auto& e = b.embedded[0];
        // The embedded basket takes over where the disk baskets stop, and ends the branch.
        EXPECT_EQ(e.first_entry, b.basket_entry.back()) << b.name;
        EXPECT_EQ(e.first_entry + e.entries, tree.entries) << b.name;
        EXPECT_EQ(static_cast<int32_t>(e.data.size()), e.last - e.keylen) << b.name;
        if (b.write_basket() > 0) ++mixed;
    }
    EXPECT_EQ(mixed, 1);

    const auto& njet = branch(tree, "nJet");
    EXPECT_EQ(njet.leaf.type, LeafType::UInt32);
    const auto& pt = branch(tree, "Jet_pt");
    EXPECT_EQ(pt.count_branch, tree.find_branch("nJet"));
    EXPECT_EQ(pt.embedded[0].offsets.size(), 200u);
    EXPECT_EQ(branch(tree, "event").leaf.type, LeafType::UInt64);
}

TEST(TreeReader, ReadsAnEmptyTree)
{
    REQUIRE_TESTDATA(path, "uproot-empty.root");
    auto file = RootFile::open(path.string());
    const rootio::TreeInfo tree = rootio::read_tree(*file, "tree");
    EXPECT_EQ(tree.entries, 0);
    for (const auto& b : tree.branches) {
        EXPECT_EQ(b.entries, 0) << b.name;
        EXPECT_EQ(b.write_basket(), 0) << b.name;
    }
}

TEST(TreeReader, NamesFileAndTreeWhenTheTreeIsMissingOrNotATree)
{
    REQUIRE_TESTDATA(path, "uproot-small-flat-tree.root");
    auto file = RootFile::open(path.string());
    try {
        rootio::read_tree(*file, "Events");
        FAIL() << "expected RootError";
    } catch (const RootError& e) {
        EXPECT_THAT(e.what(), HasSubstr(path.string()));
        EXPECT_THAT(e.what(), HasSubstr("no object named 'Events'"));
    }

    handmade::TempDir dir;
    handmade::write(dir / "h.root", handmade::build({{"TH1F", "h", 1, std::vector<uint8_t>(10, 0)}}));
    auto other = RootFile::open((dir / "h.root").string());
    try {
        rootio::read_tree(*other, "h");
        FAIL() << "expected RootError";
    } catch (const RootError& e) {
        EXPECT_THAT(e.what(), HasSubstr("h.root: tree h: is a TH1F, not a TTree"));
    }
}

TEST(TreeReader, EmbeddedBasketWithoutEntriesHasNoOffsetArray)
{
    REQUIRE_TESTDATA(path, "collider-sample-ttbar.root");
    auto file = RootFile::open(path.string());
    const rootio::KeyHeader& key = *file->find_key("Events");
    std::vector<uint8_t> record = file->read_object(key);
    const rootio::TreeInfo tree = rootio::read_tree(*file, "Events");

    // Empty the embedded basket of a variable-size branch the way ROOT writes an empty one:
    // fNevBuf 0 and no offset array, whose bytes now count as the start of the buffer (so the
    // record keeps its length and every object tag stays where it was).
    const auto& pt = branch(tree, "Jet_pt");
    ASSERT_EQ(pt.embedded.size(), 1u);
    const rootio::EmbeddedBasket& basket = pt.embedded[0];
    std::vector<uint8_t> pattern(13 + 4 + 4);
    rootio::store_be<int32_t>(pattern.data(), basket.entries);
    rootio::store_be<int32_t>(pattern.data() + 4, basket.last);
    pattern[8] = 11;  // offsets and buffer follow
    rootio::store_be<int32_t>(pattern.data() + 9, basket.entries);
    rootio::store_be<int32_t>(pattern.data() + 13, basket.offsets[0]);
    rootio::store_be<int32_t>(pattern.data() + 17, basket.offsets[1]);
    const auto at = std::search(record.begin(), record.end(), pattern.begin(), pattern.end());
    ASSERT_NE(at, record.end());
    ASSERT_EQ(std::search(at + 1, record.end(), pattern.begin(), pattern.end()), record.end());
    rootio::store_be<int32_t>(&*at, 0);
    rootio::store_be<int32_t>(&*at + 4, basket.last + 4 + 4 * basket.entries);

    handmade::TempDir dir;
    const auto emptied = dir / "emptied.root";
    handmade::write(emptied, handmade::build({{"TTree", "Events", 1, record, -1, key.title}}));
    auto edited = RootFile::open(emptied.string());
    const rootio::TreeInfo after = rootio::read_tree(*edited, "Events");
    ASSERT_EQ(branch(after, "Jet_pt").embedded.size(), 1u);
    EXPECT_EQ(branch(after, "Jet_pt").embedded[0].entries, 0);
    EXPECT_TRUE(branch(after, "Jet_pt").embedded[0].offsets.empty());
    // The branches around it are untouched.
    EXPECT_EQ(branch(after, "Jet_eta").embedded[0].offsets, branch(tree, "Jet_eta").embedded[0].offsets);
    EXPECT_EQ(branch(after, "nJet").embedded[0].data, branch(tree, "nJet").embedded[0].data);
}
