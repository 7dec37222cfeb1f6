#include "rootio/tree/branch_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>

#include "rootio/handmade_file.h"
#include "rootio/file/file_writer.h"
#include "rootio/tree/tree_reader.h"
#include "rootio/tree/tree_writer.h"
#include "testdata.h"
#include "counting_new.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using rootio::BranchReader;
using rootio::RootError;
using rootio::RootFile;


namespace {

struct Opened {
    std::unique_ptr<RootFile> file;
    rootio::TreeInfo tree;
};

Opened open_tree(const std::filesystem::path& path, std::string_view tree)
{
    Opened o;
    o.file = RootFile::open(path.string());
    o.tree = rootio::read_tree(*o.file, tree);
    return o;
}

template <class T>
std::vector<T> values(BranchReader& r, int64_t entry)
{
    std::vector<T> out;
    rootio::decode_elements(r.entry_bytes(entry), out);
    return out;
}

// Every entry of every supported branch, concatenated per branch.
std::vector<std::vector<uint8_t>> all_bytes(const Opened& o)
{
    std::vector<std::vector<uint8_t>> out;
    for (size_t b = 0; b < o.tree.branches.size(); ++b) {
        out.emplace_back();
        if (!o.tree.branches[b].is_supported()) continue;
        BranchReader r(*o.file, o.tree, static_cast<int>(b));
        for (int64_t e = 0; e < o.tree.entries; ++e) {
            auto bytes = r.entry_bytes(e);
            out.back().insert(out.back().end(), bytes.begin(), bytes.end());
        }
    }
    return out;
}

}  // namespace

TEST(BranchReader, ReadsScalarsAndCountedArrays)
{
    REQUIRE_TESTDATA(path, "uproot-HZZ-uncompressed.root");
    auto o = open_tree(path, "events");
    BranchReader nmuon(*o.file, o.tree, o.tree.find_branch("NMuon"));
    BranchReader px(*o.file, o.tree, o.tree.find_branch("Muon_Px"));
    BranchReader charge(*o.file, o.tree, o.tree.find_branch("Muon_Charge"));
    BranchReader trigger(*o.file, o.tree, o.tree.find_branch("triggerIsoMu24"));

    // Values as an independent reader (jsroot) prints them for entry 0.
    EXPECT_THAT(values<int32_t>(nmuon, 0), ElementsAre(2));
    EXPECT_THAT(values<float>(px, 0), ElementsAre(-52.899456f, 37.73778f));
    EXPECT_THAT(values<int32_t>(charge, 0), ElementsAre(1, -1));
    std::vector<bool> flags;
    rootio::decode_elements(trigger.entry_bytes(0), flags);
    EXPECT_THAT(flags, ElementsAre(true));

    // Array lengths follow the count branch on every entry.
    for (int64_t e = 0; e < o.tree.entries; ++e) {
        const int32_t n = values<int32_t>(nmuon, e).at(0);
        ASSERT_EQ(px.element_count(e), static_cast<size_t>(n)) << e;
        ASSERT_EQ(charge.element_count(e), static_cast<size_t>(n)) << e;
    }
}

TEST(BranchReader, EveryCodecYieldsTheSameBytes)
{
    std::vector<std::vector<uint8_t>> expected;
    {
        REQUIRE_TESTDATA(path, "uproot-HZZ-uncompressed.root");
        expected = all_bytes(open_tree(path, "events"));
    }
    for (const char* name : {"uproot-HZZ-zlib.root", "uproot-HZZ-lzma.root", "uproot-HZZ-lz4.root", "uproot-HZZ-zstd.root"}) {
        REQUIRE_TESTDATA(path, name);
        EXPECT_TRUE(all_bytes(open_tree(path, "events")) == expected) << name;
    }
}

TEST(BranchReader, RandomAccessMatchesSequentialReads)
{
    REQUIRE_TESTDATA(path, "uproot-sample-6.20.04-zlib.root");
    auto o = open_tree(path, "sample");
    for (const char* name : {"Af8", "ai2", "u8", "Ab"}) {
        const int index = o.tree.find_branch(name);
        BranchReader seq(*o.file, o.tree, index);
        std::vector<std::vector<uint8_t>> forward;
        for (int64_t e = 0; e < o.tree.entries; ++e) {
            auto b = seq.entry_bytes(e);
            forward.emplace_back(b.begin(), b.end());
        }
        BranchReader rnd(*o.file, o.tree, index);
        std::mt19937 rng(7);
        std::uniform_int_distribution<int64_t> pick(0, o.tree.entries - 1);
        for (int i = 0; i < 200; ++i) {
            const int64_t e = i % 3 == 0 ? o.tree.entries - 1 - (i % o.tree.entries) : pick(rng);
            auto b = rnd.entry_bytes(e);
            ASSERT_EQ(std::vector<uint8_t>(b.begin(), b.end()), forward[static_cast<size_t>(e)]) << name << " " << e;
        }
    }
}

TEST(BranchReader, ReadsFixedArraysAcrossManySmallBaskets)
{
    REQUIRE_TESTDATA(path, "uproot-sample-6.20.04-zlib.root");
    auto o = open_tree(path, "sample");
    BranchReader ai4(*o.file, o.tree, o.tree.find_branch("ai4"));
    BranchReader u8(*o.file, o.tree, o.tree.find_branch("au8"));
    BranchReader ai1(*o.file, o.tree, o.tree.find_branch("ai1"));
    for (int64_t e = 0; e < o.tree.entries; ++e) {
        // The file counts up by one per entry: ai4 = {e-14, e-13, e-12}, au8 = {e+1, e+2, e+3}.
        const auto v = static_cast<int32_t>(e);
        ASSERT_THAT(values<int32_t>(ai4, e), ElementsAre(v - 14, v - 13, v - 12)) << e;
        ASSERT_THAT(values<uint64_t>(u8, e), ElementsAre(e + 1, e + 2, e + 3)) << e;
        ASSERT_THAT(values<int8_t>(ai1, e), ElementsAre(v - 14, v - 13, v - 12)) << e;
    }
}

TEST(BranchReader, ReadsEmbeddedBaskets)
{
    REQUIRE_TESTDATA(path, "collider-sample-ttbar.root");
    auto o = open_tree(path, "Events");
    BranchReader njet(*o.file, o.tree, o.tree.find_branch("nJet"));
    BranchReader pt(*o.file, o.tree, o.tree.find_branch("Jet_pt"));
    BranchReader event(*o.file, o.tree, o.tree.find_branch("event"));
    EXPECT_THAT(values<uint32_t>(njet, 0), ElementsAre(2u));
    EXPECT_THAT(values<float>(pt, 0), ElementsAre(17.921875f, 15.734375f));
    EXPECT_THAT(values<uint64_t>(event, 1), ElementsAre(227291402u));
    for (int64_t e = 0; e < o.tree.entries; ++e)
        ASSERT_EQ(pt.element_count(e), values<uint32_t>(njet, e).at(0)) << e;

    // The one branch with baskets on disk and one embedded reads across the seam.
    for (size_t b = 0; b < o.tree.branches.size(); ++b) {
        const auto& info = o.tree.branches[b];
        if (info.write_basket() == 0) continue;
        BranchReader r(*o.file, o.tree, static_cast<int>(b));
        for (int64_t e = 0; e < o.tree.entries; ++e) EXPECT_EQ(r.entry_bytes(e).size() % info.element_size(), 0u);
    }
}

TEST(BranchReader, WarmReadsDoNotAllocate)
{
    if (!kAllocationsCounted) GTEST_SKIP() << "operator new belongs to the sanitizer here";
    REQUIRE_TESTDATA(path, "uproot-HZZ-zlib.root");
    auto o = open_tree(path, "events");
    BranchReader jet(*o.file, o.tree, o.tree.find_branch("Jet_Px"));
    BranchReader muon(*o.file, o.tree, o.tree.find_branch("Muon_Px"));  // two baskets
    ASSERT_EQ(o.tree.branches[static_cast<size_t>(o.tree.find_branch("Muon_Px"))].write_basket(), 2);
    const int64_t last = o.tree.entries - 1;
    // Warm up on the whole range once, so buffers reach their largest basket.
    for (int64_t e = 0; e < o.tree.entries; ++e) jet.entry_bytes(e), muon.entry_bytes(e);
    const long before = g_allocations.load();
    size_t total = 0;
    for (int64_t e = 0; e < o.tree.entries; ++e) total += jet.entry_bytes(e).size() + muon.entry_bytes(e).size();
    // Jumping between the two baskets reloads each time, still into the same buffers.
    for (int i = 0; i < 10; ++i) total += muon.entry_bytes(0).size() + muon.entry_bytes(last).size();
    EXPECT_EQ(g_allocations.load() - before, 0);
    EXPECT_GT(total, 0u);
}

TEST(BranchReader, RefusesEntriesOutOfRangeAndUnsupportedBranches)
{
    REQUIRE_TESTDATA(path, "uproot-sample-6.20.04-zlib.root");
    auto o = open_tree(path, "sample");
    BranchReader r(*o.file, o.tree, o.tree.find_branch("i4"));
    for (int64_t bad : {int64_t{-1}, o.tree.entries, int64_t{1} << 40}) {
        try {
            r.entry_bytes(bad);
            FAIL() << bad;
        } catch (const RootError& e) {
            EXPECT_THAT(e.what(), HasSubstr(path.string()));
            EXPECT_THAT(e.what(), HasSubstr("branch i4 of tree sample"));
            EXPECT_THAT(e.what(), HasSubstr("entry " + std::to_string(bad) + " is out of range"));
        }
    }
    // Still usable after an error.
    EXPECT_EQ(r.element_count(3), 1u);
    EXPECT_THROW(BranchReader(*o.file, o.tree, o.tree.find_branch("str")), RootError);
    EXPECT_THROW(BranchReader(*o.file, o.tree, 999), RootError);
}

namespace {

// Rewrites an uncompressed basket of a variable-size branch, in place and at the same length,
// into the form that stores no entry offsets: fNevBufSize negated and followed by fIOBits
// (generate the offset map), flag 80, the entry data one byte further on.
void drop_entry_offsets(std::vector<uint8_t>& bytes, int64_t seek)
{
    using rootio::load_be;
    using rootio::store_be;
    uint8_t* record = bytes.data() + seek;
    const int16_t keylen = load_be<int16_t>(record + 14);
    const int32_t objlen = load_be<int32_t>(record + 6);
    ASSERT_EQ(load_be<int32_t>(record), keylen + objlen) << "basket must be stored uncompressed";
    uint8_t* basket = record + keylen - 19;  // version, fBufferSize, fNevBufSize, fNevBuf, fLast, flag
    const int32_t nev_buf_size = std::max(1, std::abs(load_be<int32_t>(basket + 6)));
    const int32_t entries = load_be<int32_t>(basket + 10);
    const int32_t last = load_be<int32_t>(basket + 14);
    std::memmove(record + keylen + 1, record + keylen, static_cast<size_t>(last - keylen));
    store_be<int32_t>(basket + 6, -nev_buf_size);
    basket[10] = 1;  // kGenerateOffsetMap
    store_be<int32_t>(basket + 11, entries);
    store_be<int32_t>(basket + 15, last + 1);
    basket[19] = 80;
    store_be<int16_t>(record + 14, static_cast<int16_t>(keylen + 1));
    store_be<int32_t>(record + 6, objlen - 1);
}

}  // namespace

TEST(BranchReader, RebuildsEntryOffsetsFromTheCountBranch)
{
    handmade::TempDir dir;
    const std::string original = (dir / "offsets.root").string();
    {
        rootio::FileWriter file(original, 0);
        rootio::TreeWriter tree(file, "t", "");
        tree.set_auto_flush(7);  // three baskets per branch
        const int n = tree.add_branch("n", rootio::LeafType::UInt16);
        const int x = tree.add_branch("x", rootio::LeafType::Float, "n");
        const int pairs = tree.add_branch("pairs", rootio::LeafType::Int64, "n", 2);
        for (int e = 0; e < 20; ++e) {
            const auto count = static_cast<uint16_t>((e * 7) % 5);
            std::vector<float> xs(count, 0.5f * static_cast<float>(e));
            std::vector<int64_t> ps(2u * count, -int64_t{e} << 40);
            tree.set_value(n, count);
            tree.set_values<float>(x, xs);
            tree.set_values<int64_t>(pairs, ps);
            tree.fill();
        }
        tree.write();
        file.close();
    }
    const Opened before = open_tree(original, "t");
    auto bytes = handmade::read(original);
    for (const char* name : {"x", "pairs"}) {
        const auto& info = before.tree.branches[static_cast<size_t>(before.tree.find_branch(name))];
        ASSERT_EQ(info.write_basket(), 3) << name;
        for (int64_t seek : info.basket_seek) drop_entry_offsets(bytes, seek);
    }
    const std::string generated = (dir / "generated.root").string();
    handmade::write(generated, bytes);
    ASSERT_NE(bytes, handmade::read(original));
    EXPECT_TRUE(all_bytes(open_tree(generated, "t")) == all_bytes(before));
}
