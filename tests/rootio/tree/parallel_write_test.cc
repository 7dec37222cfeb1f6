// Baskets compressed on worker threads: the file is the same bytes at every thread count,
// the pipeline hands baskets back in the order they were queued and holds only a few, and
// a basket that fails on a worker fails the write as it does on one thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "rootio/file/basket_pipeline.h"
#include "rootio/format/error.h"
#include "rootio/file/file_writer.h"
#include "rootio/handmade_file.h"
#include "rootio/tree/tree_writer.h"

namespace {

using rootio::LeafType;
namespace fs = std::filesystem;

constexpr int kThreadCounts[] = {1, 2, 3, 8};

// Fixed time stamps and UUID, so that equal content is equal bytes.
class FixedStamps : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1); }
    void TearDown() override { ::unsetenv("SOURCE_DATE_EPOCH"); }
    handmade::TempDir dir;
};

// Two trees of the same file, filled in turn with different settings: their baskets
// interleave in the file, some small and many, some large, arrays of varying length.
void write_two_trees(const std::string& path, int threads, int64_t entries)
{
    rootio::FileWriter file(path, 101);
    file.set_compression_threads(threads);
    rootio::TreeWriter events(file, "Events", "", 209);
    rootio::TreeWriter runs(file, "Runs", "", 505);
    events.set_auto_flush(700);
    const int n = events.add_branch("nHit", LeafType::Int32);
    const int x = events.add_branch("Hit_x", LeafType::Float, "nHit");
    rootio::BranchInfo small;
    small.name = small.leaf.name = small.leaf.title = "flag";
    small.title = "flag/O";
    small.leaf.type = LeafType::Bool;
    small.basket_size = 300;
    const int flag = events.add_branch(small);
    const int id = runs.add_branch("id", LeafType::Int64);
    std::vector<float> hits;
    for (int64_t e = 0; e < entries; ++e) {
        hits.resize(static_cast<size_t>(e * 7 % 13));
        for (size_t k = 0; k < hits.size(); ++k)
            hits[k] = static_cast<float>(e % 101) * 0.25f + static_cast<float>(k);
        events.set_value<int32_t>(n, static_cast<int32_t>(hits.size()));
        events.set_values<float>(x, hits);
        events.set_value<bool>(flag, e % 3 == 0);
        events.fill();
        runs.set_value<int64_t>(id, e * 1000003 % 7919);
        runs.fill();
    }
    events.write();
    runs.write();
    file.close();
}

TEST_F(FixedStamps, FileIsTheSameBytesAtEveryThreadCount)
{
    // One path for all: the file records its own name.
    const fs::path path = dir / "t.root";
    std::vector<uint8_t> sequential;
    for (int threads : kThreadCounts) {
        write_two_trees(path.string(), threads, 5000);
        const auto bytes = handmade::read(path);
        ASSERT_GT(bytes.size(), 10000u);
        if (threads == 1)
            sequential = bytes;
        else
            EXPECT_TRUE(bytes == sequential)
                << threads << " threads: the file differs from the sequential one";
    }
}

// Where the write of a tree whose basket fails to compress stops, with what, and what a
// later write of the same file says.
struct Failure {
    std::string message;
    int64_t failed_at_entry = -1;  // entries filled when it was thrown; -1: at write()
    std::string later;
};

Failure write_with_failing_basket(const std::string& path, int threads)
{
    rootio::FileWriter file(path, 101);
    file.set_compression_threads(threads);
    rootio::TreeWriter tree(file, "Events", "");
    tree.set_auto_flush(500);
    const int a = tree.add_branch("a", LeafType::Int32);
    const int b = tree.add_branch("b", LeafType::Double);
    file.fail_compression_for_testing("b", "codec gave up on b");
    Failure failure;
    bool filling = true;
    try {
        for (int64_t e = 0; e < 3000; ++e) {
            tree.set_value<int32_t>(a, static_cast<int32_t>(e));
            tree.set_value<double>(b, static_cast<double>(e) / 3);
            tree.fill();
        }
        filling = false;
        tree.write();
        file.close();
        failure.message = "no failure";
    } catch (const rootio::RootError& err) {
        failure.message = err.what();
        if (filling) failure.failed_at_entry = tree.entries();
    }
    try {
        file.close();
    } catch (const rootio::RootError& err) {
        failure.later = err.what();
    }
    return failure;
}

TEST_F(FixedStamps, BasketFailingOnAWorkerFailsTheWriteAsOnOneThread)
{
    for (int threads : kThreadCounts) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const fs::path path = dir / "f.root";
        const Failure failure = write_with_failing_basket(path.string(), threads);
        EXPECT_EQ(failure.message, "codec gave up on b");
        // On one thread the basket is compressed when its cluster ends; on more, the error
        // surfaces at the next call that writes it, never before.
        if (threads == 1) {
            EXPECT_EQ(failure.failed_at_entry, 500);
        } else if (failure.failed_at_entry >= 0) {
            EXPECT_GE(failure.failed_at_entry, 500);
        }
        EXPECT_EQ(failure.later, path.string() + ": file was discarded after an earlier failure");
        EXPECT_FALSE(fs::exists(path)) << "a file missing its baskets was left behind";
    }
}

// What the caller hands in comes back in the same order, compressed as one Compressor
// compresses it, and the pipeline fills up after a few baskets per thread.
TEST(BasketPipeline, HandsBasketsBackInOrderAndHoldsFew)
{
    rootio::BasketPipeline line(4);
    rootio::Compressor reference(101);
    std::vector<std::vector<uint8_t>> payloads;
    for (int i = 0; i < 200; ++i) {
        std::vector<uint8_t> p(3000 + static_cast<size_t>(i) * 37);
        for (size_t k = 0; k < p.size(); ++k)
            p[k] = static_cast<uint8_t>((k * k + static_cast<size_t>(i)) % 7);
        payloads.push_back(std::move(p));
    }
    size_t queued = 0, taken = 0, most_held = 0;
    while (taken < payloads.size()) {
        if (queued < payloads.size() && !line.full()) {
            auto& b = line.next();
            b.tag = static_cast<int>(queued);
            b.compression = 101;
            b.payload = payloads[queued++];
            line.submit();
            most_held = std::max(most_held, queued - taken);
            continue;
        }
        const auto* b = line.oldest(true);
        ASSERT_EQ(b->tag, static_cast<int>(taken));
        ASSERT_FALSE(b->error);
        std::vector<uint8_t> want;
        ASSERT_TRUE(reference.compress(payloads[taken], want));
        ASSERT_TRUE(b->compressed);
        ASSERT_TRUE(std::vector<uint8_t>(b->stored().begin(), b->stored().end()) == want)
            << "basket " << taken;
        line.pop();
        ++taken;
    }
    EXPECT_TRUE(line.empty());
    EXPECT_GE(most_held, 4u);
    EXPECT_LE(most_held, 16u);
}

}  // namespace
