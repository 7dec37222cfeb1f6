// Damaged input must end in a RootError that names the file and what is wrong: never a
// crash, a hang, a huge allocation or silently wrong entries. Reference files are cut short
// or have single fields overwritten, then read through the public API like any caller would.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>

#include "rootio/handmade_file.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"
#include "testdata.h"

using ::testing::HasSubstr;
using rootio::RootError;
using rootio::RootFile;

namespace {

using Bytes = std::vector<uint8_t>;

// Opens the file and reads every entry of every readable branch of every tree. Returns the
// error message, or "" when everything read. Anything but a RootError escapes.
std::string read_all(const std::string& path)
{
    try {
        auto file = RootFile::open(path);
        for (const rootio::KeyHeader& key : file->keys()) {
            if (key.class_name != "TTree") continue;
            const rootio::TreeInfo tree = rootio::read_tree(*file, key.name);
            for (size_t b = 0; b < tree.branches.size(); ++b) {
                if (!tree.branches[b].is_supported()) continue;
                rootio::BranchReader reader(*file, tree, static_cast<int>(b));
                for (int64_t e = 0; e < tree.entries; ++e) reader.entry_bytes(e);
            }
        }
    } catch (const RootError& e) {
        return e.what();
    }
    return "";
}

// Same, for one tree looked up by name, whatever its key says it is.
std::string read_tree_named(const std::string& path, std::string_view name)
{
    try {
        auto file = RootFile::open(path);
        const rootio::TreeInfo tree = rootio::read_tree(*file, name);
        for (size_t b = 0; b < tree.branches.size(); ++b) {
            if (!tree.branches[b].is_supported()) continue;
            rootio::BranchReader reader(*file, tree, static_cast<int>(b));
            for (int64_t e = 0; e < tree.entries; ++e) reader.entry_bytes(e);
        }
    } catch (const RootError& e) {
        return e.what();
    }
    return "";
}

const char* const kReferenceFiles[] = {
    "collider-sample-ttbar.root", "uproot-HZZ-lz4.root",          "uproot-HZZ-lzma.root",
    "uproot-HZZ-uncompressed.root", "uproot-HZZ-zlib.root",       "uproot-HZZ-zstd.root",
    "uproot-empty.root",          "uproot-sample-6.20.04-zlib.root", "uproot-small-flat-tree.root",
};

std::string test_name(const ::testing::TestParamInfo<const char*>& info)
{
    std::string name;
    for (const char* c = info.param; *c && std::string_view(c) != ".root"; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

// Every 1/64 of the file, and the header and top directory byte by byte; longest first, so
// one copy of the file can be cut shorter and shorter.
std::vector<size_t> cut_lengths(size_t size)
{
    std::vector<size_t> cuts;
    for (size_t n = 0; n < std::min<size_t>(size, 400); ++n) cuts.push_back(n);
    for (int i = 1; i < 64; ++i) cuts.push_back(size * static_cast<size_t>(i) / 64);
    cuts.push_back(size - 1);
    std::sort(cuts.begin(), cuts.end(), std::greater<>());
    return cuts;
}

// fEND in the file header: i32 at byte 12, i64 in the large-file layout.
void set_file_end(const std::string& path, size_t end)
{
    if (end < 20) return;
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    uint8_t version[8];
    f.read(reinterpret_cast<char*>(version), 8);
    const bool big = rootio::load_be<int32_t>(version + 4) >= 1000000;
    uint8_t field[8];
    if (big)
        rootio::store_be<int64_t>(field, static_cast<int64_t>(end));
    else
        rootio::store_be<int32_t>(field, static_cast<int32_t>(end));
    f.seekp(12);
    f.write(reinterpret_cast<const char*>(field), big ? 8 : 4);
}

class TruncatedFile : public ::testing::TestWithParam<const char*> {};

TEST_P(TruncatedFile, EveryCutIsReportedAsTruncated)
{
    REQUIRE_TESTDATA(path, GetParam());
    ASSERT_EQ(read_all(path.string()), "");
    handmade::TempDir dir;
    const std::string cut_path = (dir / "cut.root").string();
    handmade::write(cut_path, handmade::read(path));
    for (size_t n : cut_lengths(std::filesystem::file_size(path))) {
        std::filesystem::resize_file(cut_path, n);
        const std::string error = read_all(cut_path);
        ASSERT_THAT(error, HasSubstr(cut_path + ": ")) << "cut at " << n;
        EXPECT_THAT(error, ::testing::AnyOf(HasSubstr("truncated"), HasSubstr("not a ROOT file"))) << n;
    }
}

// The header is patched to claim the cut length, so the damage is only found further in:
// at the directory, the keys list, the tree record or a basket.
TEST_P(TruncatedFile, ACutBehindAConsistentHeaderFailsCleanly)
{
    REQUIRE_TESTDATA(path, GetParam());
    handmade::TempDir dir;
    const std::string cut_path = (dir / "cut.root").string();
    handmade::write(cut_path, handmade::read(path));
    int failures = 0;
    for (size_t n : cut_lengths(std::filesystem::file_size(path))) {
        std::filesystem::resize_file(cut_path, n);
        set_file_end(cut_path, n);
        const std::string error = read_all(cut_path);
        if (error.empty()) continue;  // only unused tail records were cut
        ++failures;
        ASSERT_THAT(error, HasSubstr(cut_path + ": ")) << "cut at " << n;
    }
    EXPECT_GT(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(ReferenceFiles, TruncatedFile, ::testing::ValuesIn(kReferenceFiles), test_name);

// Where things are in a reference file, found through the reader on the intact copy.
struct Layout {
    Bytes bytes;
    std::unique_ptr<RootFile> file;
    rootio::TreeInfo tree;
    const rootio::KeyHeader* tree_key = nullptr;
    size_t tree_key_copy = 0;  // the tree's key header as repeated in the keys list

    const rootio::BranchInfo& branch(std::string_view name) const
    {
        const int i = tree.find_branch(name);
        if (i < 0) throw std::runtime_error("no branch " + std::string(name));
        return tree.branches[static_cast<size_t>(i)];
    }
    // The record of the branch's first basket on disk, and fields of its header.
    size_t basket(std::string_view name) const { return static_cast<size_t>(branch(name).basket_seek.at(0)); }
    int16_t basket_keylen(std::string_view name) const
    {
        return rootio::load_be<int16_t>(bytes.data() + basket(name) + 14);
    }
    // First letter of the class name: after the seeks, 32- or 64-bit by key version.
    size_t basket_class_name(std::string_view name) const
    {
        const bool big = rootio::load_be<int16_t>(bytes.data() + basket(name) + 4) > 1000;
        return basket(name) + (big ? 34 : 26) + 1;
    }
    // TBasket fields end the key: ..., fNevBuf, fLast, flag (no fIOBits in these files).
    size_t basket_entries(std::string_view name) const { return basket(name) + basket_keylen(name) - 9; }
    size_t basket_last(std::string_view name) const { return basket(name) + basket_keylen(name) - 5; }
    // The compressed payload: the first block header.
    size_t basket_block(std::string_view name) const { return basket(name) + basket_keylen(name); }
    // The entry-offset array of an uncompressed variable-size basket: i32 count, i32 offsets.
    size_t basket_offsets(std::string_view name) const
    {
        return basket(name) + static_cast<size_t>(rootio::load_be<int32_t>(bytes.data() + basket_last(name)));
    }
    // Fields of an uncompressed tree record. fLeafCount of the leaf `name[count]`: after
    // its name and title, fLen, fLenType, fOffset, fIsRange and fIsUnsigned.
    size_t leaf_count_ref(const std::string& name, const std::string& count) const
    {
        return after_names(name, name + "[" + count + "]") + 14;
    }
    // fEntryOffsetLen of branch `name` (title `title`): after its name and title, its
    // TAttFill part (10 bytes), fCompress and fBasketSize.
    size_t branch_entry_offset_len(const std::string& name, const std::string& title) const
    {
        return after_names(name, title) + 10 + 8;
    }
    size_t basket_entry_size(std::string_view name) const { return basket(name) + basket_keylen(name) - 13; }
    // The first byte after the TString pair (name, title) in the tree record.
    size_t after_names(const std::string& name, const std::string& title) const
    {
        Bytes named{static_cast<uint8_t>(name.size())};
        named.insert(named.end(), name.begin(), name.end());
        named.push_back(static_cast<uint8_t>(title.size()));
        named.insert(named.end(), title.begin(), title.end());
        const auto record = bytes.begin() + tree_key->seek_key;
        const auto at = std::search(record, record + tree_key->nbytes, named.begin(), named.end());
        if (at == record + tree_key->nbytes) throw std::runtime_error("no object named " + name + " " + title);
        return static_cast<size_t>(at - bytes.begin()) + named.size();
    }
    // fEntries: after the TTree's byte count and version, its TNamed part (byte count,
    // version, TObject, name, title) and the TAttLine, TAttFill and TAttMarker parts.
    size_t tree_entries() const
    {
        rootio::ByteReader in(bytes, "tree record", 0);
        in.seek(static_cast<size_t>(tree_key->seek_key + tree_key->keylen) + 6 + 6 + 10);
        in.tstring();
        in.tstring();
        for (int base = 0; base < 3; ++base) in.skip(in.u32() & ~0x40000000u);
        return in.pos();
    }
};

Layout layout_of(const std::filesystem::path& path)
{
    Layout l;
    l.bytes = handmade::read(path);
    l.file = RootFile::open(path.string());
    l.tree = rootio::read_tree(*l.file, "events");
    l.tree_key = l.file->find_key("events");
    const auto at = l.bytes.begin() + l.tree_key->seek_key;
    auto copy = std::search(l.bytes.begin(), l.bytes.end(), at, at + l.tree_key->keylen);
    if (copy == at) copy = std::search(at + 1, l.bytes.end(), at, at + l.tree_key->keylen);
    if (copy == l.bytes.end()) throw std::runtime_error("no copy of the tree key in the keys list");
    l.tree_key_copy = static_cast<size_t>(copy - l.bytes.begin());
    return l;
}

template <class T>
void put(Bytes& b, size_t at, T v)
{
    rootio::store_be<T>(b.data() + at, v);
}
template <class T>
void add(Bytes& b, size_t at, T delta)
{
    rootio::store_be<T>(b.data() + at, static_cast<T>(rootio::load_be<T>(b.data() + at) + delta));
}

struct Corruption {
    std::string name;
    const char* file;
    std::function<void(Bytes&, const Layout&)> damage;
    const char* object;    // the object the message must name
    const char* expected;  // what it must say is wrong
};

void PrintTo(const Corruption& c, std::ostream* os) { *os << c.name; }

// v4 key header fields: nbytes 0, version 4, objlen 6, datime 10, keylen 14, cycle 16, seek 18.
const Corruption kCorruptions[] = {
    {"TreeKeyPointsOutsideTheFile", "uproot-HZZ-zlib.root",
     [](Bytes& b, const Layout& l) { put<int32_t>(b, l.tree_key_copy + 18, 0x7FFFFF00); }, "key 'events'",
     "lies outside the file"},
    {"TreeKeyClassIsNotATree", "uproot-HZZ-zlib.root",
     [](Bytes& b, const Layout& l) { b[l.tree_key_copy + 27] = 'X'; }, "tree events", "is a XTree, not a TTree"},
    {"TreeObjectLengthAbsurdCompressed", "uproot-HZZ-zlib.root",
     [](Bytes& b, const Layout& l) {
         put<int32_t>(b, l.tree_key->seek_key + 6, 0x7FFFFFF0);
         put<int32_t>(b, l.tree_key_copy + 6, 0x7FFFFFF0);
     },
     "key 'events'", "but the key says 2147483632"},
    {"TreeObjectLengthAbsurdUncompressed", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) {
         put<int32_t>(b, l.tree_key->seek_key + 6, 0x7FFFFFF0);
         put<int32_t>(b, l.tree_key_copy + 6, 0x7FFFFFF0);
     },
     "key 'events'", "unknown compression algorithm"},
    {"TreeRecordCompressedStreamDamaged", "uproot-HZZ-zlib.root",
     [](Bytes& b, const Layout& l) { b[l.tree_key->seek_key + l.tree_key->nbytes / 2] ^= 0x55; }, "key 'events'",
     "compressed block at byte 0"},
    {"TreeClassVersionUnknown", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { put<int16_t>(b, l.tree_key->seek_key + l.tree_key->keylen + 4, 99); },
     "tree events", "TTree class version 99 is not supported"},
    {"TreeByteCountPastTheRecord", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { put<uint32_t>(b, l.tree_key->seek_key + l.tree_key->keylen, 0x40FFFFFF); },
     "tree events", "byte count 16777215 runs past the end of the record"},

    {"BasketClassNameWrong", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { b[l.basket_class_name("NJet")] = 'X'; }, "branch NJet of tree events",
     "record is a XBasket, not a TBasket"},
    {"BasketLengthDisagreesWithBranch", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { add<int32_t>(b, l.basket("NJet"), -1); }, "branch NJet of tree events",
     "the branch says"},
    {"BasketEntryCountWrong", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { add<int32_t>(b, l.basket_entries("NJet"), 1); }, "branch NJet of tree events",
     "entries, the branch says"},
    {"BasketEntryCountHuge", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { put<int32_t>(b, l.basket_entries("NJet"), 0x7FFFFFFF); },
     "branch NJet of tree events", "holds 2147483647 entries"},
    {"BasketDataEndPastTheBasket", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { put<int32_t>(b, l.basket_last("NJet"), 0x7FFFFFF0); },
     "branch NJet of tree events", "end of entry data 2147483632 lies outside the basket"},
    {"BasketObjectLengthAbsurd", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { put<int32_t>(b, l.basket("NJet") + 6, 0x7FFFFFF0); },
     "branch NJet of tree events", "unknown compression algorithm"},
    {"EntryOffsetPastTheData", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { put<int32_t>(b, l.basket_offsets("Jet_Px") + 8, 0x7FFF0000); },
     "branch Jet_Px of tree events", "lies outside"},
    {"EntryOffsetFarBelowTheKey", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { put<int32_t>(b, l.basket_offsets("Jet_Px") + 8, INT32_MIN); },
     "branch Jet_Px of tree events", "entry offset 0..-1 of entry 0 lies outside"},
    {"EntryOffsetsOutOfOrder", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { put<int32_t>(b, l.basket_offsets("Jet_Px") + 12, 1); },
     "branch Jet_Px of tree events", "lies outside"},
    {"EntryOffsetCountPastTheBasket", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { put<int32_t>(b, l.basket_offsets("Jet_Px"), 0x7FFFFFFF); },
     "branch Jet_Px of tree events", "entry-offset array of 2147483647 slots"},
    {"EntryOffsetCountTooSmall", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { put<int32_t>(b, l.basket_offsets("Jet_Px"), 3); },
     "branch Jet_Px of tree events", "entry-offset array of 3 slots"},

    // Read as a scalar, the array's entries are not one element each.
    {"ArrayLeafLosesItsCount", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) { put<uint32_t>(b, l.leaf_count_ref("Jet_Px", "NJet"), 0); },
     "branch Jet_Px of tree events", "not the one 4-byte element of a leaf without a count"},
    // Entries of one element each, read from a count-indexed branch's basket (with its
    // entry-offset array) whose entry size was bent to fit.
    {"FixedEntriesFromABasketWithOffsets", "uproot-HZZ-uncompressed.root",
     [](Bytes& b, const Layout& l) {
         put<int32_t>(b, l.branch_entry_offset_len("Jet_Px", "Jet_Px[NJet]/F"), 0);
         put<int32_t>(b, l.basket_entry_size("Jet_Px"), 4);
     },
     "branch Jet_Px of tree events", "basket of fixed-size entries carries"},
    // A tree of no branches claiming 692 million entries: whatever looped over its entries
    // (an empty JSON object per entry) ran for minutes and wrote gigabytes.
    {"TreeClaimsEntriesNoBasketHolds", "older-and-other-writers/uproot-issue261.root",
     [](Bytes& b, const Layout& l) { put<int64_t>(b, l.tree_entries(), 692000000); }, "tree events",
     "claims 692000000 entries but has no branches"},
};

// One block header fault per codec: unknown tag, sizes that lie, a damaged stream.
struct CodecCase {
    const char* codec;
    const char* file;
    size_t stream_byte;  // a byte the codec itself must notice (past L4's checksum)
};
const CodecCase kCodecs[] = {{"ZL", "uproot-HZZ-zlib.root", 9},
                             {"XZ", "uproot-HZZ-lzma.root", 9},
                             {"L4", "uproot-HZZ-lz4.root", 9 + 8},
                             {"ZS", "uproot-HZZ-zstd.root", 9}};

std::vector<Corruption> all_corruptions()
{
    std::vector<Corruption> out(std::begin(kCorruptions), std::end(kCorruptions));
    for (const CodecCase& c : kCodecs) {
        auto named = [&](const char* what) { return std::string(c.codec) + what; };
        const size_t stream_byte = c.stream_byte;
        out.push_back({named("UnknownTag"), c.file,
                       [](Bytes& b, const Layout& l) { b[l.basket_block("Jet_Px")] = 'Q'; },
                       "branch Jet_Px of tree events", "unknown compression algorithm"});
        out.push_back({named("OutputSizeTooLarge"), c.file,
                       [](Bytes& b, const Layout& l) { b[l.basket_block("Jet_Px") + 6] += 1; },
                       "branch Jet_Px of tree events", "compressed blocks hold"});
        // 16 MiB claimed by block and key alike: refused before anything that size is made
        // (zlib) or when the stream runs dry (the codecs with larger plausible ratios).
        out.push_back({named("OutputSizeBeyondItsStream"), c.file,
                       [](Bytes& b, const Layout& l) {
                           const size_t h = l.basket_block("Jet_Px");
                           b[h + 6] = b[h + 7] = b[h + 8] = 0xFF;
                           put<int32_t>(b, l.basket("Jet_Px") + 6, 0xFFFFFF);
                       },
                       "branch Jet_Px of tree events", "compressed block at byte 0"});
        out.push_back({named("InputSizePastTheRecord"), c.file,
                       [](Bytes& b, const Layout& l) { b[l.basket_block("Jet_Px") + 5] = 0x7F; },
                       "branch Jet_Px of tree events", "runs past the end of the record"});
        out.push_back({named("StreamDamaged"), c.file,
                       [stream_byte](Bytes& b, const Layout& l) { b[l.basket_block("Jet_Px") + stream_byte] ^= 0xA5; },
                       "branch Jet_Px of tree events", "compressed block at byte 0"});
    }
    out.push_back({"L4ChecksumWrong", "uproot-HZZ-lz4.root",
                   [](Bytes& b, const Layout& l) { b[l.basket_block("Jet_Px") + 9] ^= 0x01; },
                   "branch Jet_Px of tree events", "bad LZ4 checksum"});
    return out;
}

class CorruptFile : public ::testing::TestWithParam<Corruption> {};

TEST_P(CorruptFile, FailsNamingFileObjectAndFault)
{
    const Corruption& c = GetParam();
    REQUIRE_TESTDATA(path, c.file);
    const Layout layout = layout_of(path);
    Bytes bytes = layout.bytes;
    c.damage(bytes, layout);
    ASSERT_NE(bytes, layout.bytes);
    handmade::TempDir dir;
    const std::string damaged = (dir / "damaged.root").string();
    handmade::write(damaged, bytes);
    const std::string error = read_tree_named(damaged, "events");
    EXPECT_THAT(error, HasSubstr(damaged + ": "));
    EXPECT_THAT(error, HasSubstr(c.object));
    EXPECT_THAT(error, HasSubstr(c.expected));
}

std::string corruption_name(const ::testing::TestParamInfo<Corruption>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(ReferenceFiles, CorruptFile, ::testing::ValuesIn(all_corruptions()), corruption_name);

// A scalar branch whose basket table points at a count-indexed branch's basket (seek, size,
// entry numbers and entry-offset length copied from it) reads another branch's data.
TEST(CorruptBasketTable, ABasketOfAnotherBranchIsDamage)
{
    REQUIRE_TESTDATA(path, "uproot-HZZ-uncompressed.root");
    auto file = RootFile::open(path.string());
    rootio::TreeInfo tree = rootio::read_tree(*file, "events");
    const rootio::BranchInfo jagged = tree.branches.at(static_cast<size_t>(tree.find_branch("Jet_Px")));
    rootio::BranchInfo& scalar = tree.branches.at(static_cast<size_t>(tree.find_branch("MET_px")));
    scalar.basket_seek = jagged.basket_seek;
    scalar.basket_bytes = jagged.basket_bytes;
    scalar.basket_entry = jagged.basket_entry;
    scalar.entry_offset_len = jagged.entry_offset_len;
    rootio::BranchReader reader(*file, tree, tree.find_branch("MET_px"));
    try {
        reader.entry_bytes(0);
        FAIL() << "read another branch's basket";
    } catch (const RootError& e) {
        EXPECT_EQ(std::string(e.what()), path.string() + ": branch MET_px of tree events: basket record belongs to "
                                                          "branch Jet_Px (basket 0, entry 0)");
    }
}

}  // namespace
