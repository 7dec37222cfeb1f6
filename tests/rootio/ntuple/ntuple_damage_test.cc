// Damaged RNTuples end in one RootError naming the file, the field and the entry: never a
// crash, a hang, a huge allocation or wrong values. Damage is placed exactly in handmade
// RNTuples, and spread over the reference files by cuts and flipped bytes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "../../../tools/ntuple_dump.h"
#include "rootio/ntuple/handmade_ntuple.h"
#include "testdata.h"

namespace {

using namespace handmade;
using ::testing::HasSubstr;
using CT = ColumnType;

// Opens the RNTuple and reads every entry of every readable top-level field; returns the
// error message, "" when all read. Anything but a RootError escapes and fails the test.
std::string read_all(const std::string& path, const std::string& name)
{
    try {
        auto file = rootio::RootFile::open(path);
        auto reader = rootio::ntuple::NtupleReader::open(*file, name);
        const auto& d = reader->descriptor();
        std::vector<uint32_t> fields;
        for (uint32_t id : d.top_level)
            if (rootio::ntuple::EntryReader::readable(d, id)) fields.push_back(id);
        rootio::ntuple::EntryReader entries(*reader, fields);
        std::string out;
        treedump::JsonSink sink(out);
        for (uint64_t e = 0; e < d.entries; ++e)
            for (size_t k = 0; k < fields.size(); ++k) out.clear(), entries.read(e, k, sink);
    } catch (const rootio::RootError& e) {
        return e.what();
    }
    return "";
}

// x: std::int32_t {1, 2, 3}; v: std::vector<float> {[1, 2], [], [3]}.
Ntuple sample()
{
    const std::vector<uint64_t> offsets = {2, 2, 3};
    Ntuple n;
    n.fields = {NField{"x", "std::int32_t", 0}, NField{"v", "std::vector<float>", 1, FieldRole::Collection},
                NField{"_0", "float", 1}};
    n.columns = {NColumn{CT::Int32, 32, 0, le_page(std::vector<int32_t>{1, 2, 3}), 3},
                 NColumn{CT::Index64, 64, 1, le_page(offsets), 3},
                 NColumn{CT::Real32, 32, 2, le_page(std::vector<float>{1, 2, 3}), 3}};
    n.entries = 3;
    return n;
}

// The first occurrence of `what` in `bytes`, after `from`.
size_t find(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& what, size_t from = 0)
{
    return static_cast<size_t>(std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), what.begin(),
                                           what.end()) -
                               bytes.begin());
}

struct Damage {
    const char* label;
    std::function<void(Ntuple&)> edit_ntuple;
    std::function<void(std::vector<uint8_t>&)> edit_bytes;
    std::vector<const char*> expected;  // substrings of the message
};

std::vector<Damage> damages()
{
    const auto none_n = [](Ntuple&) {};
    const auto none_b = [](std::vector<uint8_t>&) {};
    return {
        {"page outside the file", [](Ntuple& n) { n.page_offset_shift = 1 << 20; }, none_b,
         {"field x", "lies outside the file", "entry 0"}},
        {"page claims more elements than it stores", [](Ntuple& n) { n.page_elements_extra = 1000000; }, none_b,
         {"field x", "page 0 of cluster 0", "entry 0"}},
        {"unknown feature flag", [](Ntuple& n) { n.feature_flags = 1 << 5; }, none_b, {"header", "feature flag 5"}},
        {"flipped page byte",
         none_n,
         [](std::vector<uint8_t>& b) { b[find(b, le_page(std::vector<int32_t>{1, 2, 3}))] ^= 0x40; },
         {"field x", "page checksum mismatch", "entry 0"}},
        {"flipped header byte",
         none_n,
         [](std::vector<uint8_t>& b) { b[find(b, {'n', 't', 'u', 'p', 'l', 'e', '-', 'w'})] ^= 1; },
         {"RNTuple nt: header", "envelope checksum mismatch"}},
        {"flipped anchor checksum", none_n, [](std::vector<uint8_t>& b) {
             b[find(b, {'R', 'O', 'O', 'T', ':', ':', 'R', 'N', 'T', 'u', 'p', 'l', 'e', 2, 'n', 't'}) + 16 + 72] ^= 1;
         },
         {"anchor checksum mismatch"}},
        {"collection offsets beyond the values",
         [](Ntuple& n) { n.columns[1].page = le_page(std::vector<uint64_t>{2, 1000000, 1000001}); }, none_b,
         {"field v._0", "entry 1", "lies beyond the 3 elements"}},
        {"collection offsets going backwards",
         [](Ntuple& n) { n.columns[1].page = le_page(std::vector<uint64_t>{2, 1, 3}); }, none_b,
         {"field v", "entry 1", "go backwards"}},
        {"unknown column type", [](Ntuple& n) { n.columns[0].type = static_cast<CT>(0x99); }, none_b,
         {"column 0 of unknown type 153"}},
        {"quantized floats without a range",
         [](Ntuple& n) { n.columns[2].type = CT::Real32Quant; }, none_b, {"Real32Quant", "without a valid value range"}},
        {"subfield before its parent", [](Ntuple& n) { n.fields[1].parent = 2; }, none_b,
         {"field 1 comes before its parent 2"}},
        {"absurd entry count", [](Ntuple& n) { n.entries = uint64_t{1} << 50; }, none_b,
         {"claims 1125899906842624 entries"}},
        {"column of a missing field", [](Ntuple& n) { n.columns[0].field = 7; }, none_b,
         {"column 0 belongs to missing field 7"}},
    };
}

TEST(NtupleDamage, EachIsOneErrorNamingFileFieldAndEntry)
{
    TempDir dir;
    const std::string path = (dir / "damaged.root").string();
    write(path, build_ntuple_file(sample()));
    ASSERT_EQ(read_all(path, "nt"), "");
    for (const Damage& d : damages()) {
        Ntuple n = sample();
        d.edit_ntuple(n);
        std::vector<uint8_t> bytes = build_ntuple_file(n);
        d.edit_bytes(bytes);
        write(path, bytes);
        const std::string error = read_all(path, "nt");
        EXPECT_THAT(error, HasSubstr(path + ": ")) << d.label;
        for (const char* part : d.expected) EXPECT_THAT(error, HasSubstr(part)) << d.label;
    }
}

// Every byte of a reference file with most field kinds flipped in turn, and the file cut
// short: whatever breaks is reported as a RootError naming the file.
TEST(NtupleDamage, FlippedBytesAndCutsInAReferenceFile)
{
    TempDir dir;
    const std::string path = (dir / "flipped.root").string();
    for (const char* name : {"rntuple/test_stl_containers_rntuple_v1-0-0-0.root"}) {
        REQUIRE_TESTDATA(ref, name);
        const std::vector<uint8_t> intact = read(ref);
        int errors = 0;
        for (size_t at = 0; at < intact.size(); ++at) {
            std::vector<uint8_t> bytes = intact;
            bytes[at] ^= 0x5A;
            write(path, bytes);
            const std::string error = read_all(path, "ntuple");
            if (error.empty()) continue;
            ++errors;
            ASSERT_THAT(error, HasSubstr(path + ": ")) << "byte " << at;
        }
        // Envelopes and pages are checksummed: flipping their bytes cannot go unnoticed.
        EXPECT_GT(errors, static_cast<int>(intact.size() / 3)) << name;
        for (size_t n = intact.size(); n-- > 0;) {
            write(path, std::vector<uint8_t>(intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(n)));
            ASSERT_THAT(read_all(path, "ntuple"), HasSubstr(path + ": ")) << "cut at " << n;
        }
    }
}

}  // namespace
