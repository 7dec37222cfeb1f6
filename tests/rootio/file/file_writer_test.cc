#include "rootio/file/file_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "rootio/file_structure.h"
#include "rootio/handmade_file.h"
#include "rootio/tree/branch_reader.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"
#include "rootio/tree/tree_writer.h"

using ::testing::AllOf;
using ::testing::HasSubstr;
using rootio::FileWriter;
using rootio::LeafType;
using rootio::RootError;
using rootio::RootFile;
using rootio::TreeWriter;

namespace {

// A small tree of `entries` entries: a count, an array it counts and a scalar.
void write_tree(FileWriter& file, int entries, const std::string& name = "Events")
{
    TreeWriter tree(file, name, "a tree");
    const int n = tree.add_branch("n", LeafType::Int32);
    const int x = tree.add_branch("x", LeafType::Float, "n");
    const int id = tree.add_branch("id", LeafType::Int64);
    std::vector<float> values;
    for (int i = 0; i < entries; ++i) {
        values.assign(static_cast<size_t>(i % 4), static_cast<float>(i));
        tree.set_value<int32_t>(n, i % 4);
        tree.set_values<float>(x, values);
        tree.set_value<int64_t>(id, i);
        tree.fill();
    }
    tree.write();
}

// Runs `body` in a child process and returns its exit status (or 128 + signal).
template <class F>
int in_child(F body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 99;
        try {
            code = body();
        } catch (...) {
            code = 98;
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool exists(const std::string& path)
{
    struct stat sb{};
    return ::lstat(path.c_str(), &sb) == 0;
}

std::vector<std::string> names_in(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(FileWriter, FileWithoutObjectsIsAValidEmptyFile)
{
    handmade::TempDir dir;
    const std::string path = (dir / "empty.root").string();
    {
        FileWriter file(path, 101, "nothing here");
        file.close();
        EXPECT_TRUE(file.is_closed());
    }
    const auto s = file_structure::check(path);
    EXPECT_FALSE(s.big);
    EXPECT_TRUE(s.listed_keys.empty());
    ASSERT_EQ(s.records.size(), 4u);  // directory, streamer infos, keys list, free segments
    EXPECT_EQ(s.records[1].name, "StreamerInfo");
    auto file = RootFile::open(path);
    EXPECT_TRUE(file->keys().empty());
    EXPECT_EQ(file->compression(), 101);
}

TEST(FileWriter, TreeFileHasConsistentRecordsForEveryCodec)
{
    handmade::TempDir dir;
    for (int setting : {0, 101, 209, 404, 505}) {
        SCOPED_TRACE(setting);
        const std::string path = (dir / ("t" + std::to_string(setting) + ".root")).string();
        FileWriter file(path, setting);
        write_tree(file, 20000);
        file.close();
        const auto s = file_structure::check(path);
        ASSERT_EQ(s.listed_keys.size(), 1u);
        size_t baskets = 0, compressed = 0;
        for (const auto& r : s.records) {
            if (r.class_name != "TBasket") continue;
            ++baskets;
            EXPECT_EQ(r.title, "Events");
            if (r.objlen > r.nbytes - r.keylen) ++compressed;
        }
        EXPECT_GE(baskets, 6u);
        EXPECT_EQ(compressed, setting == 0 ? 0u : baskets) << "these baskets all shrink";
        auto f = RootFile::open(path);
        EXPECT_EQ(f->compression(), setting);
        EXPECT_EQ(rootio::read_tree(*f, "Events").entries, 20000);
    }
}

TEST(FileWriter, ObjectsOfTheSameNameGetSuccessiveCycles)
{
    handmade::TempDir dir;
    const std::string path = (dir / "cycles.root").string();
    FileWriter file(path, 0);
    write_tree(file, 3);
    write_tree(file, 5);
    write_tree(file, 7, "Other");
    file.close();
    const auto s = file_structure::check(path);
    auto f = RootFile::open(path);
    ASSERT_EQ(f->keys().size(), 3u);
    EXPECT_EQ(f->keys()[0].cycle, 1);
    EXPECT_EQ(f->keys()[1].cycle, 2);
    EXPECT_EQ(f->keys()[2].cycle, 1);
    EXPECT_EQ(f->find_key("Events")->cycle, 2);
    EXPECT_EQ(rootio::read_tree(*f, "Events").entries, 5);
    EXPECT_EQ(rootio::read_tree(*f, "Other").entries, 7);
}

TEST(FileWriter, SmallObjectsAreStoredRawLargeOnesCompressed)
{
    handmade::TempDir dir;
    const std::string path = (dir / "objects.root").string();
    FileWriter file(path, 101);
    file.write_object("TNamed", "small", "", [](rootio::ByteWriter& out, int) {
        out.bytes(std::vector<uint8_t>(256, 7));
    });
    file.write_object("TNamed", "large", "", [](rootio::ByteWriter& out, int) {
        out.bytes(std::vector<uint8_t>(257, 7));
    });
    file.close();
    auto f = RootFile::open(path);
    EXPECT_FALSE(f->find_key("small")->is_compressed());
    EXPECT_TRUE(f->find_key("large")->is_compressed());
    EXPECT_EQ(f->read_object(*f->find_key("large")), std::vector<uint8_t>(257, 7));
}

TEST(FileWriter, StreamCallbackIsToldTheKeyLength)
{
    handmade::TempDir dir;
    const std::string path = (dir / "keylen.root").string();
    FileWriter file(path, 0);
    int seen = 0;
    file.write_object("TNamed", "obj", "title", [&](rootio::ByteWriter& out, int keylen) {
        seen = keylen;
        out.u8(1);
    });
    file.close();
    auto f = RootFile::open(path);
    EXPECT_EQ(seen, f->find_key("obj")->keylen);
    EXPECT_EQ(seen, 26 + 7 + 4 + 6);
}

// Sparse holes push the file past 2 GB: later records get 64-bit keys, the directory
// v1005, the header the large layout, the free list v1001, and every value still reads.
// Records between 2e9 and 2^31 test the threshold itself; records past 2^31 catch seeks
// kept in signed 32-bit fields.
struct BigLayout {
    const char* name;
    std::vector<int64_t> holes;  // one before the second cluster, one before the third
    int64_t last_cluster_after;  // the third cluster's baskets lie beyond this
    int64_t last_cluster_before;
};

class LargeLayout : public ::testing::TestWithParam<BigLayout> {};
INSTANTIATE_TEST_SUITE_P(FileWriter, LargeLayout,
                         ::testing::Values(BigLayout{"BelowTwoToThe31", {2050000000}, 2000000000, int64_t{1} << 31},
                                           BigLayout{"PastTwoToThe31",
                                                     {1100000000, 1100000000},
                                                     int64_t{1} << 31,
                                                     int64_t{3000000000}}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_P(LargeLayout, FilesPastTwoGigabytesSwitchToTheLargeLayout)
{
    const BigLayout& layout = GetParam();
    handmade::TempDir dir;
    const std::string path = (dir / "big.root").string();
    {
        FileWriter file(path, 101);
        TreeWriter tree(file, "Events", "");
        const int n = tree.add_branch("n", LeafType::UInt8);
        const int x = tree.add_branch("x", LeafType::Double, "n");
        tree.set_auto_flush(1000);
        std::vector<double> xs;
        for (int i = 0; i < 3000; ++i) {
            if (i % 1000 == 0 && i > 0 && static_cast<size_t>(i / 1000) <= layout.holes.size())
                file.leave_hole_for_testing(layout.holes[static_cast<size_t>(i / 1000 - 1)]);
            xs.assign(static_cast<size_t>(i % 3), i * 0.5);
            tree.set_value<uint8_t>(n, static_cast<uint8_t>(i % 3));
            tree.set_values<double>(x, xs);
            tree.fill();
        }
        tree.write();
        file.close();
    }
    const auto s = file_structure::check(path);  // 64-bit keys past 2e9, among the rest
    EXPECT_TRUE(s.big);
    ASSERT_EQ(s.gaps.size(), layout.holes.size());
    ASSERT_EQ(s.free_segments.size(), layout.holes.size() + 1);
    EXPECT_EQ(s.free_segments.back().second, 3000000000) << "ROOT extends the open segment by 10^9";

    auto f = RootFile::open(path);
    const auto info = rootio::read_tree(*f, "Events");
    ASSERT_EQ(info.entries, 3000);
    for (const auto& b : info.branches) {
        ASSERT_EQ(b.write_basket(), 3) << "one basket per cluster";
        EXPECT_LT(b.basket_seek[0], 2000000000);
        EXPECT_GT(b.basket_seek[2], layout.last_cluster_after) << b.name;
        EXPECT_LT(b.basket_seek[2], layout.last_cluster_before) << b.name;
    }
    EXPECT_GT(f->find_key("Events")->seek_key, layout.last_cluster_after);
    EXPECT_EQ(f->find_key("Events")->version, 1004);
    rootio::BranchReader x(*f, info, 1);
    std::vector<double> got;
    for (int i = 0; i < 3000; ++i) {
        rootio::decode_elements(x.entry_bytes(i), got);
        ASSERT_EQ(got, std::vector<double>(static_cast<size_t>(i % 3), i * 0.5)) << i;
    }
}

TEST(FileWriter, MissingDirectoryNamesFileAndReason)
{
    handmade::TempDir dir;
    const std::string path = (dir / "no" / "such.root").string();
    try {
        FileWriter file(path);
        FAIL() << "created a file in a missing directory";
    } catch (const RootError& e) {
        EXPECT_THAT(e.what(), AllOf(HasSubstr(path), HasSubstr("No such file or directory")));
    }
}

TEST(FileWriter, DirectoryAsPathIsRefused)
{
    handmade::TempDir dir;
    EXPECT_THAT([&] { FileWriter file(dir.path().string()); },
                ::testing::ThrowsMessage<RootError>(HasSubstr("Is a directory")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path()));
}

TEST(FileWriter, UnwritablePlaceIsRefused)
{
    handmade::TempDir dir;
    const auto locked = dir / "locked";
    std::filesystem::create_directory(locked);
    ::chmod(locked.c_str(), 0555);
    const std::string path = (locked / "out.root").string();
    // Root ignores permissions, so the attempt is made as an unprivileged user.
    const int code = in_child([&] {
        if (::geteuid() == 0 && ::setuid(65534) != 0) return 2;
        try {
            FileWriter file(path);
        } catch (const RootError& e) {
            const std::string msg = e.what();
            return msg.find(path) != std::string::npos && msg.find("Permission denied") != std::string::npos ? 0 : 3;
        }
        return 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(exists(path));
}

// The file-size limit makes writes fail with EFBIG part-way, like a full disk.
TEST(FileWriter, DiskFullFailsAndLeavesNoFile)
{
    handmade::TempDir dir;
    const std::string path = (dir / "full.root").string();
    const int code = in_child([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{200000, 200000};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        FileWriter file(path, 0);
        try {
            write_tree(file, 100000);
            file.close();
            return 1;
        } catch (const RootError& e) {
            const std::string msg = e.what();
            if (msg.find(path) == std::string::npos || msg.find("File too large") == std::string::npos) return 3;
        }
        // The partial file is gone at once, and nothing can make it look complete.
        if (exists(path)) return 4;
        try {
            file.close();
            return 5;
        } catch (const RootError& e) {
            return std::string(e.what()).find("earlier failure") != std::string::npos ? 0 : 6;
        }
    });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(exists(path)) << "a failed file must not be left behind";
}

// Only regular files are written: a device (or a FIFO, which could block) is refused.
TEST(FileWriter, DeviceIsRefusedAndKept)
{
    if (!exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    EXPECT_THAT([] { FileWriter file("/dev/full", 0); },
                ::testing::ThrowsMessage<RootError>("/dev/full: is a character device, not a regular file"));
    EXPECT_TRUE(exists("/dev/full"));
}

// Writing to a file that was unlinked would succeed into nothing; close() says so.
TEST(FileWriter, TemporaryFileRemovedWhileWritingFailsAtClose)
{
    handmade::TempDir dir;
    const std::string path = (dir / "gone.root").string();
    FileWriter file(path, 0);
    write_tree(file, 100);
    const auto names = names_in(dir.path());
    ASSERT_EQ(names.size(), 1u);
    std::filesystem::remove(dir / names[0]);
    EXPECT_THAT([&] { file.close(); }, ::testing::ThrowsMessage<RootError>(
                                           AllOf(HasSubstr(path), HasSubstr("removed or replaced"))));
    EXPECT_TRUE(names_in(dir.path()).empty());
}

TEST(FileWriter, TemporaryFileReplacedWhileWritingFailsAndTheNewFileIsKept)
{
    handmade::TempDir dir;
    const std::string path = (dir / "replaced.root").string();
    std::string temp;
    {
        FileWriter file(path, 0);
        temp = (dir / names_in(dir.path()).at(0)).string();
        std::filesystem::remove(temp);
        std::ofstream(temp) << "someone else's";
        EXPECT_THROW(file.close(), RootError);
    }
    std::ifstream in(temp);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "someone else's");
    EXPECT_FALSE(exists(path));
}

// Until closed, the file is written under a temporary name beside the final one.
TEST(FileWriter, FileNotClosedIsRemoved)
{
    handmade::TempDir dir;
    const std::string path = (dir / "abandoned.root").string();
    {
        FileWriter file(path);
        write_tree(file, 1000);
        EXPECT_FALSE(exists(path));
        EXPECT_THAT(names_in(dir.path()), ::testing::ElementsAre(::testing::StartsWith("abandoned.root.incomplete-")));
    }
    EXPECT_TRUE(names_in(dir.path()).empty());
}

TEST(FileWriter, NamesTooLongForAKeyAreRefused)
{
    handmade::TempDir dir;
    const std::string path = (dir / "names.root").string();
    FileWriter file(path, 0);
    EXPECT_THAT([&] { file.write_object("TNamed", std::string(40000, 'n'), "", [](rootio::ByteWriter&, int) {}); },
                ::testing::ThrowsMessage<RootError>(AllOf(HasSubstr(path), HasSubstr("too long for a key"))));
    TreeWriter tree(file, "Events", "");
    EXPECT_THAT([&] { tree.add_branch(std::string(40000, 'b'), LeafType::Float); },
                ::testing::ThrowsMessage<RootError>(HasSubstr("too long for a basket key")));
    EXPECT_THAT([&] { tree.add_branch("huge", LeafType::Double, {}, 1 << 28); },
                ::testing::ThrowsMessage<RootError>(HasSubstr("fixed length 268435456 is too large")));
    file.close();
    file_structure::check(path);
}

TEST(FileWriter, WritingAfterCloseIsAnErrorAndCloseTwiceIsHarmless)
{
    handmade::TempDir dir;
    const std::string path = (dir / "closed.root").string();
    FileWriter file(path);
    file.close();
    EXPECT_NO_THROW(file.close());
    EXPECT_THROW(file.write_object("TNamed", "late", "", [](rootio::ByteWriter&, int) {}), RootError);
    EXPECT_TRUE(exists(path));
    file_structure::check(path);
}

TEST(FileWriter, ReplacesAnExistingFile)
{
    handmade::TempDir dir;
    const std::string path = (dir / "old.root").string();
    std::ofstream(path) << std::string(1 << 20, 'x');
    FileWriter file(path, 0);
    file.close();
    const auto s = file_structure::check(path);
    EXPECT_LT(s.end, 2000);
}

// SOURCE_DATE_EPOCH fixes every time stamp (in UTC) and the UUID: the same content written
// twice gives the same bytes. Without it the UUID is fresh for every file.
TEST(FileWriter, FixedBuildTimeGivesIdenticalBytes)
{
    handmade::TempDir dir;
    const std::string path = (dir / "fixed.root").string();
    const auto write_and_read = [&] {
        {
            FileWriter file(path);
            write_tree(file, 500);
            file.close();
        }
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);  // 2023-11-14 22:13:20 UTC
    const std::string first = write_and_read();
    const std::string second = write_and_read();
    ::unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_TRUE(first == second) << "same content, same build time, different bytes";
    const std::string fresh = write_and_read();
    EXPECT_FALSE(first == fresh) << "no fixed build time, yet the same UUID and times";

    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    write_and_read();
    ::unsetenv("SOURCE_DATE_EPOCH");
    auto f = RootFile::open(path);
    const uint32_t expected = (2023u - 1995) << 26 | 11u << 22 | 14u << 17 | 22u << 12 | 13u << 6 | 20u;
    EXPECT_EQ(f->find_key("Events")->datime, expected);
}
