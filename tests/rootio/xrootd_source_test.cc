// Files read from a real XRootD server: the bytes, trees and treedump output are those of
// the same file read locally; many ranges become few vector reads, within the protocol's
// limits; a missing file or a bad URL is one error naming the URL.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "framework/scratch_dir.h"
#include "rootio/branch_reader.h"
#include "rootio/byte_source.h"
#include "rootio/error.h"
#include "rootio/root_file.h"
#include "rootio/tree_reader.h"
#include "rootio/vector_read_plan.h"
#include "testdata.h"
#include "xrootd_server.h"

namespace {

using rootio::ByteRange;
using ::testing::HasSubstr;

TEST(VectorReadPlan, CutsRangesToThePieceLimitAndGroupsPiecesInOrder)
{
    std::vector<uint8_t> buffer(20);
    const ByteRange ranges[] = {{100, std::span(buffer).subspan(0, 10)},
                                {5, std::span(buffer).subspan(10, 0)},
                                {50, std::span(buffer).subspan(10, 3)},
                                {0, std::span(buffer).subspan(13, 7)}};
    const auto requests = rootio::plan_vector_reads(ranges, {.max_pieces = 3, .max_piece_bytes = 4});
    std::vector<std::vector<std::tuple<int64_t, uint32_t, ptrdiff_t>>> got;
    for (const auto& request : requests) {
        got.emplace_back();
        for (const auto& piece : request)
            got.back().emplace_back(piece.seek, piece.length, piece.out - buffer.data());
    }
    using P = std::tuple<int64_t, uint32_t, ptrdiff_t>;
    EXPECT_EQ(got, (std::vector<std::vector<P>>{{P{100, 4, 0}, P{104, 4, 4}, P{108, 2, 8}},
                                                {P{50, 3, 10}, P{0, 4, 13}, P{4, 3, 17}}}));
}

class RemoteFile : public ::testing::Test {
protected:
    std::vector<uint8_t> local_bytes(const std::string& path) const
    {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    testutil::ScratchDir dir;
    testutil::XRootDServer server;
};

TEST_F(RemoteFile, ManyRangesAreFewVectorReadsAndEveryByteArrives)
{
    // 6 MB of noise: ranges larger than one vector-read piece (2 MB) must be cut.
    std::vector<uint8_t> noise(6 << 20);
    std::mt19937 rng(5);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
    const std::string path = dir.file("noise.bin");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(noise.data()), noise.size());
    const auto source = rootio::open_byte_source(server.publish(path, "noise.bin"));
    ASSERT_EQ(source->size(), static_cast<int64_t>(noise.size()));

    // 2500 scattered ranges: three requests of at most 1024 pieces.
    std::vector<uint8_t> small(2500 * 7);
    std::vector<ByteRange> ranges;
    for (size_t i = 0; i < 2500; ++i)
        ranges.push_back(
            {static_cast<int64_t>((i * 2467) % (noise.size() - 7)), std::span(small).subspan(i * 7, 7)});
    const uint64_t before = source->requests();
    const rootio::ReadTotals totals_before = rootio::read_totals();
    source->read(ranges, "scattered");
    EXPECT_EQ(source->requests() - before, 3u);
    EXPECT_EQ(rootio::read_totals().requests - totals_before.requests, 3u);
    EXPECT_EQ(rootio::read_totals().bytes - totals_before.bytes, small.size());
    for (size_t i = 0; i < ranges.size(); ++i)
        ASSERT_TRUE(std::equal(ranges[i].out.begin(), ranges[i].out.end(), noise.begin() + ranges[i].seek))
            << i;

    // One 5 MB range and the last byte: one request, three pieces.
    std::vector<uint8_t> big(5 << 20), last(1);
    const ByteRange two[] = {{12345, big}, {static_cast<int64_t>(noise.size() - 1), last}};
    source->read(two, "big");
    EXPECT_EQ(source->requests() - before, 4u);
    EXPECT_TRUE(std::equal(big.begin(), big.end(), noise.begin() + 12345));
    EXPECT_EQ(last[0], noise.back());

    const ByteRange outside[] = {{static_cast<int64_t>(noise.size()), last}};
    try {
        source->read(outside, "past the end");
        ADD_FAILURE() << "no error";
    } catch (const rootio::RootError& e) {
        EXPECT_THAT(e.what(), HasSubstr(server.url("noise.bin") + ": past the end: bytes "));
    }
}

TEST_F(RemoteFile, TreesReadOverTheNetworkEqualTheLocalFile)
{
    REQUIRE_TESTDATA(local, "uproot-HZZ-zlib.root");
    const std::string url = server.publish(local.string(), "data/hzz.root");
    const auto local_file = rootio::RootFile::open(local.string());
    const auto remote_file = rootio::RootFile::open(url);
    const rootio::TreeInfo local_tree = rootio::read_tree(*local_file, "events");
    const rootio::TreeInfo remote_tree = rootio::read_tree(*remote_file, "events");
    ASSERT_EQ(remote_tree.entries, local_tree.entries);
    ASSERT_EQ(remote_tree.branches.size(), local_tree.branches.size());
    for (size_t b = 0; b < local_tree.branches.size(); ++b) {
        if (!local_tree.branches[b].is_supported()) continue;
        rootio::BranchReader l(*local_file, local_tree, static_cast<int>(b));
        rootio::BranchReader r(*remote_file, remote_tree, static_cast<int>(b));
        for (int64_t e = 0; e < local_tree.entries; ++e) {
            const auto want = l.entry_bytes(e);
            const std::vector<uint8_t> copy(want.begin(), want.end());
            const auto got = r.entry_bytes(e);
            ASSERT_EQ(std::vector<uint8_t>(got.begin(), got.end()), copy)
                << local_tree.branches[b].name << " " << e;
        }
    }

    // treedump takes the URL as it takes a path.
    const std::string treedump = std::string(SKIM_BUILD_DIR) + "/treedump";
    auto dump = [&](const std::string& name) {
        std::string out;
        FILE* p = ::popen(("'" + treedump + "' '" + name + "' events --json --count 50 2>&1").c_str(), "r");
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        EXPECT_EQ(::pclose(p), 0) << out;
        return out;
    };
    EXPECT_EQ(dump(url), dump(local.string()));
}

TEST_F(RemoteFile, MissingFileAndBadUrlAreOneErrorNamingTheUrl)
{
    auto message_of = [](const std::string& name) -> std::string {
        try {
            rootio::RootFile::open(name);
        } catch (const rootio::RootError& e) {
            return e.what();
        }
        return "(no error)";
    };
    EXPECT_EQ(message_of(server.url("data/none.root")),
              server.url("data/none.root") + ": cannot open: no such file on the server");
    EXPECT_EQ(message_of("root://"), "root://: not a valid XRootD URL");
}

}  // namespace
