// The RNTuple merge seen through the reader: every page of every part in the output with
// its stored bytes unchanged, element offsets carried on across parts, each part opened
// once, and parts of another structure refused naming the file and the first difference.
#include "rootio/ntuple/ntuple_merger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <functional>

#include "rootio/file/file_writer.h"
#include "rootio/file/root_file.h"
#include "rootio/io/byte_source.h"
#include "rootio/ntuple/blob_chunks.h"
#include "rootio/ntuple/cluster_cache.h"
#include "rootio/ntuple/ntuple_reader.h"
#include "rootio/ntuple/ntuple_writer.h"

using rootio::FileWriter;
using rootio::LeafType;
using rootio::RootError;
using rootio::RootFile;
using ::testing::HasSubstr;
using namespace rootio::ntuple;

namespace {

class NtupleMergerTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const
    {
        return (std::filesystem::temp_directory_path() /
                ("ntuple_merger_test_" + std::to_string(::getpid()) + "_" + name + ".root"))
            .string();
    }
    void TearDown() override
    {
        for (const char* n : {"a", "b", "c", "out"}) std::filesystem::remove(path(n));
    }
};

// A float x, a std::vector<std::int32_t> v and a std::string s; `declare` may change that.
using Declare = std::function<void(NTupleWriter&)>;

void write_part(const std::string& file_path, int compression, size_t page_bytes, size_t cluster_bytes,
                int entries, int first, const Declare& declare = {}, uint64_t max_key_size = uint64_t{1} << 30)
{
    FileWriter file(file_path, compression);
    NTupleWriter w(file, "Events",
                   {.page_bytes = page_bytes, .cluster_bytes = cluster_bytes, .max_key_size = max_key_size});
    if (declare) {
        declare(w);
        w.write();
        file.close();
        return;
    }
    const auto x = w.add_fundamental("x", LeafType::Float);
    const auto v = w.add_vector("v", LeafType::Int32);
    const auto s = w.add_string("s");
    std::vector<int32_t> values;
    for (int e = first; e < first + entries; ++e) {
        w.set_value<float>(x, static_cast<float>(e) * 0.5f);
        values.assign(static_cast<size_t>(e % 4), e);
        w.set_values<int32_t>(v, values);
        w.set_string(s, std::string(static_cast<size_t>(e % 7), 'a'));
        w.fill();
    }
    w.write();
    file.close();
}

struct Opened {
    std::unique_ptr<RootFile> file;
    std::unique_ptr<NtupleReader> reader;
    explicit Opened(const std::string& p)
        : file(RootFile::open(p)), reader(NtupleReader::open(*file, "Events"))
    {
    }
};

TEST_F(NtupleMergerTest, CopiesEveryPageUnchangedAndCarriesElementOffsetsOn)
{
    // Other settings, page and cluster sizes per part: pages keep theirs. (Uncompressed
    // parts store floats unsplit, another encoding.)
    write_part(path("a"), 505, 24, 200, 60, 0);
    write_part(path("b"), 101, 64 << 10, 100 << 20, 35, 60);
    write_part(path("c"), 404, 16, 64, 50, 95);
    const std::vector<std::string> parts = {path("a"), path("b"), path("c")};
    NtupleMergeCounts counts;
    // Each part opened once, whether its reader is kept from the check to the copy or read again.
    for (const int64_t kept_readers_bytes : {int64_t{0}, int64_t{256} << 20}) {
        rootio::MergeInputs inputs(parts);
        const uint64_t opened = rootio::read_totals().opened;
        counts = merge_ntuples(path("out"), inputs, "Events", kept_readers_bytes);
        EXPECT_EQ(rootio::read_totals().opened - opened, parts.size()) << kept_readers_bytes;
    }

    const Opened merged(path("out"));
    const Descriptor& m = merged.reader->descriptor();
    ASSERT_EQ(m.entries, 145u);
    EXPECT_EQ(counts.entries, 145u);
    std::vector<uint32_t> columns(m.columns.size());
    for (uint32_t c = 0; c < columns.size(); ++c) columns[c] = c;

    size_t merged_cluster = 0;
    uint64_t pages = 0, first_entry = 0;
    std::vector<uint64_t> elements_before(m.columns.size(), 0);
    ClusterPages ours, theirs;
    for (const std::string& part : parts) {
        const Opened in(part);
        const Descriptor& d = in.reader->descriptor();
        for (size_t k = 0; k < d.clusters.size(); ++k, ++merged_cluster) {
            SCOPED_TRACE(part + " cluster " + std::to_string(k));
            ASSERT_LT(merged_cluster, m.clusters.size());
            const ClusterDescriptor& mc = m.clusters[merged_cluster];
            EXPECT_EQ(mc.first_entry, first_entry + d.clusters[k].first_entry);
            EXPECT_EQ(mc.entries, d.clusters[k].entries);
            in.reader->fetch_pages(k, columns, theirs);
            merged.reader->fetch_pages(merged_cluster, columns, ours);
            ASSERT_EQ(ours.pages.size(), theirs.pages.size());
            for (size_t p = 0; p < ours.pages.size(); ++p) {
                ASSERT_EQ(ours.pages[p].has_checksum, theirs.pages[p].has_checksum);
                const auto a = ours.stored(ours.pages[p]), b = theirs.stored(theirs.pages[p]);
                EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end())) << "page " << p;
            }
            pages += ours.pages.size();
            for (size_t c = 0; c < columns.size(); ++c) {
                EXPECT_EQ(mc.columns[c].first_element,
                          static_cast<int64_t>(elements_before[c]) + d.clusters[k].columns[c].first_element);
                EXPECT_EQ(mc.columns[c].compression, d.clusters[k].columns[c].compression);
            }
        }
        for (const ClusterDescriptor& c : d.clusters)
            for (size_t col = 0; col < columns.size(); ++col) elements_before[col] += c.columns[col].elements;
        first_entry += d.entries;
    }
    EXPECT_EQ(merged_cluster, m.clusters.size());
    EXPECT_EQ(counts.pages_copied, pages);
    EXPECT_GT(m.clusters.size(), 3u);
}

TEST_F(NtupleMergerTest, RefusesAnotherStructureNamingTheFileAndTheFirstDifference)
{
    struct Case {
        const char* what;
        Declare declare;
        const char* message;
    };
    const Case cases[] = {
        {"a field of another type",
         [](NTupleWriter& w) {
             w.add_fundamental("x", LeafType::Double);
             w.add_vector("v", LeafType::Int32);
             w.add_string("s");
         },
         "field x: type double where the first input has float"},
        {"a field renamed",
         [](NTupleWriter& w) {
             w.add_fundamental("x", LeafType::Float);
             w.add_vector("w", LeafType::Int32);
             w.add_string("s");
         },
         "field v: named w"},
        {"an RVec for a std::vector",
         [](NTupleWriter& w) {
             w.add_fundamental("x", LeafType::Float);
             w.add_vector("v", LeafType::Int32, true);
             w.add_string("s");
         },
         "field v: type ROOT::VecOps::RVec<std::int32_t>"},
        {"a field more",
         [](NTupleWriter& w) {
             w.add_fundamental("x", LeafType::Float);
             w.add_vector("v", LeafType::Int32);
             w.add_string("s");
             w.add_fundamental("y", LeafType::Float);
         },
         "top-level fields 4 where the first input has 3"},
    };
    write_part(path("a"), 505, 64 << 10, 100 << 20, 10, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_part(path("b"), 505, 64 << 10, 100 << 20, 0, 0, c.declare);
        const std::vector<std::string> parts = {path("a"), path("b")};
        try {
            merge_ntuples(path("out"), parts, "Events");
            ADD_FAILURE() << "merged";
        } catch (const RootError& e) {
            EXPECT_THAT(e.what(), HasSubstr(path("b")));
            EXPECT_THAT(e.what(), HasSubstr(c.message));
        }
        EXPECT_FALSE(std::filesystem::exists(path("out")));
    }
}

// Payloads past the maximum key size are split as the format lays out: the first record
// keeps the others' offsets in its last bytes.
TEST(BlobChunks, SplitAsTheFormatLaysOut)
{
    struct Case {
        uint64_t nbytes, max;
        size_t count;
        uint64_t first_data;
    };
    const Case cases[] = {
        {100, 100, 1, 100}, {100, 0, 1, 100},  // fits, or no limit
        {250, 100, 3, 84},                     // 84 + 100 + 66: the offsets fit the tail's room
        {200, 100, 3, 84},                     // 84 + 100 + 16: no room in a full last record
        {101, 100, 2, 92},                     // 92 + 9
        {1000, 16, 0, 0},                      // the offsets alone fill the first record
    };
    for (const Case& c : cases) {
        const BlobChunks plan = plan_blob_chunks(c.nbytes, c.max);
        EXPECT_EQ(plan.count, c.count) << c.nbytes << " in " << c.max;
        EXPECT_EQ(plan.first_data, c.first_data) << c.nbytes << " in " << c.max;
    }
}

size_t count_blob_records(const std::string& file_path)
{
    std::ifstream in(file_path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t n = 0;
    for (size_t at = bytes.find("\x05RBlob"); at != std::string::npos; at = bytes.find("\x05RBlob", at + 1)) ++n;
    return n;
}

// Pages and envelopes written past a small maximum key size read back, and merge, as the
// same RNTuple written in one record each.
TEST_F(NtupleMergerTest, PayloadsPastTheMaximumKeySizeSpanSeveralRecords)
{
    write_part(path("a"), 0, 1024, 100 << 20, 400, 0, {}, 100);
    write_part(path("b"), 0, 1024, 100 << 20, 400, 0);
    EXPECT_GT(count_blob_records(path("a")), 3 * count_blob_records(path("b")));
    const std::vector<std::string> parts = {path("a")};
    merge_ntuples(path("out"), parts, "Events");

    const Opened chunked(path("a")), whole(path("b")), merged(path("out"));
    EXPECT_EQ(chunked.reader->anchor().max_key_size, 100u);
    const Descriptor& d = whole.reader->descriptor();
    ASSERT_EQ(chunked.reader->descriptor().clusters.size(), d.clusters.size());
    ASSERT_EQ(merged.reader->descriptor().clusters.size(), d.clusters.size());
    for (size_t k = 0; k < d.clusters.size(); ++k)
        for (uint32_t col = 0; col < d.columns.size(); ++col) {
            SCOPED_TRACE("cluster " + std::to_string(k) + " column " + std::to_string(col));
            const uint32_t columns[] = {col};
            ClusterCache want(*whole.reader), got(*chunked.reader), again(*merged.reader);
            want.load(k, columns);
            got.load(k, columns);
            again.load(k, columns);
            const auto& w = want.get(col).values;
            EXPECT_TRUE(std::ranges::equal(got.get(col).values, w));
            EXPECT_TRUE(std::ranges::equal(again.get(col).values, w));
        }
}

}  // namespace
