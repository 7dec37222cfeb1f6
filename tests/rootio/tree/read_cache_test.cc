// The read cache: what it reads ahead, in how many reads, and that a basket decoded ahead
// gives the same bytes, and the same error at the same entry, as one read without it.
#include "rootio/tree/read_cache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "rootio/tree/branch_reader.h"
#include "rootio/file/file_writer.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"
#include "rootio/tree/tree_writer.h"

namespace {

using rootio::BranchReader;
using rootio::LeafType;
using rootio::ReadCache;
using rootio::RootError;

constexpr int64_t kEntries = 1000;
constexpr int64_t kCluster = 100;
constexpr int kLearnEntries = 10;
constexpr int64_t kBigCache = int64_t{128} << 20;
const std::vector<std::string> kLoopBranches = {"n", "x", "flag"};  // read at every entry
constexpr int kKeptBranches = 8;                                    // "k0".. read for some

// One cluster per kCluster entries; every branch flushes one basket per cluster.
std::filesystem::path write_tree()
{
    static int counter = 0;
    const auto path = std::filesystem::temp_directory_path() / ("read-cache-" + std::to_string(::getpid()) +
                                                                "-" + std::to_string(counter++) + ".root");
    rootio::FileWriter file(path.string(), 101);
    rootio::TreeWriter tree(file, "t", "t");
    tree.set_auto_flush(kCluster);
    const int n = tree.add_branch("n", LeafType::UInt32);
    const int x = tree.add_branch("x", LeafType::Float, "n");
    const int flag = tree.add_branch("flag", LeafType::Bool);
    std::vector<int> kept;
    for (int k = 0; k < kKeptBranches; ++k)
        kept.push_back(tree.add_branch("k" + std::to_string(k), LeafType::Int64));
    std::vector<float> xs;
    for (int64_t e = 0; e < kEntries; ++e) {
        const auto count = static_cast<uint32_t>(e % 5);
        tree.set_value(n, count);
        xs.assign(count, static_cast<float>(e) * 0.25f);
        tree.set_values<float>(x, xs);
        tree.set_value(flag, static_cast<uint8_t>(e % 3 == 0));
        for (int k = 0; k < kKeptBranches; ++k) tree.set_value(kept[static_cast<size_t>(k)], e * 1000 + k);
        tree.fill();
    }
    tree.write();
    file.close();
    return path;
}

std::string copy(std::span<const uint8_t> bytes)
{
    return {bytes.begin(), bytes.end()};
}

class ReadCacheTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        path_ = write_tree();
        open();
    }
    void TearDown() override
    {
        readers_.clear();
        cache_.reset();
        std::filesystem::remove(path_);
    }
    void open(int64_t cache_size = kBigCache)
    {
        readers_.clear();
        cache_.reset();
        file_ = rootio::RootFile::open(path_.string());
        tree_ = rootio::read_tree(*file_, "t");
        cache_ = std::make_unique<ReadCache>(*file_, tree_, cache_size, kLearnEntries, GetParam());
    }
    BranchReader& reader(const std::string& name)
    {
        readers_.push_back(std::make_unique<BranchReader>(*file_, tree_, tree_.find_branch(name)));
        readers_.back()->use_cache(cache_.get());
        return *readers_.back();
    }
    // What a reader without a cache gives for this entry (or the error it throws).
    std::string uncached(const std::string& name, int64_t entry)
    {
        return uncached(name, entry, entry + 1).front();
    }
    std::vector<std::string> uncached(const std::string& name, int64_t first, int64_t end)
    {
        const auto file = rootio::RootFile::open(path_.string());
        const auto tree = rootio::read_tree(*file, "t");
        BranchReader r(*file, tree, tree.find_branch(name));
        std::vector<std::string> out;
        for (int64_t e = first; e < end; ++e) {
            try {
                const auto bytes = r.entry_bytes(e);
                out.emplace_back(bytes.begin(), bytes.end());
            } catch (const RootError& error) {
                out.emplace_back(error.what());
            }
        }
        return out;
    }
    // The loop: every entry of the loop branches, as a skim's selection reads them.
    void read_loop_entry(const std::vector<BranchReader*>& loop, int64_t entry)
    {
        for (BranchReader* r : loop) {
            if (cache_->learning()) cache_->learn(r->branch_index(), entry);
            r->entry_bytes(entry);
        }
    }
    std::vector<BranchReader*> loop_readers()
    {
        std::vector<BranchReader*> loop;
        for (const auto& name : kLoopBranches) loop.push_back(&reader(name));
        return loop;
    }
    void damage_basket(const std::string& branch, int basket)
    {
        const auto& b = tree_.branches.at(static_cast<size_t>(tree_.find_branch(branch)));
        const int64_t end =
            b.basket_seek.at(static_cast<size_t>(basket)) + b.basket_bytes.at(static_cast<size_t>(basket));
        std::fstream f(path_, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(end - 4);
        f.write("\x13\x37\x13\x37", 4);  // the zlib checksum
    }

    std::filesystem::path path_;
    std::unique_ptr<rootio::RootFile> file_;
    rootio::TreeInfo tree_;
    std::unique_ptr<ReadCache> cache_;
    std::vector<std::unique_ptr<BranchReader>> readers_;
};

TEST_P(ReadCacheTest, LearnedBranchesAreFetchedOneBatchPerClusterAndReadTheSame)
{
    std::vector<std::vector<std::string>> expected;
    for (const auto& name : kLoopBranches) expected.push_back(uncached(name, 0, kEntries));
    const auto loop = loop_readers();
    for (int64_t e = 0; e < kLearnEntries; ++e) read_loop_entry(loop, e);
    ASSERT_EQ(cache_->batches(), 0u) << "nothing is read ahead while learning";
    const uint64_t requests_before = file_->source().requests();
    for (int64_t e = kLearnEntries; e < kEntries; ++e) {
        read_loop_entry(loop, e);
        // Learning ends at entry 10 (fetching cluster 1), then entering cluster c fetches c + 1.
        const auto cluster = static_cast<uint64_t>(e / kCluster);
        ASSERT_EQ(cache_->batches(), std::min<uint64_t>(cluster + 1, kEntries / kCluster - 1))
            << "entry " << e;
        for (size_t i = 0; i < loop.size(); ++i)
            ASSERT_EQ(copy(loop[i]->entry_bytes(e)), expected[i][static_cast<size_t>(e)])
                << kLoopBranches[i] << " entry " << e;
    }
    EXPECT_EQ(cache_->baskets_fetched(), (kEntries / kCluster - 1) * kLoopBranches.size());
    EXPECT_EQ(file_->source().requests() - requests_before, cache_->baskets_fetched())
        << "after learning, every basket the loop read came from the cache's batches";
}

TEST_P(ReadCacheTest, AWholeEntryReadFetchesTheBasketsHoldingItInOneBatch)
{
    const auto loop = loop_readers();
    std::vector<BranchReader*> all = loop;
    for (int k = 0; k < kKeptBranches; ++k) all.push_back(&reader("k" + std::to_string(k)));
    for (int64_t e = 0; e <= 550; ++e) read_loop_entry(loop, e);
    const uint64_t batches = cache_->batches();
    const uint64_t fetched = cache_->baskets_fetched();
    const uint64_t requests = file_->source().requests();
    cache_->prepare_entry(all, 550);
    EXPECT_EQ(cache_->batches(), batches + 1);
    EXPECT_EQ(cache_->baskets_fetched(), fetched + 2 * kKeptBranches)
        << "the kept branches' baskets of cluster 5 and of cluster 6, which the loop's are read up to";
    for (int k = 0; k < kKeptBranches; ++k) {
        const std::string name = "k" + std::to_string(k);
        EXPECT_EQ(copy(all[loop.size() + static_cast<size_t>(k)]->entry_bytes(550)), uncached(name, 550))
            << name;
    }
    EXPECT_EQ(file_->source().requests(), requests + 2 * kKeptBranches)
        << "the readers took their baskets from the batch";
    cache_->prepare_entry(all, 551);
    EXPECT_EQ(cache_->batches(), batches + 1) << "the loaded baskets hold the next entry too";
}

TEST_P(ReadCacheTest, ABasketDecodedAheadFailsOnlyWhenReadAndAsWithoutTheCache)
{
    damage_basket("x", 5);
    open();
    const std::string expected = uncached("x", 500);
    ASSERT_NE(expected.find("branch x of tree t"), std::string::npos) << expected;
    const auto loop = loop_readers();
    // Entering cluster 4 reads cluster 5 ahead (and decodes it, with threads): no error yet.
    for (int64_t e = 0; e < 500; ++e) ASSERT_NO_THROW(read_loop_entry(loop, e)) << "entry " << e;
    EXPECT_GE(cache_->baskets_fetched(), 5u * kLoopBranches.size());
    try {
        read_loop_entry(loop, 500);
        FAIL() << "the damaged basket was read without an error";
    } catch (const RootError& e) {
        EXPECT_EQ(std::string(e.what()), expected);
    }
}

TEST_P(ReadCacheTest, TheSizeBoundsWhatIsReadAhead)
{
    open(1);
    const auto loop = loop_readers();
    for (int64_t e = 0; e < kEntries; ++e) read_loop_entry(loop, e);
    EXPECT_EQ(cache_->batches(), 0u);
    EXPECT_EQ(copy(loop[1]->entry_bytes(999)).size(), 4u * (999 % 5));
}

INSTANTIATE_TEST_SUITE_P(Threads, ReadCacheTest, ::testing::Values(1, 2, 4),
                         [](const auto& p) { return std::to_string(p.param) + "threads"; });

}  // namespace
