// Files other writers and older ROOT versions leave, each reduced to one trait on a small
// file: the reader must take what ROOT takes (a check belongs here only if ROOT makes it),
// still refuse what would lead it outside the file, and fail only the branch that is broken.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "rootio/appended_file.h"
#include "rootio/handmade_file.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/tree/class_layout.h"
#include "rootio/file/file_writer.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"
#include "rootio/tree/tree_writer.h"
#include "testdata.h"

using rootio::BranchReader;
using rootio::LeafType;
using rootio::RootError;
using rootio::RootFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

using Bytes = std::vector<uint8_t>;

// Five entries of x (int32: 10 * entry) and v[n] (float: n = entry % 3), uncompressed, in
// a tree whose title is long enough to be shortened.
Bytes small_tree_file(const handmade::TempDir& dir)
{
    const auto path = dir / "small.root";
    {
        rootio::FileWriter file(path.string(), 0);
        rootio::TreeWriter tree(file, "t", "a title of some length");
        const int n = tree.add_branch("n", LeafType::Int32);
        const int x = tree.add_branch("x", LeafType::Int32);
        const int v = tree.add_branch("v", LeafType::Float, "n");
        for (int e = 0; e < 5; ++e) {
            tree.set_value<int32_t>(n, e % 3);
            tree.set_value<int32_t>(x, 10 * e);
            const std::vector<float> values(static_cast<size_t>(e % 3), 0.5f * static_cast<float>(e));
            tree.set_values<float>(v, values);
            tree.fill();
        }
        tree.write();
        file.close();
    }
    return handmade::read(path);
}

// Every entry of every readable branch, as text, from `tree_path` in the file at `path`.
std::vector<std::string> entries_of(const std::filesystem::path& path, std::string_view tree_path)
{
    auto file = RootFile::open(path.string());
    const rootio::TreeInfo tree = rootio::read_tree(*file, tree_path);
    std::vector<std::string> out(static_cast<size_t>(tree.entries));
    for (size_t b = 0; b < tree.branches.size(); ++b) {
        BranchReader r(*file, tree, static_cast<int>(b));
        for (int64_t e = 0; e < tree.entries; ++e) {
            const auto bytes = r.entry_bytes(e);
            out[static_cast<size_t>(e)] += tree.branches[b].name + ":" + std::to_string(bytes.size()) + ":";
            for (uint8_t c : bytes) out[static_cast<size_t>(e)] += std::to_string(c) + ",";
        }
    }
    return out;
}

struct Reshaped {
    handmade::TempDir dir;
    Bytes original;
    std::filesystem::path original_path;
    appended::Key tree_key;  // the tree's key in the original keys list
    std::unique_ptr<appended::File> file;

    Reshaped()
    {
        original = small_tree_file(dir);
        original_path = dir / "original.root";
        handmade::write(original_path, original);
        auto f = RootFile::open(original_path.string());
        const rootio::KeyHeader& k = *f->find_key("t");
        tree_key = {k.class_name, k.name, k.title, k.nbytes, k.objlen, k.keylen, k.seek_key};
        file = std::make_unique<appended::File>(original);
    }
    std::filesystem::path write(const std::string& name)
    {
        const auto path = dir / name;
        handmade::write(path, file->bytes());
        return path;
    }
};

TEST(ReadAsRoot, KeysListIsReadByTheDirectorysSizeNotItsOwnHeader)
{
    Reshaped r;
    // The list's own header claims only its header and key count; the directory knows better.
    r.file->set_top_keys(r.file->append_keys_list({appended::key_bytes(r.tree_key)}, true));
    const auto path = r.write("stale.root");
    auto file = RootFile::open(path.string());
    ASSERT_EQ(file->keys().size(), 1u);
    EXPECT_EQ(entries_of(path, "t"), entries_of(r.original_path, "t"));

    // A size the file cannot hold is refused before anything is allocated for it.
    r.file->set_top_keys({r.file->end() - 100, 0x7FFFFFF0});
    try {
        RootFile::open(r.write("huge.root").string());
        FAIL() << "expected RootError";
    } catch (const RootError& e) {
        EXPECT_THAT(e.what(), HasSubstr("huge.root: keys list: record at"));
        EXPECT_THAT(e.what(), HasSubstr("of 2147483632 bytes lies outside the file"));
    }
}

TEST(ReadAsRoot, KeysListEntriesAreParsedFieldByField)
{
    Reshaped r;
    // A listed header longer than the key length it states (another class name in the copy)
    // and a record whose own header disagrees with the listed one: ROOT takes the listed
    // key's lengths and moves on by the bytes it parsed.
    appended::Key listed = r.tree_key;
    listed.title = r.tree_key.title + " plus words";
    const appended::Key other = r.file->append("TNamed", "after", "", Bytes(12, 7));
    rootio::store_be<int32_t>(r.file->bytes().data() + r.tree_key.seek, r.tree_key.nbytes + 99);
    r.file->set_top_keys(r.file->append_keys_list({appended::key_bytes(listed), appended::key_bytes(other)}));
    const auto path = r.write("longer.root");
    auto file = RootFile::open(path.string());
    ASSERT_EQ(file->keys().size(), 2u);
    EXPECT_EQ(file->keys()[1].name, "after");
    EXPECT_EQ(file->read_object(file->keys()[1]), Bytes(12, 7));
    EXPECT_EQ(entries_of(path, "t"), entries_of(r.original_path, "t"));

    // What would lead outside the file is still refused.
    appended::Key outside = other;
    outside.seek = r.file->end() + 1000;
    r.file->set_top_keys(r.file->append_keys_list({appended::key_bytes(outside)}));
    try {
        RootFile::open(r.write("outside.root").string());
        FAIL() << "expected RootError";
    } catch (const RootError& e) {
        EXPECT_THAT(e.what(), HasSubstr("outside.root: key 'after': record at"));
        EXPECT_THAT(e.what(), HasSubstr("lies outside the file"));
    }
}

// sub (listed as TDirectoryFile, stored as TDirectory) holding the tree; the top lists sub.
appended::Key add_subdirectory(appended::File& f, const appended::Key& tree_key, bool loop = false)
{
    const std::string cls = "TDirectory";
    const int16_t keylen = handmade::key_length(false, cls, "sub", "sub");
    const int64_t dir_seek = f.end();
    // Its keys list first, so the directory data can point at it.
    appended::Key self{"TDirectoryFile", "sub", "sub", 0, 0, keylen, 0};
    std::vector<Bytes> inside = {appended::key_bytes(tree_key, dir_seek)};
    const auto dir_size = static_cast<int32_t>(appended::File::directory_data({0, 0}, 0, 0).size());
    int64_t list_seek = dir_seek;
    if (loop) {
        // The subdirectory lists itself: the record after this list is the directory.
        self.nbytes = keylen + dir_size;
        self.objlen = dir_size;
        // The list's own length is needed to know where the directory goes.
        const size_t list_len = handmade::key_length(false, "TFile", "appended.root", "") + 4 +
                                appended::key_bytes(tree_key).size() + appended::key_bytes(self).size();
        self.seek = list_seek + static_cast<int64_t>(list_len);
        inside.push_back(appended::key_bytes(self, self.seek));
    }
    const auto list = f.append_keys_list(inside);
    const appended::Key dir =
        f.append(cls, "sub", "sub", appended::File::directory_data(list, keylen, f.end()));
    EXPECT_TRUE(!loop || dir.seek == self.seek);
    self.nbytes = dir.nbytes;
    self.objlen = dir.objlen;
    self.seek = dir.seek;
    return self;
}

TEST(ReadAsRoot, TreesInSubdirectoriesAreReachedByPath)
{
    Reshaped r;
    const appended::Key sub = add_subdirectory(*r.file, r.tree_key);
    r.file->set_top_keys(r.file->append_keys_list({appended::key_bytes(sub)}));
    const auto path = r.write("sub.root");
    auto file = RootFile::open(path.string());

    std::vector<std::string> listed;
    for (const rootio::PathKey& k : file->all_keys()) listed.push_back(k.path + " " + k.key.class_name);
    EXPECT_THAT(listed, ElementsAre("sub TDirectoryFile", "sub/t TTree"));
    EXPECT_EQ(entries_of(path, "sub/t"), entries_of(r.original_path, "t"));
    EXPECT_FALSE(file->find_path("t"));
    EXPECT_FALSE(file->find_path("sub/t/x"));
    EXPECT_FALSE(file->find_path("sub/u"));
    try {
        rootio::read_tree(*file, "t");
        FAIL() << "expected RootError";
    } catch (const RootError& e) {
        EXPECT_THAT(e.what(), HasSubstr("sub.root: no object named 't'"));
    }
}

TEST(ReadAsRoot, ADirectoryThatListsItselfIsRefusedNotFollowed)
{
    Reshaped r;
    const appended::Key sub = add_subdirectory(*r.file, r.tree_key, true);
    r.file->set_top_keys(r.file->append_keys_list({appended::key_bytes(sub)}));
    const auto path = r.write("loop.root");
    auto file = RootFile::open(path.string());
    try {
        file->all_keys();
        FAIL() << "expected RootError";
    } catch (const RootError& e) {
        EXPECT_THAT(e.what(),
                    HasSubstr("loop.root: directory 'sub/sub': leads back to a directory listed before"));
    }
    EXPECT_EQ(entries_of(path, "sub/sub/sub/t"), entries_of(r.original_path, "t"));  // paths stay finite
}

TEST(ReadAsRoot, ATNtupleIsReadAsTheTreeItWraps)
{
    Reshaped r;
    auto original = RootFile::open(r.original_path.string());
    const Bytes tree_object = original->read_object(*original->find_key("t"));
    // TNtuple: byte count and version 2, the TTree, fNvar. Its key is 6 bytes shorter than
    // the tree's, so the object tags inside (counted from the key's start) stay valid: the
    // class name and the name are 3 characters longer, the title 9 shorter.
    Bytes ntuple;
    rootio::ByteWriter w(ntuple);
    w.u32(0x40000000u | static_cast<uint32_t>(2 + tree_object.size() + 4));
    w.i16(2);
    w.bytes(tree_object);
    w.i32(3);
    const std::string title = r.tree_key.title.substr(0, r.tree_key.title.size() - 9);
    const appended::Key key = r.file->append("TNtuple", "nt", title, ntuple);
    ASSERT_EQ(key.keylen + 6, r.tree_key.keylen);
    r.file->set_top_keys(r.file->append_keys_list({appended::key_bytes(key)}));
    const auto path = r.write("ntuple.root");
    EXPECT_EQ(entries_of(path, "nt"), entries_of(r.original_path, "t"));
}

// The position of `version` as the class version right after the TNamed of class `name` in a
// TStreamerInfo: name, checksum (4 bytes), version.
size_t streamer_info_version_at(const Bytes& bytes, const std::string& name, int32_t version)
{
    for (size_t i = 0; i + name.size() + 9 < bytes.size(); ++i) {
        if (bytes[i] != name.size() ||
            !std::equal(name.begin(), name.end(), bytes.begin() + static_cast<long>(i) + 1))
            continue;
        const size_t at = i + 1 + name.size() + 1 + 4;  // empty title, checksum
        if (rootio::load_be<int32_t>(bytes.data() + at) == version) return at;
    }
    return 0;
}

TEST(ReadAsRoot, OlderTreeVersionsAreReadByTheFilesOwnDescription)
{
    Reshaped r;
    Bytes& b = r.file->bytes();
    auto original = RootFile::open(r.original_path.string());
    ASSERT_EQ(original->compression(), 0);
    // The TTree as an older version (7, as ROOT 3 wrote it) that the file's StreamerInfo
    // describes with the members it has.
    const size_t tree_version_at = static_cast<size_t>(r.tree_key.seek + r.tree_key.keylen + 4);
    ASSERT_EQ(rootio::load_be<int16_t>(b.data() + tree_version_at), 20);
    rootio::store_be<int16_t>(b.data() + tree_version_at, 7);
    const auto undescribed = r.write("undescribed.root");
    try {
        entries_of(undescribed, "t");
        FAIL() << "expected RootError";
    } catch (const RootError& e) {
        EXPECT_THAT(e.what(), HasSubstr("undescribed.root: tree t: TTree class version 7 is not supported"));
    }

    const size_t info_version_at = streamer_info_version_at(b, "TTree", 20);
    ASSERT_NE(info_version_at, 0u);
    rootio::store_be<int32_t>(b.data() + info_version_at, 7);
    const auto described = r.write("described.root");
    EXPECT_EQ(entries_of(described, "t"), entries_of(r.original_path, "t"));
}

// ROOT's own descriptions of the versions the engine has built in must match them.
TEST(ReadAsRoot, BuiltInLayoutsAreTheOnesRootWrites)
{
    int compared = 0;
    for (const char* name : {"older-and-other-writers/uproot-sample-5.23.02-zlib.root",
                             "older-and-other-writers/uproot-sample-5.25.02-zlib.root",
                             "older-and-other-writers/uproot-sample-5.26.00-zlib.root",
                             "uproot-HZZ-zlib.root", "uproot-sample-6.20.04-zlib.root"}) {
        REQUIRE_TESTDATA(path, name);
        auto file = RootFile::open(path.string());
        for (const char* cls : {"TTree", "TBranch"}) {
            for (int version = 10; version <= 20; ++version) {
                const rootio::ClassLayout stored = rootio::stored_layout(*file, cls, version);
                const rootio::ClassLayout* known = rootio::known_layout(cls, version);
                if (stored.empty() || !known) continue;
                ASSERT_LE(known->size(), stored.size()) << name << " " << cls << " " << version;
                for (size_t i = 0; i < known->size(); ++i) {
                    EXPECT_EQ((*known)[i].name, stored[i].name) << name << " " << cls << " " << version;
                    EXPECT_EQ((*known)[i].type, stored[i].type) << stored[i].name;
                    EXPECT_EQ((*known)[i].count_name, stored[i].count_name) << stored[i].name;
                }
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 10);  // a TTree and a TBranch per file: TTree 16 to 20, TBranch 11, 12, 13
}

// A tree model with int32 entries 0..n kept in embedded baskets at the given slots.
rootio::TreeInfo embedded_tree(std::vector<std::pair<int32_t, int32_t>> slots_and_entries,
                               int32_t write_basket)
{
    rootio::TreeInfo tree;
    tree.name = "t";
    rootio::BranchInfo b;
    b.name = "x";
    b.leaf.name = "x";
    b.leaf.type = LeafType::Int32;
    int64_t entry = 0;
    for (auto [slot, entries] : slots_and_entries) {
        rootio::EmbeddedBasket e;
        e.slot = slot;
        e.first_entry = entry;
        e.entries = entries;
        for (int32_t k = 0; k < entries; ++k, ++entry) {
            e.data.resize(e.data.size() + 4);
            rootio::store_be<int32_t>(e.data.data() + e.data.size() - 4, static_cast<int32_t>(entry));
        }
        if (slot < write_basket) b.basket_entry.push_back(e.first_entry);
        b.embedded.push_back(std::move(e));
    }
    b.entries = tree.entries = entry;
    b.basket_bytes.assign(static_cast<size_t>(write_basket), 0);
    b.basket_seek.assign(static_cast<size_t>(write_basket), 0);  // no disk basket: all in the record
    b.basket_entry.push_back(b.embedded[static_cast<size_t>(write_basket)].first_entry);
    tree.branches.push_back(std::move(b));
    return tree;
}

TEST(ReadAsRoot, EmbeddedBasketsStandInForTheDiskBasketsOfTheirNumber)
{
    handmade::TempDir dir;
    handmade::write(dir / "any.root", handmade::build({}));
    auto file = RootFile::open((dir / "any.root").string());
    // Two finished baskets and the last, unfinished one, all kept in the tree record.
    const rootio::TreeInfo tree = embedded_tree({{0, 3}, {1, 3}, {2, 2}}, 2);
    BranchReader x(*file, tree, 0);
    for (int64_t e = 0; e < 8; ++e) ASSERT_EQ(rootio::load_be<int32_t>(x.entry_bytes(e).data()), e) << e;

    // A basket stored unusable fails its own branch only when read, with its story.
    rootio::TreeInfo damaged = tree;
    damaged.branches.push_back(damaged.branches[0]);
    damaged.branches[1].name = "y";
    damaged.branches[1].embedded[1].damage =
        "f.root: tree t: branch y baskets embedded basket: holds entries but no buffer";
    BranchReader y(*file, damaged, 1);
    EXPECT_EQ(rootio::load_be<int32_t>(y.entry_bytes(2).data()), 2);
    try {
        y.entry_bytes(3);
        FAIL() << "expected RootError";
    } catch (const RootError& e) {
        EXPECT_THAT(
            e.what(),
            HasSubstr("branch y baskets embedded basket: holds entries but no buffer (basket 1, entry 3)"));
    }
    BranchReader x_again(*file, damaged, 0);
    EXPECT_EQ(rootio::load_be<int32_t>(x_again.entry_bytes(3).data()), 3);

    // A first entry with no room after it for the basket's entries.
    damaged.branches[1].embedded[2].first_entry = INT64_MAX - 1;
    try {
        BranchReader overflowing(*file, damaged, 1);
        FAIL() << "expected RootError";
    } catch (const RootError& e) {
        EXPECT_THAT(e.what(), HasSubstr("branch y of tree t: embedded basket 2 starts at entry 9223372036854775806, "
                                        "leaving no room for its 2 entries"));
    }
}

TEST(ReadAsRoot, ABasketKeptWithoutItsBufferIsReadFromDiskOrFailsItsBranchAlone)
{
    REQUIRE_TESTDATA(path, "older-and-other-writers/uproot-issue413.root");
    // Every branch keeps an empty basket object for basket 0, whose data is on disk.
    auto file = RootFile::open(path.string());
    const rootio::TreeInfo tree = rootio::read_tree(*file, "mytree");
    BranchReader i32(*file, tree, tree.find_branch("I32"));
    for (int64_t e = 0; e < tree.entries; ++e)
        EXPECT_EQ(rootio::load_be<int32_t>(i32.entry_bytes(e).data()), e);

    // With no disk basket to fall back to, only that branch fails, naming itself.
    REQUIRE_TESTDATA(ttbar, "collider-sample-ttbar.root");
    auto sample = RootFile::open(ttbar.string());
    const rootio::KeyHeader& key = *sample->find_key("Events");
    Bytes record = sample->read_object(key);
    const rootio::TreeInfo events = rootio::read_tree(*sample, "Events");
    const rootio::EmbeddedBasket& run =
        events.branches[static_cast<size_t>(events.find_branch("run"))].embedded.at(0);
    Bytes pattern(9);
    rootio::store_be<int32_t>(pattern.data(), run.entries);
    rootio::store_be<int32_t>(pattern.data() + 4, run.last);
    pattern[8] = 12;  // no offsets, buffer follows
    const auto at = std::search(record.begin(), record.end(), pattern.begin(), pattern.end());
    ASSERT_NE(at, record.end());
    at[8] = 2;  // no buffer
    handmade::TempDir dir;
    const auto edited_path = dir / "nobuffer.root";
    handmade::write(edited_path, handmade::build({{"TTree", "Events", 1, record, -1, key.title}}));
    auto edited = RootFile::open(edited_path.string());
    const rootio::TreeInfo after = rootio::read_tree(*edited, "Events");
    ASSERT_EQ(after.branches.size(), events.branches.size());
    BranchReader luminosity(*edited, after, after.find_branch("luminosityBlock"));
    EXPECT_EQ(luminosity.entry_bytes(199).size(), 4u);
    BranchReader broken(*edited, after, after.find_branch("run"));
    try {
        broken.entry_bytes(0);
        FAIL() << "expected RootError";
    } catch (const RootError& e) {
        EXPECT_THAT(e.what(), HasSubstr("nobuffer.root: tree Events: branch run baskets embedded basket: "
                                        "holds entries but no buffer"));
    }
}

}  // namespace
