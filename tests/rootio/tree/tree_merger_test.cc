// merge_trees: entries in input order with every value unchanged, compressed baskets copied
// byte for byte, baskets kept in a tree record written out, each input opened once, and
// every fault (structure mismatch, corrupt or missing input, output among the inputs)
// named with no output left.
#include "rootio/tree/tree_merger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "rootio/handmade_file.h"
#include "rootio/format/error.h"
#include "rootio/io/byte_source.h"
#include "rootio/tree/tree_writer.h"
#include "testdata.h"
#include "rootio/written_tree.h"

using rootio::FileWriter;
using rootio::LeafType;
using rootio::merge_trees;
using rootio::RootError;
using rootio::TreeWriter;
using ::testing::AllOf;
using ::testing::HasSubstr;
using namespace written_tree;

namespace {

struct Shape {
    std::vector<BranchInfo> branches;
};

// n (count), x[n] float, id int64, small baskets so that each file has many.
Shape standard_shape()
{
    return {{branch_spec("n", LeafType::UInt8, {}, 1, 600), branch_spec("x", LeafType::Float, "n", 1, 600),
             branch_spec("id", LeafType::Int64, {}, 1, 600)}};
}

// Writes `entries` entries of the standard shape starting at id `first_id`, appending each
// entry's bytes to `columns`.
void write_standard(const std::string& path, int64_t first_id, int entries, Columns* columns = nullptr,
                    int compression = 101)
{
    FileWriter file(path, compression);
    TreeWriter tree(file, "Events", "");
    tree.set_auto_flush(100);
    for (const BranchInfo& b : standard_shape().branches) tree.add_branch(b);
    for (int e = 0; e < entries; ++e) {
        const int64_t id = first_id + e;
        const uint8_t n = static_cast<uint8_t>(id % 5);
        std::vector<float> x(n);
        for (uint8_t k = 0; k < n; ++k) x[k] = static_cast<float>(id) * 0.5f + k;
        tree.set_value<uint8_t>(0, n);
        tree.set_values<float>(1, x);
        tree.set_value<int64_t>(2, id);
        tree.fill();
        if (columns) {
            (*columns)[0].push_back(to_be<uint8_t>(std::span(&n, 1)));
            (*columns)[1].push_back(to_be<float>(x));
            (*columns)[2].push_back(to_be<int64_t>(std::span(&id, 1)));
        }
    }
    tree.write();
    file.close();
}

void write_shape(const std::string& path, const std::vector<BranchInfo>& branches)
{
    FileWriter file(path, 101);
    TreeWriter tree(file, "Events", "");
    for (const BranchInfo& b : branches) tree.add_branch(b);
    tree.write();
    file.close();
}

std::vector<uint8_t> stored_bytes(const RootFile& file, int64_t seek, int32_t nbytes)
{
    std::vector<uint8_t> record(static_cast<size_t>(nbytes));
    file.read_at(seek, record, "test");
    const int16_t keylen = rootio::load_be<int16_t>(record.data() + 14);
    return {record.begin() + keylen, record.end()};
}

std::string merge_error(const std::string& output, const std::vector<std::string>& inputs)
{
    try {
        merge_trees(output, inputs, "Events");
    } catch (const RootError& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(TreeMerger, EntriesInInputOrderWithBasketBytesCopiedUnchanged)
{
    handmade::TempDir dir;
    const std::vector<std::string> inputs = {(dir / "a.root").string(), (dir / "empty.root").string(),
                                             (dir / "b.root").string()};
    Columns expected(3);
    write_standard(inputs[0], 0, 730, &expected);
    write_standard(inputs[1], 0, 0);
    write_standard(inputs[2], 5000, 450, &expected);
    const std::string out = (dir / "merged.root").string();
    // No tree held from the check to the copy: each is read again, from the file opened once.
    const uint64_t opened = rootio::read_totals().opened;
    const rootio::MergeCounts counts = merge_trees(out, inputs, "Events", 0);
    EXPECT_EQ(counts.entries, 1180);
    EXPECT_EQ(rootio::read_totals().opened - opened, inputs.size()) << "each input opened once";

    const Reopened merged = reopen(out);
    EXPECT_EQ(merged.tree.entries, 1180);
    expect_columns(merged, expected);
    EXPECT_LE(merged.tree.auto_flush, 0) << "730 entries end mid-cluster: the cluster size cannot carry over";

    // Basket k of the output is basket k of a then of b, stored bytes identical.
    const Reopened a = reopen(inputs[0]), b = reopen(inputs[2]);
    int64_t baskets = 0;
    for (size_t i = 0; i < merged.tree.branches.size(); ++i) {
        const BranchInfo& m = merged.tree.branches[i];
        const BranchInfo& from_a = a.tree.branches[i];
        const BranchInfo& from_b = b.tree.branches[i];
        ASSERT_EQ(m.write_basket(), from_a.write_basket() + from_b.write_basket()) << m.name;
        for (int k = 0; k < m.write_basket(); ++k) {
            const bool in_a = k < from_a.write_basket();
            const Reopened& src = in_a ? a : b;
            const BranchInfo& sb = in_a ? from_a : from_b;
            const size_t sk = static_cast<size_t>(in_a ? k : k - from_a.write_basket());
            const size_t mk = static_cast<size_t>(k);
            EXPECT_EQ(m.basket_entry[mk], sb.basket_entry[sk] + (in_a ? 0 : 730))
                << m.name << " basket " << k;
            EXPECT_EQ(stored_bytes(*merged.file, m.basket_seek[mk], m.basket_bytes[mk]),
                      stored_bytes(*src.file, sb.basket_seek[sk], sb.basket_bytes[sk]))
                << m.name << " basket " << k;
        }
        EXPECT_EQ(m.zip_bytes, from_a.zip_bytes + from_b.zip_bytes) << m.name;
        EXPECT_EQ(m.leaf.count_maximum, std::max(from_a.leaf.count_maximum, from_b.leaf.count_maximum))
            << m.name;
        baskets += m.write_basket();
    }
    EXPECT_EQ(counts.baskets_copied, baskets);
}

TEST(TreeMerger, OnlyEmptyInputsGiveAnEmptyTreeOfTheirStructure)
{
    handmade::TempDir dir;
    const std::vector<std::string> inputs = {(dir / "e1.root").string(), (dir / "e2.root").string()};
    for (const auto& in : inputs) write_standard(in, 0, 0);
    merge_trees((dir / "out.root").string(), inputs, "Events");
    const Reopened r = reopen((dir / "out.root").string());
    EXPECT_EQ(r.tree.entries, 0);
    ASSERT_EQ(r.tree.branches.size(), 3u);
    EXPECT_EQ(r.tree.branches[1].leaf.count_leaf, "n");
}

// Each mismatch is named by file and branch, and the output, which existed before, is left
// as it was.
TEST(TreeMerger, StructureMismatchNamesFileAndBranchAndLeavesNoOutput)
{
    handmade::TempDir dir;
    const std::string good = (dir / "good.root").string();
    write_standard(good, 0, 50);
    const auto std_branches = standard_shape().branches;
    struct Case {
        const char* what;
        std::vector<BranchInfo> branches;
        const char* branch;
    };
    auto with = [&](size_t i, const BranchInfo& b) {
        auto v = std_branches;
        v[i] = b;
        return v;
    };
    const std::vector<Case> cases = {
        {"type", with(2, branch_spec("id", LeafType::Int32)), "branch id"},
        {"fixed length", with(2, branch_spec("id", LeafType::Int64, {}, 2)), "branch id"},
        {"count",
         {branch_spec("n", LeafType::UInt8), branch_spec("m", LeafType::UInt8),
          branch_spec("x", LeafType::Float, "m"), branch_spec("id", LeafType::Int64)},
         "branch m"},
        {"order", {std_branches[0], std_branches[2], std_branches[1]}, "branch id"},
        {"missing", {std_branches[0], std_branches[1]}, "branch id"},
        {"extra",
         {std_branches[0], std_branches[1], std_branches[2], branch_spec("w", LeafType::Double)},
         "branch w"},
    };
    const std::string out = (dir / "out.root").string();
    std::ofstream(out) << "previous";
    for (const Case& c : cases) {
        const std::string other = (dir / (std::string(c.what) + ".root")).string();
        write_shape(other, c.branches);
        EXPECT_THAT(merge_error(out, {good, other}), AllOf(HasSubstr(other), HasSubstr(c.branch))) << c.what;
        EXPECT_EQ(std::filesystem::file_size(out), 8u) << c.what;
    }
    // A counted array whose count is another branch of the same type and place.
    auto renamed_count = std_branches;
    renamed_count[1] = branch_spec("x", LeafType::Float, {}, 1);
    write_shape((dir / "uncounted.root").string(), renamed_count);
    EXPECT_THAT(merge_error(out, {good, (dir / "uncounted.root").string()}), HasSubstr("branch x"));
}

TEST(TreeMerger, CorruptMissingOrSelfInputsFailAndLeaveNoOutput)
{
    handmade::TempDir dir;
    const std::string good = (dir / "good.root").string();
    write_standard(good, 0, 400);
    const std::string out = (dir / "out.root").string();

    EXPECT_THAT(merge_error(out, {good, (dir / "absent.root").string()}), HasSubstr("absent.root"));
    EXPECT_FALSE(std::filesystem::exists(out));

    const std::string truncated = (dir / "truncated.root").string();
    std::filesystem::copy_file(good, truncated);
    std::filesystem::resize_file(truncated, std::filesystem::file_size(good) / 2);
    EXPECT_THAT(merge_error(out, {good, truncated}), HasSubstr(truncated));
    EXPECT_FALSE(std::filesystem::exists(out));

    // A basket whose key was overwritten: the tree reads fine, the copy finds the fault
    // halfway and removes the output it had begun.
    const std::string bad_basket = (dir / "bad_basket.root").string();
    std::filesystem::copy_file(good, bad_basket);
    {
        const Reopened r = reopen(good);
        const BranchInfo& x = r.tree.branches[1];
        std::fstream f(bad_basket, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(x.basket_seek[1] + 4 + 2 + 4 + 4 + 2 + 2 + 8 + 8 + 1);  // first byte of the class name
        f.put('X');
    }
    EXPECT_THAT(merge_error(out, {good, bad_basket}),
                AllOf(HasSubstr(bad_basket), HasSubstr("branch x"), HasSubstr("basket 1")));
    EXPECT_FALSE(std::filesystem::exists(out));

    // A basket table giving a basket a negative size, which would size the read of the run
    // of baskets around it.
    const std::string bad_size = (dir / "bad_size.root").string();
    write_standard(bad_size, 0, 400, nullptr, 0);
    {
        const BranchInfo id = reopen(bad_size).tree.branches[2];
        std::vector<uint8_t> bytes = handmade::read(bad_size);
        std::vector<uint8_t> table(1 + 4 * id.basket_bytes.size(), 1);  // flag, then the sizes
        for (size_t k = 0; k < id.basket_bytes.size(); ++k)
            rootio::store_be<int32_t>(&table[1 + 4 * k], id.basket_bytes[k]);
        const auto at = std::search(bytes.begin(), bytes.end(), table.begin(), table.end());
        ASSERT_NE(at, bytes.end());
        rootio::store_be<int32_t>(&at[1], INT32_MIN);
        handmade::write(bad_size, bytes);
    }
    EXPECT_THAT(merge_error(out, {good, bad_size}),
                AllOf(HasSubstr(bad_size), HasSubstr("branch id: basket 0 at byte"),
                      HasSubstr("lies outside the file")));
    EXPECT_FALSE(std::filesystem::exists(out));

    std::filesystem::copy_file(good, out);
    EXPECT_THAT(merge_error(out, {good, out}), HasSubstr("is also the output"));
    EXPECT_EQ(std::filesystem::file_size(out), std::filesystem::file_size(good));
}

// The reference sample keeps every basket inside its tree record: merged with itself, each
// becomes a basket record, and both halves read back as the sample.
TEST(TreeMerger, BasketsKeptInTheTreeRecordAreWrittenOutAsRecords)
{
    REQUIRE_TESTDATA(sample, "collider-sample-ttbar.root");
    handmade::TempDir dir;
    const std::string out = (dir / "twice.root").string();
    merge_trees(out, std::vector<std::string>{sample.string(), sample.string()}, "Events");
    const Reopened in = reopen(sample.string());
    const Reopened merged = reopen(out);
    ASSERT_EQ(merged.tree.entries, 2 * in.tree.entries);
    size_t compared = 0;
    for (size_t i = 0; i < in.tree.branches.size(); ++i) {
        if (!in.tree.branches[i].is_supported()) continue;
        EXPECT_TRUE(merged.tree.branches[i].embedded.empty());
        BranchReader a(*in.file, in.tree, static_cast<int>(i));
        BranchReader m(*merged.file, merged.tree, static_cast<int>(i));
        for (int64_t e = 0; e < merged.tree.entries; ++e) {
            const auto want = a.entry_bytes(e % in.tree.entries);
            const Bytes want_copy(want.begin(), want.end());
            const auto got = m.entry_bytes(e);
            ASSERT_TRUE(std::equal(got.begin(), got.end(), want_copy.begin(), want_copy.end()))
                << in.tree.branches[i].name << " entry " << e;
        }
        ++compared;
    }
    EXPECT_GT(compared, 900u);
}
