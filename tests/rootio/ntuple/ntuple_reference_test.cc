// The reference RNTuples where jsroot cannot referee (tests/interop/read_rntuple.test.sh
// compares the rest with jsroot): checked against what the writing code put in, as the
// reference folder's README states it, and against the fields they are projected from;
// and how their pages are fetched.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <map>

#include "../../../tools/ntuple_dump.h"
#include "rootio/ntuple/cluster_cache.h"
#include "rootio/ntuple/field_values.h"
#include "testdata.h"

namespace {

using namespace rootio::ntuple;

struct Opened {
    std::unique_ptr<rootio::RootFile> file;
    std::unique_ptr<NtupleReader> reader;
    const Descriptor& d() const { return reader->descriptor(); }
    uint32_t field(std::string_view name) const { return d().find_top_level(name).value(); }
};

Opened open(const std::filesystem::path& path, std::string_view name)
{
    Opened o;
    o.file = rootio::RootFile::open(path.string());
    o.reader = NtupleReader::open(*o.file, name);
    return o;
}

// One field's value at one entry as treedump writes it.
std::string json(EntryReader& r, size_t k, uint64_t entry)
{
    std::string out;
    treedump::JsonSink sink(out);
    r.read(entry, k, sink);
    return out;
}

struct LastReal final : ValueSink {
    float value = NAN;
    void real32(float v) override { value = v; }
    void null_value() override {}
    void boolean(bool) override {}
    void signed_integer(int64_t) override {}
    void unsigned_integer(uint64_t) override {}
    void real64(double) override {}
    void string(std::string_view) override {}
    void begin_array() override {}
    void end_array() override {}
    void begin_record() override {}
    void key(std::string_view) override {}
    void end_record() override {}
};

// Beyond the first cluster group (jsroot reads only that one): entry i holds one = i and
// int_vector = {i, i + 1}, read through the bulk path cluster by cluster.
TEST(NtupleReference, EveryClusterGroupThroughTheBulkPath)
{
    REQUIRE_TESTDATA(path, "rntuple/test_multiple_cluster_groups_rntuple_v1-0-0-0.root");
    const Opened o = open(path, "ntuple");
    ASSERT_EQ(o.d().cluster_groups.size(), 3u);
    ASSERT_EQ(o.d().clusters.size(), 12u);
    ASSERT_EQ(o.d().entries, 1000u);
    const FieldDescriptor& one = o.d().fields[o.field("one")];
    const FieldDescriptor& vec = o.d().fields[o.field("int_vector")];
    const FieldDescriptor& item = o.d().fields[vec.children.at(0)];
    ClusterCache cache(*o.reader);
    uint64_t entry = 0;
    for (size_t c = 0; c < o.d().clusters.size(); ++c) {
        const uint32_t cols[] = {*active_column(o.d(), one, c, 0), *active_column(o.d(), vec, c, 0),
                                 *active_column(o.d(), item, c, 0)};
        cache.load(c, cols);
        const auto ones = cache.get(cols[0]).as<int32_t>();
        const auto offsets = cache.get(cols[1]).as<uint64_t>();
        const auto values = cache.get(cols[2]).as<int16_t>();
        ASSERT_EQ(ones.size(), o.d().clusters[c].entries);
        ASSERT_EQ(offsets.size(), ones.size());
        for (size_t i = 0; i < ones.size(); ++i, ++entry) {
            ASSERT_EQ(ones[i], static_cast<int32_t>(entry)) << "cluster " << c;
            ASSERT_EQ(offsets[i], 2 * (i + 1));
            ASSERT_EQ(values[2 * i], static_cast<int16_t>(entry));
            ASSERT_EQ(values[2 * i + 1], static_cast<int16_t>(entry + 1));
        }
    }
    EXPECT_EQ(entry, 1000u);
    const uint32_t fields[] = {o.field("one"), o.field("int_vector")};
    EntryReader r(*o.reader, fields);
    EXPECT_EQ(json(r, 0, 999) + json(r, 1, 999), "999[999,1000]");
}

// ROOT stores identical pages once and points every column holding one at it: a cluster's
// fetch reads each stored page once (in one batch, its bytes counted once), the columns
// sharing it decode from the same bytes.
TEST(NtupleReference, APageStoredOnceForSeveralColumnsIsReadOnce)
{
    REQUIRE_TESTDATA(path, "rntuple/test_stl_containers_rntuple_v1-0-0-0.root");
    const Opened o = open(path, "ntuple");
    std::vector<uint32_t> columns(o.d().columns.size());
    for (uint32_t c = 0; c < columns.size(); ++c) columns[c] = c;
    std::map<uint64_t, uint64_t> stored;  // locator offset -> stored size
    size_t listed = 0;
    for (const ColumnRange& range : o.d().clusters.at(0).columns)
        for (const PageDescriptor& p : range.pages) {
            stored[p.locator.offset] = p.locator.size + (p.has_checksum ? 8 : 0);
            ++listed;
        }
    ASSERT_LT(stored.size(), listed) << "the sample shares no page";
    uint64_t distinct = 0;
    for (const auto& [offset, size] : stored) distinct += size;
    const rootio::ReadTotals before = rootio::read_totals();
    ClusterPages pages;
    o.reader->fetch_pages(0, columns, pages);
    EXPECT_EQ(rootio::read_totals().blocking_reads - before.blocking_reads, 1u);
    EXPECT_EQ(rootio::read_totals().bytes - before.bytes, distinct);
    EXPECT_EQ(pages.bytes.size(), distinct);
}

// Every truncated and quantized float (jsroot decodes the 32-bit quantized ones wrongly):
// the value the writer was given, its mantissa cut to N bits or quantized with N bits over
// [-2, 3] as the writer rounds, q = floor(0.5 + (x - min) * (2^N - 1) / (max - min)).
TEST(NtupleReference, TruncatedAndQuantizedFloats)
{
    REQUIRE_TESTDATA(path, "rntuple/test_float_types_rntuple_v1-0-0-0.root");
    const Opened o = open(path, "ntuple");
    const float given[2][4] = {{1.23456789f, 1.4660155e13f, -6.2875986e-22f, -1.9060668f},
                               {1.23456789f, 1.6666666f, -6.2875986e-22f, -1.9060668f}};
    int checked = 0;
    for (uint32_t id : o.d().top_level) {
        const std::string& name = o.d().fields[id].name;
        const bool trunc = name.starts_with("trunc");
        const unsigned bits = static_cast<unsigned>(std::stoi(name.substr(5)));
        const uint32_t one[] = {id};
        EntryReader r(*o.reader, one);
        for (uint64_t e = 0; e < 4; ++e) {
            const float x = given[trunc ? 0 : 1][e];
            float want;
            if (trunc) {
                want = std::bit_cast<float>(std::bit_cast<uint32_t>(x) & ~((uint32_t{1} << (32 - bits)) - 1));
            } else {
                const double qmax = static_cast<double>((uint64_t{1} << bits) - 1);
                const double q = std::floor(0.5 + (double(x) + 2) * qmax / 5);
                want = static_cast<float>(q * (5 / qmax) - 2);
            }
            LastReal got;
            r.read(e, 0, got);
            EXPECT_EQ(std::bit_cast<uint32_t>(got.value), std::bit_cast<uint32_t>(want))
                << name << " entry " << e << ": " << got.value << " vs " << want;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 11 * 4);
}

// The importer's layout (jsroot reads neither projected nor cardinality fields): every
// projected RVec field holds, entry by entry, its source member of the untyped collection,
// and every count n* the collection's size.
TEST(NtupleReference, ProjectedFieldsAndCountsFollowTheirCollections)
{
    REQUIRE_TESTDATA(path, "rntuple/cmsopendata2015_ttbar_19980_NANOAOD_RNTupleImporter_rntuple_v1-0-0-1.root");
    const Opened o = open(path, "Events");
    const Descriptor& d = o.d();
    std::vector<uint32_t> fields(d.top_level.begin(), d.top_level.end());
    EntryReader r(*o.reader, fields);
    std::map<uint32_t, size_t> slot;
    for (size_t k = 0; k < fields.size(); ++k) slot[fields[k]] = k;
    int projected = 0, counts = 0;
    for (uint64_t e = 0; e < d.entries; ++e) {
        for (uint32_t id : d.top_level) {
            const FieldDescriptor& f = d.fields[id];
            if (!f.is_projected()) continue;
            // An RVec is projected from the collection, its items from one member of the
            // collection's untyped record; a count from the collection.
            const uint32_t collection = *f.projection_source;
            std::string member;
            if (!f.type_name.starts_with(kCardinalityTypePrefix))
                member = d.fields[*d.fields[f.children.at(0)].projection_source].name;
            const std::string whole = json(r, slot.at(collection), e);
            std::string expected = "[";
            size_t elements = 0;
            for (size_t at = whole.find("{"); at != std::string::npos; at = whole.find("{", at + 1), ++elements) {
                if (member.empty()) continue;
                const std::string key = "\"" + member + "\":";
                const size_t v = whole.find(key, at) + key.size();
                const size_t end = whole.find_first_of(",}", whole[v] == '[' ? whole.find(']', v) : v);
                expected += (elements ? "," : "") + whole.substr(v, end - v);
            }
            expected += "]";
            if (member.empty()) {
                EXPECT_EQ(json(r, slot.at(id), e), std::to_string(elements)) << f.name << " entry " << e;
                ++counts;
            } else {
                EXPECT_EQ(json(r, slot.at(id), e), expected) << f.name << " entry " << e;
                ++projected;
            }
        }
    }
    EXPECT_EQ(counts, 22 * 10);
    EXPECT_GT(projected, 300 * 10);
}

}  // namespace
