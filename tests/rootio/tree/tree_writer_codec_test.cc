// Every compression setting through the tree writer: baskets compressed with the right
// block tag when they shrink and stored raw when they do not, clusters, and baskets above
// a block's input limit split into blocks.
#include <gtest/gtest.h>

#include <random>

#include "rootio/handmade_file.h"
#include "rootio/codec/compression.h"
#include "rootio/tree/tree_writer.h"
#include "rootio/written_tree.h"

using rootio::BranchInfo;
using rootio::BranchReader;
using rootio::FileWriter;
using rootio::LeafType;
using rootio::RootFile;
using rootio::TreeWriter;
using namespace written_tree;

namespace {

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

}  // namespace

class EveryCodec : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Settings, EveryCodec, ::testing::Values(0, 101, 109, 208, 209, 301, 404, 505),
                         [](const auto& p) { return "setting" + std::to_string(p.param); });

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
