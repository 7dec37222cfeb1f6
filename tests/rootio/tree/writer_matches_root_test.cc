// Records the writer produces, compared byte for byte with the same records written by
// ROOT 6.22 in the reference files: the StreamerInfo list, and a TTree with its branches
// and leaves. ROOT looks classes up by version and checksum and reads the tree through
// these layouts, so any difference is a risk even where our own reader would not mind.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rootio/handmade_file.h"
#include "rootio/file/file_writer.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"
#include "rootio/tree/tree_writer.h"
#include "testdata.h"

using rootio::FileWriter;
using rootio::RootFile;
using rootio::TreeWriter;

namespace {

using Bytes = std::vector<uint8_t>;

// The StreamerInfo record's object bytes (small-layout header), with its key length.
Bytes streamer_info_payload(const RootFile& file, int& keylen)
{
    Bytes header(100);
    file.read_at(0, header, "file header");
    const int64_t seek = rootio::load_be<int32_t>(header.data() + 37);
    const int32_t nbytes = rootio::load_be<int32_t>(header.data() + 41);
    Bytes record(static_cast<size_t>(nbytes));
    file.read_at(seek, record, "StreamerInfo");
    rootio::ByteReader in(record, "StreamerInfo key");
    const rootio::KeyHeader key = rootio::read_key_header(in);
    keylen = key.keylen;
    return file.read_object(key);
}

size_t find(const Bytes& haystack, const Bytes& needle)
{
    const auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
    return static_cast<size_t>(it - haystack.begin());
}

}  // namespace

// A file holding the same leaf classes, first used in the same order, describes them with
// exactly ROOT's bytes (layouts, versions, checksums, element titles, schema rules).
TEST(WriterMatchesRoot, StreamerInfoRecordForTheSameClasses)
{
    REQUIRE_TESTDATA(reference_path, "collider-sample-ttbar.root");
    auto reference = RootFile::open(reference_path.string());
    const rootio::TreeInfo tree = rootio::read_tree(*reference, "Events");

    handmade::TempDir dir;
    const std::string path = (dir / "classes.root").string();
    {
        FileWriter file(path, 101);
        TreeWriter out(file, "Events", "");
        std::vector<std::string_view> used;
        for (const auto& b : tree.branches) {
            const std::string_view cls = rootio::leaf_class_name(b.leaf.type);
            if (!b.is_supported() || std::find(used.begin(), used.end(), cls) != used.end()) continue;
            used.push_back(cls);
            out.add_branch(b.name, b.leaf.type);
        }
        ASSERT_GE(used.size(), 4u);
        out.write();
        file.close();
    }
    auto ours = RootFile::open(path);
    int our_keylen = 0, their_keylen = 0;
    const Bytes mine = streamer_info_payload(*ours, our_keylen);
    const Bytes theirs = streamer_info_payload(*reference, their_keylen);
    ASSERT_EQ(our_keylen, their_keylen) << "tags in the payload count from the key";
    ASSERT_EQ(mine.size(), theirs.size());
    EXPECT_TRUE(mine == theirs) << "first difference at byte "
                                << std::mismatch(mine.begin(), mine.end(), theirs.begin()).first - mine.begin();
}

// ROOT's empty tree has branches x/I, y/D and a string branch z/C we do not write; the tree
// record must equal ROOT's up to where z begins, but for the branch count and byte counts.
TEST(WriterMatchesRoot, TreeRecordOfAnEmptyTree)
{
    REQUIRE_TESTDATA(reference_path, "uproot-empty.root");
    auto reference = RootFile::open(reference_path.string());
    handmade::TempDir dir;
    const std::string path = (dir / "empty.root").string();
    {
        FileWriter file(path, 101);
        TreeWriter out(file, "tree", "This is empty.");
        out.add_branch("x", rootio::LeafType::Int32);
        out.add_branch("y", rootio::LeafType::Double);
        out.write();
        file.close();
    }
    auto ours = RootFile::open(path);
    const rootio::KeyHeader& our_key = *ours->find_key("tree");
    const rootio::KeyHeader& their_key = *reference->find_key("tree");
    ASSERT_EQ(our_key.keylen, their_key.keylen);
    const Bytes mine = ours->read_object(our_key);
    const Bytes theirs = reference->read_object(their_key);

    // fBranches follows the tree's fIOFeatures (checksum, then one byte of bits).
    const size_t branches = find(mine, {0x1a, 0xa1, 0x2f, 0x10}) + 5;
    ASSERT_EQ(branches, find(theirs, {0x1a, 0xa1, 0x2f, 0x10}) + 5);
    const size_t end = branches + 4 + (rootio::load_be<uint32_t>(mine.data() + branches) & 0x3FFFFFFF);
    ASSERT_LT(end, theirs.size());
    auto same = [&](size_t from, size_t to) {
        return std::equal(mine.begin() + static_cast<long>(from), mine.begin() + static_cast<long>(to),
                          theirs.begin() + static_cast<long>(from));
    };
    EXPECT_TRUE(same(4, branches)) << "tree members";
    EXPECT_TRUE(same(branches + 4, branches + 17)) << "fBranches header (bits included)";
    EXPECT_EQ(rootio::load_be<int32_t>(mine.data() + branches + 17), 2);
    EXPECT_EQ(rootio::load_be<int32_t>(theirs.data() + branches + 17), 3);
    EXPECT_TRUE(same(branches + 21, end)) << "branches x and y with their leaves, first difference at "
                                          << std::mismatch(mine.begin() + static_cast<long>(branches + 21),
                                                           mine.begin() + static_cast<long>(end),
                                                           theirs.begin() + static_cast<long>(branches + 21))
                                                     .first -
                                                 mine.begin();
}
