// Trees written by TreeWriter and read back through the engine's reader: every leaf type
// and shape, titles, empty trees and arrays, basket and cluster boundaries, and the errors
// a bad entry or a bad branch gets. Every file written is also walked record by record.
#include "rootio/tree/tree_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "rootio/handmade_file.h"
#include "rootio/format/error.h"
#include "rootio/written_tree.h"

using ::testing::AllOf;
using ::testing::HasSubstr;
using rootio::BranchInfo;
using rootio::BranchReader;
using rootio::FileWriter;
using rootio::LeafType;
using rootio::RootError;
using rootio::RootFile;
using rootio::TreeInfo;
using rootio::TreeWriter;
using namespace written_tree;

// ---------------------------------------------------------------------------------------
// Every leaf type as scalar, fixed array and count-indexed array (signed and unsigned
// counts, with a fixed inner dimension too), across many small baskets, filled alternately
// by typed values and by raw bytes.

template <class T>
class EveryLeafType : public ::testing::Test {};
using LeafTypes = ::testing::Types<bool, int8_t, uint8_t, int16_t, uint16_t, int32_t, uint32_t, int64_t, uint64_t,
                                   float, double>;
TYPED_TEST_SUITE(EveryLeafType, LeafTypes);

TYPED_TEST(EveryLeafType, EveryShapeReadsBackBitExact)
{
    using T = TypeParam;
    constexpr LeafType type = leaf_type_of<T>();
    constexpr int kEntries = 600;
    constexpr int32_t kBasket = 160;  // small: many baskets per branch, even of bools

    handmade::TempDir dir;
    const std::string path = (dir / "types.root").string();
    const std::vector<T> pool = stress_values<T>(4096, 7);
    size_t next = 0;
    auto take = [&](size_t n) {
        Run<T> run(n);
        for (size_t i = 0; i < n; ++i) run[i] = pool[next++ % pool.size()];
        return run;
    };

    Columns expected(6);
    {
        FileWriter file(path, 101);
        TreeWriter tree(file, "Events", "every shape");
        const int s = tree.add_branch(branch_spec("s", type, {}, 1, kBasket));
        const int a = tree.add_branch(branch_spec("a", type, {}, 3, kBasket));
        const int ni = tree.add_branch(branch_spec("ni", LeafType::Int32, {}, 1, kBasket));
        const int v = tree.add_branch(branch_spec("v", type, "ni", 1, kBasket));
        const int nu = tree.add_branch(branch_spec("nu", LeafType::UInt32, {}, 1, kBasket));
        const int w = tree.add_branch(branch_spec("w", type, "nu", 2, kBasket));
        for (int e = 0; e < kEntries; ++e) {
            const int32_t count_i = e % 5;        // 0 included: empty arrays
            const uint32_t count_u = (e * 7) % 4;
            const Run<T> vs = take(1), va = take(3), vv = take(static_cast<size_t>(count_i)), vw = take(count_u * 2);
            const Bytes bs = to_be<T>(vs.span()), ba = to_be<T>(va.span()), bv = to_be<T>(vv.span()),
                        bw = to_be<T>(vw.span());
            const Bytes bni = to_be<int32_t>(std::span(&count_i, 1)), bnu = to_be<uint32_t>(std::span(&count_u, 1));
            if (e % 2 == 0) {
                tree.set_values<T>(s, vs.span());
                tree.set_values<T>(a, va.span());
                tree.set_value<int32_t>(ni, count_i);
                tree.set_values<T>(v, vv.span());
                tree.set_value<uint32_t>(nu, count_u);
                tree.set_values<T>(w, vw.span());
            } else {
                tree.set_entry_bytes(s, bs);
                tree.set_entry_bytes(a, ba);
                tree.set_entry_bytes(ni, bni);
                tree.set_entry_bytes(v, bv);
                tree.set_entry_bytes(nu, bnu);
                tree.set_entry_bytes(w, bw);
            }
            tree.fill();
            const std::pair<int, const Bytes*> given[] = {{s, &bs}, {a, &ba}, {ni, &bni}, {v, &bv}, {nu, &bnu}, {w, &bw}};
            for (const auto& [col, bytes] : given) expected[static_cast<size_t>(col)].push_back(*bytes);
        }
        tree.write();
        file.close();
    }

    const Reopened r = reopen(path);
    EXPECT_EQ(r.tree.entries, kEntries);
    ASSERT_EQ(r.tree.branches.size(), 6u);
    for (const BranchInfo& b : r.tree.branches) {
        SCOPED_TRACE(b.name);
        EXPECT_GT(b.write_basket(), 5) << "small baskets: the branch spans many";
        EXPECT_EQ(b.basket_entry[static_cast<size_t>(b.write_basket())], kEntries);
        EXPECT_EQ(b.entry_offset_len > 0, b.name == "v" || b.name == "w");
    }
    const auto& br = r.tree.branches;
    EXPECT_EQ(br[0].leaf.type, type);
    EXPECT_EQ(br[1].leaf.len, 3);
    EXPECT_EQ(br[3].leaf.count_leaf, "ni");
    EXPECT_EQ(br[3].count_branch, 2);
    EXPECT_EQ(br[5].leaf.count_leaf, "nu");
    EXPECT_EQ(br[5].leaf.len, 2);
    EXPECT_EQ(br[5].leaf.title, "w[nu][2]");
    EXPECT_TRUE(br[2].leaf.is_range);
    EXPECT_TRUE(br[4].leaf.is_range);
    EXPECT_EQ(br[2].leaf.count_maximum, 4);
    EXPECT_EQ(br[4].leaf.count_maximum, 3);
    expect_columns(r, expected);

    // Typed decoding agrees bit for bit with the values given.
    BranchReader v(*r.file, r.tree, 3);
    std::vector<T> got, want;
    for (int e = 0; e < kEntries; ++e) {
        rootio::decode_elements(v.entry_bytes(e), got);
        const Bytes& be = expected[3][static_cast<size_t>(e)];
        rootio::decode_elements(std::span<const uint8_t>(be), want);
        ASSERT_TRUE(same_bits(got, want)) << "entry " << e;
    }
}

// The convenience form builds ROOT's titles and keeps order, types and unsigned flags.
TEST(TreeWriter, ConvenienceBranchesCarryRootStyleTitlesAndTypes)
{
    handmade::TempDir dir;
    const std::string path = (dir / "titles.root").string();
    {
        FileWriter file(path, 0);
        TreeWriter tree(file, "Events", "a title");
        tree.add_branch("nMuon", LeafType::UInt32);
        tree.add_branch("Muon_pt", LeafType::Float, "nMuon");
        tree.add_branch("pos", LeafType::Double, {}, 3);
        tree.add_branch("hits", LeafType::UInt16, "nMuon", 4);
        tree.add_branch("flag", LeafType::Bool);
        tree.add_branch("tiny", LeafType::Int8);
        tree.write();
        file.close();
    }
    const Reopened r = reopen(path);
    EXPECT_EQ(r.tree.title, "a title");
    struct Want {
        const char *name, *title, *leaf_title;
        LeafType type;
        int32_t len;
        const char* count;
    };
    const Want want[] = {{"nMuon", "nMuon/i", "nMuon", LeafType::UInt32, 1, ""},
                         {"Muon_pt", "Muon_pt[nMuon]/F", "Muon_pt[nMuon]", LeafType::Float, 1, "nMuon"},
                         {"pos", "pos[3]/D", "pos[3]", LeafType::Double, 3, ""},
                         {"hits", "hits[nMuon][4]/s", "hits[nMuon][4]", LeafType::UInt16, 4, "nMuon"},
                         {"flag", "flag/O", "flag", LeafType::Bool, 1, ""},
                         {"tiny", "tiny/B", "tiny", LeafType::Int8, 1, ""}};
    ASSERT_EQ(r.tree.branches.size(), std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        const BranchInfo& b = r.tree.branches[i];
        SCOPED_TRACE(want[i].name);
        EXPECT_EQ(b.name, want[i].name);
        EXPECT_EQ(b.title, want[i].title);
        EXPECT_EQ(b.leaf.name, want[i].name);
        EXPECT_EQ(b.leaf.title, want[i].leaf_title);
        EXPECT_EQ(b.leaf.type, want[i].type);
        EXPECT_EQ(b.leaf.len, want[i].len);
        EXPECT_EQ(b.leaf.count_leaf, want[i].count);
        EXPECT_EQ(b.leaf.is_range, i == 0);
        EXPECT_EQ(b.entries, 0);
    }
}

// ---------------------------------------------------------------------------------------

TEST(TreeWriter, EmptyTreeKeepsItsBranchesAndHasNoEntries)
{
    handmade::TempDir dir;
    const std::string path = (dir / "empty.root").string();
    {
        FileWriter file(path, 101);
        TreeWriter tree(file, "Events", "");
        tree.set_auto_flush(100);
        tree.add_branch("n", LeafType::Int32);
        tree.add_branch("x", LeafType::Float, "n");
        tree.add_branch("flag", LeafType::Bool);
        tree.write();
        file.close();
    }
    const Reopened r = reopen(path);
    EXPECT_EQ(r.tree.entries, 0);
    ASSERT_EQ(r.tree.branches.size(), 3u);
    for (const BranchInfo& b : r.tree.branches) {
        EXPECT_EQ(b.write_basket(), 0) << b.name;
        EXPECT_EQ(b.tot_bytes, 0) << b.name;
    }
    EXPECT_EQ(r.tree.branches[1].leaf.count_leaf, "n");
    BranchReader x(*r.file, r.tree, 1);
    EXPECT_THROW(x.entry_bytes(0), RootError);
}

// Branches flush when full, independently; clusters cut every branch at the same entry.
TEST(TreeWriter, BasketsFillToTheBasketSizeAndClustersCutAllBranches)
{
    handmade::TempDir dir;
    const std::string path = (dir / "clusters.root").string();
    Columns expected(2);
    {
        FileWriter file(path, 0);
        TreeWriter tree(file, "Events", "");
        tree.set_auto_flush(1000);
        const int small = tree.add_branch(branch_spec("small", LeafType::Int32, {}, 1, 1000));
        const int wide = tree.add_branch(branch_spec("wide", LeafType::Double, {}, 1, 32000));
        for (int32_t e = 0; e < 2500; ++e) {
            const double d = e;
            tree.set_value<int32_t>(small, e);
            tree.set_value<double>(wide, d);
            tree.fill();
            expected[0].push_back(to_be<int32_t>(std::span(&e, 1)));
            expected[1].push_back(to_be<double>(std::span(&d, 1)));
        }
        tree.write();
        file.close();
    }
    const Reopened r = reopen(path);
    const BranchInfo& small = r.tree.branches[0];
    const BranchInfo& wide = r.tree.branches[1];
    // A basket of 1000 bytes, key included, holds at most this many 4-byte entries.
    const int16_t keylen = FileWriter::basket_key_length("small", "Events");
    const int64_t per_basket = (1000 - keylen) / 4;
    ASSERT_GT(small.write_basket(), 2500 / per_basket);
    for (int i = 0; i < small.write_basket(); ++i) {
        const int64_t first = small.basket_entry[static_cast<size_t>(i)];
        const int64_t n = small.basket_entry[static_cast<size_t>(i) + 1] - first;
        EXPECT_LE(n, per_basket) << "basket " << i;
        EXPECT_LE(small.basket_bytes[static_cast<size_t>(i)], 1000) << "basket " << i;
        EXPECT_EQ(first / 1000, (first + n - 1) / 1000) << "basket " << i << " crosses a cluster";
    }
    // 2500 doubles fit one 32000-byte basket: only the cluster boundaries cut it.
    EXPECT_EQ(wide.basket_entry, (std::vector<int64_t>{0, 1000, 2000, 2500}));
    EXPECT_EQ(r.tree.tot_bytes, small.tot_bytes + wide.tot_bytes);
    EXPECT_EQ(r.tree.zip_bytes, small.zip_bytes + wide.zip_bytes);
    EXPECT_EQ(small.tot_bytes, small.zip_bytes) << "setting 0 stores every basket raw";
    expect_columns(r, expected);
}

// ---------------------------------------------------------------------------------------
// Bad entries: the message names file, tree, branch and entry, and the writer stays usable
// with the bad entry left out.

TEST(TreeWriter, BadEntriesAreRefusedWithFileTreeBranchAndEntry)
{
    handmade::TempDir dir;
    const std::string path = (dir / "bad.root").string();
    FileWriter file(path, 0);
    TreeWriter tree(file, "Events", "");
    const int n = tree.add_branch("n", LeafType::Int16);
    const int x = tree.add_branch("x", LeafType::Float, "n");
    const int fixed = tree.add_branch("fixed", LeafType::Int32, {}, 3);

    auto good = [&](int16_t count, int32_t tag) {
        tree.set_value<int16_t>(n, count);
        tree.set_values<float>(x, std::vector<float>(static_cast<size_t>(count), 1.5f));
        tree.set_values<int32_t>(fixed, std::vector<int32_t>{tag, tag, tag});
        tree.fill();
    };
    good(2, 0);

    struct Case {
        const char* what;
        std::function<void()> give;
        std::vector<std::string> message;
    };
    const std::vector<Case> cases = {
        {"array longer than its count",
         [&] {
             tree.set_value<int16_t>(n, 2);
             tree.set_values<float>(x, std::vector<float>(3, 0.f));
             tree.set_values<int32_t>(fixed, std::vector<int32_t>(3, 9));
         },
         {"branch x", "entry 1", "3 elements given", "n = 2"}},
        {"array shorter than its count",
         [&] {
             tree.set_value<int16_t>(n, 4);
             tree.set_values<float>(x, std::vector<float>(1, 0.f));
             tree.set_values<int32_t>(fixed, std::vector<int32_t>(3, 9));
         },
         {"branch x", "entry 1", "1 elements given", "n = 4"}},
        {"negative count",
         [&] {
             tree.set_value<int16_t>(n, -1);
             tree.set_values<float>(x, std::vector<float>{});
             tree.set_values<int32_t>(fixed, std::vector<int32_t>(3, 9));
         },
         {"branch x", "entry 1", "negative"}},
        {"fixed array of the wrong length",
         [&] {
             tree.set_value<int16_t>(n, 0);
             tree.set_values<float>(x, std::vector<float>{});
             tree.set_values<int32_t>(fixed, std::vector<int32_t>(2, 9));
         },
         {"branch fixed", "entry 1", "8 bytes given, 12 expected"}},
        {"branch left without a value",
         [&] {
             tree.set_value<int16_t>(n, 0);
             tree.set_values<int32_t>(fixed, std::vector<int32_t>(3, 9));
         },
         {"branch x", "entry 1", "no value given"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.give();
        try {
            tree.fill();
            ADD_FAILURE() << "accepted";
        } catch (const RootError& e) {
            EXPECT_THAT(e.what(), AllOf(HasSubstr(path), HasSubstr("tree Events")));
            for (const auto& part : c.message) EXPECT_THAT(e.what(), HasSubstr(part));
        }
        EXPECT_EQ(tree.entries(), 1);
    }
    good(1, 1);
    tree.write();
    file.close();

    const Reopened r = reopen(path);
    ASSERT_EQ(r.tree.entries, 2);
    BranchReader xr(*r.file, r.tree, x), fr(*r.file, r.tree, fixed);
    std::vector<float> xs;
    std::vector<int32_t> fs;
    rootio::decode_elements(xr.entry_bytes(1), xs);
    rootio::decode_elements(fr.entry_bytes(1), fs);
    EXPECT_EQ(xs, std::vector<float>{1.5f});
    EXPECT_EQ(fs, (std::vector<int32_t>{1, 1, 1}));
    EXPECT_EQ(r.tree.branches[0].leaf.count_maximum, 2) << "rejected counts leave no trace";
}

TEST(TreeWriter, StructureErrorsNameTheBranch)
{
    handmade::TempDir dir;
    FileWriter file((dir / "structure.root").string(), 0);
    TreeWriter tree(file, "Events", "");
    tree.add_branch("x", LeafType::Float);
    EXPECT_THAT([&] { tree.add_branch("x", LeafType::Float); },
                ::testing::ThrowsMessage<RootError>(AllOf(HasSubstr("branch x"), HasSubstr("twice"))));
    EXPECT_THAT([&] { tree.add_branch("y", LeafType::Float, "n"); },
                ::testing::ThrowsMessage<RootError>(AllOf(HasSubstr("branch y"), HasSubstr("count branch n"))));
    EXPECT_THAT([&] { tree.add_branch("z", LeafType::Float, "x"); },
                ::testing::ThrowsMessage<RootError>(HasSubstr("not an integer scalar")));
    BranchInfo unsupported = branch_spec("s", LeafType::Int8);
    unsupported.unsupported = "TLeafC strings";
    EXPECT_THAT([&] { tree.add_branch(unsupported); }, ::testing::ThrowsMessage<RootError>(HasSubstr("TLeafC")));
    tree.set_value<float>(0, 1.f);
    tree.fill();
    EXPECT_THAT([&] { tree.add_branch("late", LeafType::Int32); },
                ::testing::ThrowsMessage<RootError>(HasSubstr("after entries")));
}
