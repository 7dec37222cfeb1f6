// The RNTuple writer seen through the reader: page and cluster boundaries where the sizes
// put them, element offsets and index columns continuing across them, every column type
// the writer chooses decoding back to its elements, and entries it must refuse.
#include "rootio/ntuple/ntuple_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "rootio/file/file_writer.h"
#include "rootio/file/root_file.h"
#include "rootio/ntuple/cluster_cache.h"
#include "rootio/ntuple/column_encoding.h"
#include "rootio/ntuple/ntuple_reader.h"
#include "rootio/ntuple/page_decoder.h"

using ::testing::HasSubstr;
using rootio::FileWriter;
using rootio::LeafType;
using rootio::RootError;
using rootio::RootFile;
using namespace rootio::ntuple;

namespace {

class NTupleWriterTest : public ::testing::Test {
protected:
    std::string path_ = (std::filesystem::temp_directory_path() /
                         ("ntuple_writer_test_" + std::to_string(::getpid()) + ".root"))
                            .string();
    void TearDown() override { std::filesystem::remove(path_); }
};

// Page elements per cluster of the one column of a float field written with these sizes.
struct Boundaries {
    size_t page_bytes, cluster_bytes;
    int entries;
    std::vector<std::vector<uint32_t>> pages;  // per cluster, each page's elements
};

TEST_F(NTupleWriterTest, PagesAndClustersEndWhereTheSizesSay)
{
    const Boundaries cases[] = {
        // 4 floats per page, clusters closed once 10 entries (40 bytes) are in.
        {16, 40, 25, {{4, 4, 2}, {4, 4, 2}, {4, 1}}},
        {16, 40, 20, {{4, 4, 2}, {4, 4, 2}}},
        {4, 1000, 3, {{1, 1, 1}}},
        // A page never waits for a cluster: both at 8 entries.
        {32, 32, 17, {{8}, {8}, {1}}},
        {65536, 100 << 20, 1000, {{1000}}},
        {16, 40, 0, {}},  // no entries: no cluster, still a readable RNTuple
    };
    for (const Boundaries& c : cases) {
        SCOPED_TRACE("page " + std::to_string(c.page_bytes) + ", cluster " + std::to_string(c.cluster_bytes));
        {
            FileWriter file(path_, 505);
            NTupleWriter w(file, "t", {.page_bytes = c.page_bytes, .cluster_bytes = c.cluster_bytes});
            const auto x = w.add_fundamental("x", LeafType::Float);
            for (int e = 0; e < c.entries; ++e) {
                w.set_value<float>(x, static_cast<float>(e));
                w.fill();
            }
            w.write();
            file.close();
        }
        const auto file = RootFile::open(path_);
        const auto reader = NtupleReader::open(*file, "t");
        const Descriptor& d = reader->descriptor();
        ASSERT_EQ(d.clusters.size(), c.pages.size());
        EXPECT_EQ(d.entries, static_cast<uint64_t>(c.entries));
        int64_t element = 0;
        uint64_t entry = 0;
        for (size_t k = 0; k < d.clusters.size(); ++k) {
            const ColumnRange& col = d.clusters[k].columns.at(0);
            std::vector<uint32_t> sizes;
            for (const PageDescriptor& p : col.pages) sizes.push_back(p.elements);
            EXPECT_EQ(sizes, c.pages[k]) << "cluster " << k;
            EXPECT_EQ(col.first_element, element);
            EXPECT_EQ(d.clusters[k].first_entry, entry);
            EXPECT_EQ(col.compression, 505u);
            element += static_cast<int64_t>(col.elements);
            entry += d.clusters[k].entries;
            // Values come back in order across pages.
            const uint32_t columns[] = {0};
            ClusterCache cache(*reader);
            cache.load(k, columns);
            const auto values = cache.get(0).as<float>();
            for (size_t i = 0; i < values.size(); ++i)
                ASSERT_EQ(values[i], static_cast<float>(col.first_element + static_cast<int64_t>(i)));
        }
    }
}

// Index columns count from their cluster's start; a page's first offset stands alone.
TEST_F(NTupleWriterTest, CollectionOffsetsRestartInEachCluster)
{
    for (int compression : {0, 101}) {
        {
            FileWriter file(path_, compression);
            NTupleWriter w(file, "t", {.page_bytes = 16, .cluster_bytes = 64});
            const auto v = w.add_vector("v", LeafType::Int32);
            const auto c = w.add_collection("c");
            const auto m = w.add_member(c, "c_m", LeafType::Int16);
            w.add_projected_rvec("c_m", c, m);
            w.add_cardinality("nc", c);
            for (int e = 0; e < 30; ++e) {
                std::vector<int32_t> values(static_cast<size_t>(e % 4), -e);
                w.set_values<int32_t>(v, values);
                w.set_size(c, static_cast<uint64_t>(e % 3));
                const std::vector<int16_t> members(static_cast<size_t>(e % 3), static_cast<int16_t>(e));
                w.set_values<int16_t>(m, members);
                w.fill();
            }
            w.write();
            file.close();
        }
        const auto file = RootFile::open(path_);
        const auto reader = NtupleReader::open(*file, "t");
        const Descriptor& d = reader->descriptor();
        ASSERT_GT(d.clusters.size(), 2u);
        EXPECT_EQ(d.columns[0].type, compression ? ColumnType::SplitIndex64 : ColumnType::Index64);
        ClusterCache cache(*reader);
        for (size_t k = 0; k < d.clusters.size(); ++k) {
            const uint32_t columns[] = {0, 2};
            cache.load(k, columns);
            const ColumnData& offsets = cache.get(0);
            const ColumnData& collection = cache.get(2);
            uint64_t vector_total = 0, collection_total = 0;
            for (uint64_t i = 0; i < d.clusters[k].entries; ++i) {
                const uint64_t e = d.clusters[k].first_entry + i;
                vector_total += e % 4;
                collection_total += e % 3;
                ASSERT_EQ(offsets.as<uint64_t>()[i], vector_total) << "cluster " << k << " entry " << e;
                ASSERT_EQ(collection.as<uint64_t>()[i], collection_total) << "cluster " << k << " entry " << e;
            }
        }
    }
}

// Every column type the writer picks decodes back to the elements it was given.
TEST(ColumnEncoding, EveryWrittenTypeDecodesBack)
{
    const ColumnType types[] = {ColumnType::Bit,        ColumnType::Char,        ColumnType::Int8,
                                ColumnType::UInt8,      ColumnType::Int16,       ColumnType::SplitInt16,
                                ColumnType::SplitUInt16, ColumnType::SplitInt32, ColumnType::SplitUInt32,
                                ColumnType::SplitInt64, ColumnType::SplitUInt64, ColumnType::SplitReal32,
                                ColumnType::SplitReal64, ColumnType::Index64,    ColumnType::SplitIndex64,
                                ColumnType::Real32,     ColumnType::Int64};
    for (ColumnType type : types) {
        SCOPED_TRACE(std::string(column_type_info(type).name));
        const uint32_t size = unencoded_element_size(type);
        const uint64_t count = 37;
        std::vector<uint8_t> elements(count * size);
        for (size_t i = 0; i < elements.size(); ++i) elements[i] = static_cast<uint8_t>(i * 151 + 7);
        if (type == ColumnType::Bit)
            for (auto& b : elements) b &= 1;
        if (column_type_info(type).kind == ValueKind::Index) {  // offsets only grow
            uint64_t total = 0;
            for (uint64_t i = 0; i < count; ++i) {
                total += i % 5;
                std::memcpy(elements.data() + i * 8, &total, 8);
            }
        }
        std::vector<uint8_t> page;
        encode_page(type, elements, count, page);
        ColumnDescriptor column;
        column.type = type;
        column.bits_on_storage = column_type_info(type).max_bits;
        ASSERT_EQ(page.size(), packed_page_size(column, count));
        std::vector<uint8_t> decoded(count * memory_element_size(type));
        decode_page(column, page, count, decoded);
        EXPECT_EQ(decoded, elements);
    }
}

// The format's own examples: split bytes, zigzag and deltas.
TEST(ColumnEncoding, SplitZigzagAndDeltaAsTheFormatDefinesThem)
{
    std::vector<uint8_t> page;
    const int16_t ints[] = {1, -1, 2};  // zigzag 2, 1, 4
    encode_page(ColumnType::SplitInt16, {reinterpret_cast<const uint8_t*>(ints), sizeof ints}, 3, page);
    EXPECT_EQ(page, (std::vector<uint8_t>{2, 1, 4, 0, 0, 0}));
    const uint64_t offsets[] = {1, 1, 3};  // deltas 1, 0, 2
    encode_page(ColumnType::SplitIndex64, {reinterpret_cast<const uint8_t*>(offsets), sizeof offsets}, 3, page);
    EXPECT_EQ(std::vector<uint8_t>(page.begin(), page.begin() + 4), (std::vector<uint8_t>{1, 0, 2, 0}));
    const uint8_t bits[] = {1, 0, 0, 1, 1, 1, 0, 0, 1};
    encode_page(ColumnType::Bit, bits, 9, page);
    EXPECT_EQ(page, (std::vector<uint8_t>{0x39, 0x01}));
}

// Entries the writer must refuse, and no file left behind after any of them.
TEST_F(NTupleWriterTest, RefusesWhatWouldMakeABadFile)
{
    struct Case {
        const char* what;
        const char* message;
        void (*run)(NTupleWriter&);
    };
    const Case cases[] = {
        {"field not set", "field x not set in entry 0", [](NTupleWriter& w) {
             w.add_fundamental("x", LeafType::Int32);
             w.fill();
         }},
        {"field set twice", "field x set twice in entry 0", [](NTupleWriter& w) {
             const auto x = w.add_fundamental("x", LeafType::Int32);
             w.set_value<int32_t>(x, 1);
             w.set_value<int32_t>(x, 2);
         }},
        {"members short of the size", "member m given 1 values for a collection of 2", [](NTupleWriter& w) {
             const auto c = w.add_collection("c");
             const auto m = w.add_member(c, "m", LeafType::Float);
             w.set_size(c, 2);
             w.set_value<float>(m, 1);
             w.fill();
         }},
        {"values of another type", "given values of another size", [](NTupleWriter& w) {
             const auto x = w.add_fundamental("x", LeafType::Int32);
             w.set_value<double>(x, 1);
         }},
        {"field after data", "added after the first entry", [](NTupleWriter& w) {
             const auto x = w.add_fundamental("x", LeafType::Int32);
             w.set_value<int32_t>(x, 1);
             w.fill();
             w.add_fundamental("y", LeafType::Int32);
         }},
        {"two fields of one name", "two top-level fields named x", [](NTupleWriter& w) {
             w.add_fundamental("x", LeafType::Int32);
             w.add_string("x");
         }},
        {"entry left unfilled", "set but not filled", [](NTupleWriter& w) {
             const auto x = w.add_fundamental("x", LeafType::Int32);
             w.set_value<int32_t>(x, 1);
             w.write();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            FileWriter file(path_, 101);
            NTupleWriter w(file, "t");
            try {
                c.run(w);
                ADD_FAILURE() << "not refused";
            } catch (const RootError& e) {
                EXPECT_THAT(e.what(), HasSubstr(c.message));
                EXPECT_THAT(e.what(), HasSubstr(path_));
            }
            EXPECT_THROW(w.fill(), RootError);  // unusable from then on
        }
        EXPECT_FALSE(std::filesystem::exists(path_));
    }
}

}  // namespace
