// Files read from a real XRootD server: the bytes and treedump's output (of a tree and of
// an RNTuple) are those of the same file read locally, and many ranges, repeated ones
// among them, become few vector reads, within the protocol's limits (pieces per request,
// bytes per piece).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "framework/scratch_dir.h"
#include "rootio/io/byte_source.h"
#include "rootio/format/error.h"
#include "testdata.h"
#include "xrootd_server.h"

namespace {

using rootio::ByteRange;
using ::testing::HasSubstr;

class RemoteFile : public ::testing::Test {
protected:
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

    // A batch naming ranges more than once (an RNTuple's identical pages are stored once
    // for several columns), read and sent ahead: every copy filled.
    std::vector<uint8_t> copies(9 * 7);
    std::vector<ByteRange> repeated;
    for (size_t i = 0; i < 9; ++i)
        repeated.push_back({static_cast<int64_t>(1000 + (i % 3) * 50), std::span(copies).subspan(i * 7, 7)});
    for (const bool ahead : {false, true}) {
        std::fill(copies.begin(), copies.end(), 0);
        if (ahead) source->submit(repeated, "repeated")->wait();
        else source->read(repeated, "repeated");
        for (const ByteRange& r : repeated)
            EXPECT_TRUE(std::equal(r.out.begin(), r.out.end(), noise.begin() + r.seek)) << ahead << " at " << r.seek;
    }

    const ByteRange outside[] = {{static_cast<int64_t>(noise.size()), last}};
    try {
        source->read(outside, "past the end");
        ADD_FAILURE() << "no error";
    } catch (const rootio::RootError& e) {
        EXPECT_THAT(e.what(), HasSubstr(server.url("noise.bin") + ": past the end: bytes "));
    }
}

TEST_F(RemoteFile, TreedumpReadsAUrlAsItReadsAPath)
{
    const std::string treedump = std::string(SKIM_BUILD_DIR) + "/treedump";
    auto dump = [&](const std::string& name, const std::string& arguments) {
        std::string out;
        FILE* p = ::popen(("'" + treedump + "' '" + name + "' " + arguments + " 2>&1").c_str(), "r");
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        EXPECT_EQ(::pclose(p), 0) << out;
        return out;
    };
    REQUIRE_TESTDATA(tree, "uproot-HZZ-zlib.root");
    EXPECT_EQ(dump(server.publish(tree.string(), "data/hzz.root"), "events --json --count 50"),
              dump(tree.string(), "events --json --count 50"));
    // Every RNTuple sample, its listing and its entries: pages that ROOT stored once for
    // several columns are read once.
    REQUIRE_TESTDATA(samples, "rntuple");
    for (const auto& entry : std::filesystem::directory_iterator(samples)) {
        const std::string local = entry.path().string(), name = entry.path().filename().string();
        if (!name.ends_with(".root")) continue;
        SCOPED_TRACE(name);
        const std::string listing = dump(local, ""), ntuple = listing.substr(0, listing.find(' '));
        const std::string url = server.publish(local, "rntuple/" + name);
        EXPECT_EQ(dump(url, ntuple), dump(local, ntuple));
        EXPECT_EQ(dump(url, ntuple + " --json"), dump(local, ntuple + " --json"));
    }
}

}  // namespace
