// Trees written by TreeWriter and read back through the engine's reader: every leaf type
// and shape, every codec, clusters, empty trees and arrays, structure cloned from real
// files, and the errors a bad entry gets. Every file written is also walked byte by byte
// (file_structure.h), independently of the reader.
#include "rootio/tree_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cctype>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "file_structure.h"
#include "handmade_file.h"
#include "rootio/branch_reader.h"
#include "rootio/error.h"
#include "rootio/root_file.h"
#include "rootio/tree_reader.h"
#include "testdata.h"

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

namespace {

using Bytes = std::vector<uint8_t>;

template <class T>
constexpr LeafType leaf_type_of()
{
    if constexpr (std::is_same_v<T, bool>) return LeafType::Bool;
    if constexpr (std::is_same_v<T, int8_t>) return LeafType::Int8;
    if constexpr (std::is_same_v<T, uint8_t>) return LeafType::UInt8;
    if constexpr (std::is_same_v<T, int16_t>) return LeafType::Int16;
    if constexpr (std::is_same_v<T, uint16_t>) return LeafType::UInt16;
    if constexpr (std::is_same_v<T, int32_t>) return LeafType::Int32;
    if constexpr (std::is_same_v<T, uint32_t>) return LeafType::UInt32;
    if constexpr (std::is_same_v<T, int64_t>) return LeafType::Int64;
    if constexpr (std::is_same_v<T, uint64_t>) return LeafType::UInt64;
    if constexpr (std::is_same_v<T, float>) return LeafType::Float;
    if constexpr (std::is_same_v<T, double>) return LeafType::Double;
}

// Values that break careless code: extremes, zero and its negative, NaNs with payload and
// sign, infinities, denormals; then pseudo-random values of every bit pattern.
template <class T>
std::vector<T> stress_values(size_t n, uint32_t seed)
{
    std::vector<T> v;
    if constexpr (std::is_same_v<T, bool>) {
        v = {false, true, true};
    } else if constexpr (std::is_integral_v<T>) {
        using L = std::numeric_limits<T>;
        v = {L::min(), L::max(), T(0), T(1), T(L::min() + 1), T(L::max() - 1), T(-1)};
    } else {
        using L = std::numeric_limits<T>;
        using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
        constexpr U sign = U{1} << (sizeof(T) * 8 - 1);
        const U quiet_nan_payload = std::bit_cast<U>(L::quiet_NaN()) | 1;
        v = {-T(0), T(0), L::infinity(), -L::infinity(), L::quiet_NaN(), std::bit_cast<T>(quiet_nan_payload),
             std::bit_cast<T>(quiet_nan_payload | sign), L::denorm_min(), -L::denorm_min(), L::min(), L::max(),
             L::lowest(), L::epsilon()};
    }
    std::mt19937_64 rng(seed);
    while (v.size() < n) {
        const uint64_t r = rng();
        if constexpr (std::is_same_v<T, bool>) {
            v.push_back((r & 1) != 0);
        } else if constexpr (std::is_integral_v<T>) {
            v.push_back(static_cast<T>(r));
        } else {
            using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
            T x = std::bit_cast<T>(static_cast<U>(r));
            if (std::isnan(x)) x = T(r % 1000) / T(7);  // NaNs are covered above, bit by bit
            v.push_back(x);
        }
    }
    v.resize(n);
    return v;
}

// A run of values, contiguous for every T (std::vector<bool> is not).
template <class T>
class Run {
public:
    explicit Run(size_t n) : data_(std::make_unique<T[]>(n)), size_(n) {}
    T& operator[](size_t i) { return data_[i]; }
    std::span<const T> span() const { return {data_.get(), size_}; }

private:
    std::unique_ptr<T[]> data_;
    size_t size_;
};

template <class T>
Bytes to_be(std::span<const T> values)
{
    Bytes out(values.size() * sizeof(T));
    for (size_t i = 0; i < values.size(); ++i) rootio::store_be<T>(out.data() + i * sizeof(T), values[i]);
    return out;
}

// Bitwise equality: NaN payloads and the sign of zero count.
template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b)
{
    if (a.size() != b.size()) return false;
    if constexpr (std::is_same_v<T, bool>) return a == b;
    else return a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

// A branch of the given shape: scalar, fixed array `[len]`, or `[count][len]`.
BranchInfo branch_spec(const std::string& name, LeafType type, const std::string& count = {}, int32_t len = 1,
                       int32_t basket_size = 32000)
{
    BranchInfo b;
    b.name = name;
    b.leaf.name = name;
    b.leaf.type = type;
    b.leaf.len = len;
    b.leaf.count_leaf = count;
    b.leaf.title = name + (count.empty() ? "" : "[" + count + "]") + (len > 1 ? "[" + std::to_string(len) + "]" : "");
    b.title = b.leaf.title + "/" + rootio::leaf_type_letter(type);
    b.basket_size = basket_size;
    return b;
}

struct Reopened {
    std::unique_ptr<RootFile> file;
    TreeInfo tree;
};

// Checks the file's layout, then opens its tree.
Reopened reopen(const std::string& path, const std::string& tree = "Events")
{
    file_structure::check(path);
    Reopened r;
    r.file = RootFile::open(path);
    r.tree = rootio::read_tree(*r.file, tree);
    return r;
}

// Every entry's bytes of every branch: bytes[branch][entry].
using Columns = std::vector<std::vector<Bytes>>;

void expect_columns(const Reopened& r, const Columns& expected)
{
    ASSERT_EQ(r.tree.branches.size(), expected.size());
    for (size_t b = 0; b < expected.size(); ++b) {
        BranchReader reader(*r.file, r.tree, static_cast<int>(b));
        ASSERT_EQ(r.tree.branches[b].entries, static_cast<int64_t>(expected[b].size()));
        for (size_t e = 0; e < expected[b].size(); ++e) {
            const auto got = reader.entry_bytes(static_cast<int64_t>(e));
            ASSERT_TRUE(std::equal(got.begin(), got.end(), expected[b][e].begin(), expected[b][e].end()))
                << "branch " << r.tree.branches[b].name << " entry " << e;
        }
    }
}

}  // namespace

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
// Codecs: every setting round-trips; compressible baskets are compressed with the right
// block tag, incompressible ones stored raw; clusters from set_auto_flush.

class EveryCodec : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Settings, EveryCodec, ::testing::Values(0, 101, 109, 208, 209, 301, 404, 505),
                         [](const auto& p) { return "setting" + std::to_string(p.param); });

std::string block_tag(int setting)
{
    switch (setting / 100) {
    case 1: return "ZL";
    case 2: return "XZ";
    case 3: return "CS";
    case 4: return "L4";
    case 5: return "ZS";
    default: return "";
    }
}

TEST_P(EveryCodec, BasketsRoundTripCompressedOrRawAsTheyShrink)
{
    const int setting = GetParam();
    constexpr int kEntries = 5000, kCluster = 1000;
    handmade::TempDir dir;
    const std::string path = (dir / "codec.root").string();
    Columns expected(5);
    std::mt19937 rng(11);
    {
        FileWriter file(path, setting);
        TreeWriter tree(file, "Events", "");
        tree.set_auto_flush(kCluster);
        const int smooth = tree.add_branch("smooth", LeafType::Float);
        const int noise = tree.add_branch("noise", LeafType::UInt64);
        const int n = tree.add_branch("n", LeafType::UInt8);
        const int x = tree.add_branch("x", LeafType::Int16, "n");
        const int none = tree.add_branch("none", LeafType::Double, "n");
        for (int e = 0; e < kEntries; ++e) {
            const float f = static_cast<float>(e / 16);
            const uint64_t r = (uint64_t{rng()} << 32) | rng();
            const uint8_t count = static_cast<uint8_t>(e % 3 == 0 ? e % 7 : 0);
            const std::vector<int16_t> xs(count, static_cast<int16_t>(e % 11 - 5));
            tree.set_value<float>(smooth, f);
            tree.set_value<uint64_t>(noise, r);
            tree.set_value<uint8_t>(n, count);
            tree.set_values<int16_t>(x, xs);
            // A second array ruled by the same count, mostly empty.
            tree.set_entry_bytes(none, to_be<double>(std::vector<double>(count, -0.0)));
            tree.fill();
            expected[0].push_back(to_be<float>(std::span(&f, 1)));
            expected[1].push_back(to_be<uint64_t>(std::span(&r, 1)));
            expected[2].push_back(Bytes{count});
            expected[3].push_back(to_be<int16_t>(xs));
            expected[4].push_back(to_be<double>(std::vector<double>(count, -0.0)));
        }
        tree.write();
        file.close();
    }

    const Reopened r = reopen(path);
    EXPECT_EQ(r.file->compression(), setting);
    EXPECT_EQ(r.tree.auto_flush, kCluster);
    for (const BranchInfo& b : r.tree.branches) {
        SCOPED_TRACE(b.name);
        EXPECT_EQ(b.compress, setting);
        ASSERT_EQ(b.write_basket(), kEntries / kCluster) << "one basket per cluster";
        for (int i = 0; i <= b.write_basket(); ++i) EXPECT_EQ(b.basket_entry[static_cast<size_t>(i)], i * kCluster);
        int64_t zip = 0;
        for (int i = 0; i < b.write_basket(); ++i) {
            const int16_t keylen = FileWriter::basket_key_length(b.name, "Events");
            const int32_t nbytes = b.basket_bytes[static_cast<size_t>(i)];
            zip += nbytes;
            Bytes head(rootio::kBlockHeaderSize);
            r.file->read_at(b.basket_seek[static_cast<size_t>(i)] + keylen, head, "basket");
            const std::string tag(head.begin(), head.begin() + 2);
            // Random 64-bit values do not shrink: stored raw whatever the setting.
            const bool should_compress = setting % 100 != 0 && b.name != "noise";
            EXPECT_EQ(tag == block_tag(setting), should_compress) << "basket " << i << " starts " << tag;
            if (should_compress) {
                // The first block holds all of a small basket: its sizes fill the record.
                const uint32_t c = head[3] | head[4] << 8 | head[5] << 16;
                EXPECT_EQ(keylen + rootio::kBlockHeaderSize + c, static_cast<size_t>(nbytes));
            }
        }
        EXPECT_EQ(b.zip_bytes, zip);
    }
    expect_columns(r, expected);
}

// One basket larger than a block's input limit is split into blocks; each must decode.
class LargeBasket : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Settings, LargeBasket, ::testing::Values(101, 201, 404, 505),
                         [](const auto& p) { return "setting" + std::to_string(p.param); });

TEST_P(LargeBasket, AboveTheBlockLimitSplitsIntoBlocks)
{
    const int setting = GetParam();
    constexpr int32_t kLen = 4500000;  // 18 MB of floats in one entry
    handmade::TempDir dir;
    const std::string path = (dir / "large.root").string();
    std::vector<float> big(kLen);
    for (int32_t i = 0; i < kLen; ++i) big[static_cast<size_t>(i)] = static_cast<float>(i % 1000) * 0.25f;
    {
        FileWriter file(path, setting);
        TreeWriter tree(file, "Events", "");
        const int x = tree.add_branch("x", LeafType::Float, {}, kLen);
        tree.set_values<float>(x, big);
        tree.fill();
        tree.write();
        file.close();
    }
    const Reopened r = reopen(path);
    const BranchInfo& b = r.tree.branches.at(0);
    ASSERT_EQ(b.write_basket(), 1);
    const int16_t keylen = FileWriter::basket_key_length("x", "Events");
    const size_t payload = static_cast<size_t>(kLen) * 4;
    {
        // Block headers: the first covers exactly the limit, the second the rest.
        Bytes head(rootio::kBlockHeaderSize);
        r.file->read_at(b.basket_seek[0] + keylen, head, "basket");
        const uint32_t c1 = head[3] | head[4] << 8 | head[5] << 16;
        const uint32_t u1 = head[6] | head[7] << 8 | head[8] << 16;
        EXPECT_EQ(u1, rootio::kMaxBlockInput);
        r.file->read_at(b.basket_seek[0] + keylen + rootio::kBlockHeaderSize + c1, head, "basket");
        const uint32_t c2 = head[3] | head[4] << 8 | head[5] << 16;
        const uint32_t u2 = head[6] | head[7] << 8 | head[8] << 16;
        EXPECT_EQ(std::string(head.begin(), head.begin() + 2), block_tag(setting));
        EXPECT_EQ(u2, payload - rootio::kMaxBlockInput);
        EXPECT_EQ(static_cast<size_t>(b.basket_bytes[0]), keylen + 2 * rootio::kBlockHeaderSize + c1 + c2);
    }
    BranchReader reader(*r.file, r.tree, 0);
    std::vector<float> got;
    rootio::decode_elements(reader.entry_bytes(0), got);
    EXPECT_TRUE(got == big);
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
// Structure cloned from real ROOT files and entries copied as raw bytes read back equal:
// the skim's own path. Every other branch is taken, plus the counts they need, so indices
// of count branches differ between input and output.

struct CloneCase {
    const char* file;
    const char* tree;
};

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
