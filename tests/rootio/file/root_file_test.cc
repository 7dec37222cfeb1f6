#include "rootio/file/root_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>

#include "rootio/handmade_file.h"
#include "testdata.h"

using ::testing::HasSubstr;
using rootio::RootError;
using rootio::RootFile;

namespace {

std::vector<uint8_t> bytes_of(std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// One ROOT zlib block around `raw`.
std::vector<uint8_t> zlib_block(const std::vector<uint8_t>& raw)
{
    uLongf n = compressBound(raw.size());
    std::vector<uint8_t> z(n);
    compress2(z.data(), &n, raw.data(), raw.size(), 6);
    z.resize(n);
    std::vector<uint8_t> out = {'Z', 'L', 8,
                                static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                                static_cast<uint8_t>(raw.size()), static_cast<uint8_t>(raw.size() >> 8),
                                static_cast<uint8_t>(raw.size() >> 16)};
    out.resize(rootio::kBlockHeaderSize + n);
    std::memcpy(out.data() + rootio::kBlockHeaderSize, z.data(), n);
    return out;
}

std::string error_of(const std::string& path)
{
    try {
        RootFile::open(path);
    } catch (const RootError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(RootFile, ReadsHeaderAndKeysOfAReferenceFile)
{
    REQUIRE_TESTDATA(path, "uproot-HZZ-uncompressed.root");
    auto file = RootFile::open(path.string());
    EXPECT_EQ(file->version(), 61005);
    EXPECT_EQ(file->compression(), 100);
    EXPECT_EQ(file->size(), static_cast<int64_t>(std::filesystem::file_size(path)));
    ASSERT_EQ(file->keys().size(), 1u);
    const rootio::KeyHeader& key = file->keys()[0];
    EXPECT_EQ(key.name, "events");
    EXPECT_EQ(key.class_name, "TTree");
    EXPECT_EQ(key.cycle, 1);
    EXPECT_EQ(file->find_key("events"), &key);
    EXPECT_EQ(file->find_key("Events"), nullptr);

    // The record the key points at starts with the same header.
    std::vector<uint8_t> head(4);
    file->read_at(key.seek_key, head, "test");
    EXPECT_EQ(rootio::load_be<int32_t>(head.data()), key.nbytes);
    EXPECT_EQ(file->read_object(key).size(), static_cast<size_t>(key.objlen));
}

TEST(RootFile, DecompressesTreeRecordsOfEveryCodec)
{
    const std::pair<const char*, int> files[] = {{"uproot-HZZ-zlib.root", 19},
                                                 {"uproot-HZZ-lzma.root", 19},
                                                 {"uproot-HZZ-lz4.root", 19},
                                                 {"uproot-HZZ-zstd.root", 20}};  // written by a newer ROOT
    for (auto [name, tree_version] : files) {
        REQUIRE_TESTDATA(path, name);
        auto file = RootFile::open(path.string());
        const rootio::KeyHeader* key = file->find_key("events");
        ASSERT_NE(key, nullptr) << name;
        ASSERT_TRUE(key->is_compressed()) << name;
        const auto object = file->read_object(*key);
        ASSERT_EQ(object.size(), static_cast<size_t>(key->objlen)) << name;
        // A TTree record starts with a byte count and the class version.
        EXPECT_EQ(object[0] & 0x40, 0x40) << name;
        EXPECT_EQ(rootio::load_be<int16_t>(object.data() + 4), tree_version) << name;
    }
}

TEST(RootFile, PicksTheHighestCycleInSmallAndLargeLayouts)
{
    for (bool big : {false, true}) {
        handmade::TempDir dir;
        const auto path = dir / "cycles.root";
        handmade::write(path, handmade::build({{"TNamed", "h", 1, bytes_of("first")},
                                               {"TNamed", "h", 3, bytes_of("third")},
                                               {"TNamed", "h", 2, bytes_of("second")},
                                               {"TNamed", "other", 9, bytes_of("x")}},
                                              {.big = big}));
        auto file = RootFile::open(path.string());
        ASSERT_EQ(file->keys().size(), 4u) << big;
        EXPECT_EQ(file->keys()[0].version, big ? 1004 : 4);
        const rootio::KeyHeader* key = file->find_key("h");
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->cycle, 3);
        EXPECT_EQ(file->read_object(*key), bytes_of("third"));
        EXPECT_EQ(file->version(), big ? 1062206 : 62206);
    }
}

TEST(RootFile, DecompressesAnObjectStoredCompressed)
{
    handmade::TempDir dir;
    const auto path = dir / "zipped.root";
    std::vector<uint8_t> raw(5000);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i % 7);
    handmade::write(path, handmade::build({{"TNamed", "z", 1, zlib_block(raw), static_cast<int32_t>(raw.size())}}));
    auto file = RootFile::open(path.string());
    EXPECT_EQ(file->read_object(*file->find_key("z")), raw);
}

TEST(RootFile, DecompressesAnObjectSplitIntoBlocksOfDifferentSizes)
{
    handmade::TempDir dir;
    const auto path = dir / "blocks.root";
    std::vector<uint8_t> raw(70000);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>((i * 31) ^ (i >> 7));
    std::vector<uint8_t> stored;
    for (auto [from, to] : {std::pair<size_t, size_t>{0, 50000}, {50000, 50017}, {50017, 70000}}) {
        const auto block = zlib_block(std::vector<uint8_t>(raw.begin() + from, raw.begin() + to));
        stored.insert(stored.end(), block.begin(), block.end());
    }
    handmade::write(path, handmade::build({{"TNamed", "z", 1, stored, static_cast<int32_t>(raw.size())}}));
    auto file = RootFile::open(path.string());
    EXPECT_EQ(file->read_object(*file->find_key("z")), raw);
}

TEST(RootFile, RejectsCompressedBlocksThatClaimTooMuch)
{
    handmade::TempDir dir;
    const auto path = dir / "bomb.root";
    std::vector<uint8_t> raw(100, 0);
    auto block = zlib_block(raw);
    // Claim 16 MiB out of a few bytes, and say so in the key too: nothing may be allocated.
    block[6] = block[7] = block[8] = 0xFF;
    handmade::write(path, handmade::build({{"TNamed", "z", 1, block, 0xFFFFFF}}));
    auto file = RootFile::open(path.string());
    try {
        file->read_object(*file->find_key("z"));
        FAIL() << "expected RootError";
    } catch (const RootError& e) {
        EXPECT_THAT(e.what(), HasSubstr(path.string()));
        EXPECT_THAT(e.what(), HasSubstr("more than its codec can produce"));
    }
}

TEST(RootFile, BlocksThatLieAboutTheirSizeCostAtMostOneBlockOfMemory)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit does not mix with the sanitizer's shadow memory";
#endif
    // 128 zstd blocks of junk, each claiming 16 MiB: a ratio zstd can reach, 2 GiB in all.
    std::vector<uint8_t> stored;
    for (int i = 0; i < 128; ++i) {
        stored.insert(stored.end(), {'Z', 'S', 1, 0x58, 0x02, 0x00, 0xFF, 0xFF, 0xFF});  // 600 in, 16 MiB out
        stored.resize(stored.size() + 600, 0xAB);
    }
    handmade::TempDir dir;
    const auto path = dir / "lies.root";
    handmade::write(path, handmade::build({{"TNamed", "z", 1, stored, 128 * 0xFFFFFF}}));
    auto file = RootFile::open(path.string());

    // Read in a child that cannot map 1 GiB more: the first block's failure must come
    // before any allocation of the claimed size.
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit limit{1u << 30, 1u << 30};
        ::setrlimit(RLIMIT_AS, &limit);
        try {
            file->read_object(*file->find_key("z"));
        } catch (const RootError& e) {
            ::_exit(std::string_view(e.what()).find("corrupt zstd data") != std::string_view::npos ? 0 : 3);
        } catch (const std::bad_alloc&) {
            ::_exit(1);
        }
        ::_exit(2);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: allocated the claimed size; 2: read junk; 3: other error";
}

TEST(RootFile, ReadAtRefusesBytesOutsideTheFile)
{
    REQUIRE_TESTDATA(path, "uproot-small-flat-tree.root");
    auto file = RootFile::open(path.string());
    std::vector<uint8_t> buf(16);
    EXPECT_NO_THROW(file->read_at(file->size() - 16, buf, "tail"));
    EXPECT_THROW(file->read_at(file->size() - 15, buf, "tail"), RootError);
    EXPECT_THROW(file->read_at(-1, buf, "tail"), RootError);
    EXPECT_THROW(file->read_at(INT64_MAX - 4, buf, "tail"), RootError);
}

TEST(RootFile, NamesTheFileAndTheProblemWhenItCannotOpen)
{
    handmade::TempDir dir;
    EXPECT_THAT(error_of((dir / "missing.root").string()), HasSubstr("missing.root: cannot open"));
    EXPECT_THAT(error_of(dir.path().string()), HasSubstr("not a regular file"));

    handmade::write(dir / "empty.root", {});
    EXPECT_THAT(error_of((dir / "empty.root").string()), HasSubstr("empty.root: not a ROOT file"));
    handmade::write(dir / "text.root", bytes_of("this is plainly some text, long enough to hold a header......"));
    EXPECT_THAT(error_of((dir / "text.root").string()), HasSubstr("text.root: not a ROOT file"));

    // A file cut short: its header still promises the full length.
    auto good = handmade::build({{"TNamed", "h", 1, bytes_of("payload")}});
    good.resize(good.size() - 1);
    handmade::write(dir / "cut.root", good);
    EXPECT_THAT(error_of((dir / "cut.root").string()), HasSubstr("cut.root: truncated"));
}

TEST(RootFile, RejectsKeysPointingOutsideTheFile)
{
    handmade::TempDir dir;
    auto bytes = handmade::build({{"TNamed", "h", 1, bytes_of("payload")}});
    // The keys list is the last record; its only key header ends with "h" and an empty title.
    // Its fSeekKey (small layout) sits 8 bytes after the first 10 of the header copy.
    const size_t list_copy = bytes.size() - handmade::key_length(false, "TNamed", "h", "");
    rootio::store_be<int32_t>(bytes.data() + list_copy + 18, 1 << 30);
    handmade::write(dir / "far.root", bytes);
    EXPECT_THAT(error_of((dir / "far.root").string()), HasSubstr("lies outside the file"));

    // A record length that runs past the end.
    bytes = handmade::build({{"TNamed", "h", 1, bytes_of("payload")}});
    rootio::store_be<int32_t>(bytes.data() + list_copy, 1 << 30);
    handmade::write(dir / "long.root", bytes);
    EXPECT_THAT(error_of((dir / "long.root").string()), HasSubstr("lies outside the file"));
}

TEST(RootFile, RejectsAKeysListCountLargerThanItsRecord)
{
    handmade::TempDir dir;
    auto bytes = handmade::build({{"TNamed", "h", 1, bytes_of("payload")}});
    const size_t list_copy = bytes.size() - handmade::key_length(false, "TNamed", "h", "");
    rootio::store_be<int32_t>(bytes.data() + list_copy - 4, 100000000);
    handmade::write(dir / "many.root", bytes);
    EXPECT_THAT(error_of((dir / "many.root").string()), HasSubstr("keys cannot fit"));
}

// The header's compression setting is inherited by what is written after it (a merge takes
// the first input's), so one no writer could have stored is damage, named with the file.
TEST(RootFile, RejectsACompressionSettingNoWriterStores)
{
    handmade::TempDir dir;
    // At 33 in the small header: after magic, version, begin, end, seek-free, nbytes-free,
    // nfree, nbytes-name and units.
    for (const int32_t setting : {9999, 600, -1, INT32_MIN, 505, 0, 599}) {
        auto bytes = handmade::build({{"TNamed", "h", 1, bytes_of("payload")}});
        rootio::store_be<int32_t>(bytes.data() + 33, setting);
        const std::string path = (dir / ("c" + std::to_string(setting) + ".root")).string();
        handmade::write(path, bytes);
        const std::string refused =
            path + ": file header: invalid compression setting " + std::to_string(setting);
        EXPECT_EQ(error_of(path), setting >= 0 && setting < 600 ? "" : refused);
    }
}
