// Writing a wide tree by raw entry bytes, as the skim does: ~1,000 branches (flags and
// floats, a few collections of arrays), whole files written and closed per iteration.
// The same entries go into an RNTuple too, laid out as treeconvert lays out a tree (the
// arrays of a count one untyped collection, projected RVec and cardinality fields).
// Reports entries/s, output MB/s (bytes on disk) and input MB/s (entry bytes given), and
// the allocations per entry once warm (replaced operator new), which should be 0.
//
//   bench_write [--benchmark_filter=...]      writes into the temporary folder
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "rootio/file/file_writer.h"
#include "rootio/ntuple/ntuple_writer.h"
#include "rootio/tree/tree_writer.h"
#include "../tests/counting_new.h"


namespace {

using rootio::LeafType;

constexpr int kFlags = 560, kFloats = 340, kCollections = 10, kArraysPerCollection = 9;
constexpr int kDistinctEntries = 1024;  // pre-built, so that the benchmark measures writing only

struct Column {
    std::string name;
    LeafType type;
    int count = -1;  // index of the count column
};

// Column layout and the entry bytes of kDistinctEntries entries, built once.
struct WideTree {
    std::vector<Column> columns;
    // bytes[entry][column]: big-endian entry bytes
    std::vector<std::vector<std::vector<uint8_t>>> bytes;
    size_t bytes_per_entry = 0;  // average

    WideTree()
    {
        for (int i = 0; i < kFlags; ++i) columns.push_back({"HLT_path" + std::to_string(i), LeafType::Bool});
        for (int i = 0; i < kFloats; ++i) columns.push_back({"var" + std::to_string(i), LeafType::Float});
        for (int c = 0; c < kCollections; ++c) {
            const int count = static_cast<int>(columns.size());
            columns.push_back({"nObj" + std::to_string(c), LeafType::UInt32});
            for (int k = 0; k < kArraysPerCollection; ++k)
                columns.push_back({"Obj" + std::to_string(c) + "_v" + std::to_string(k),
                                   k == 0 ? LeafType::Int32 : LeafType::Float, count});
        }

        std::mt19937_64 rng(2024);
        std::exponential_distribution<float> pt(1.0f / 40.0f);
        std::normal_distribution<float> eta(0.0f, 1.5f);
        std::poisson_distribution<uint32_t> multiplicity(3.0);
        bytes.resize(kDistinctEntries);
        size_t total = 0;
        for (auto& entry : bytes) {
            entry.resize(columns.size());
            std::vector<uint32_t> counts(columns.size(), 0);
            for (size_t i = 0; i < columns.size(); ++i) {
                const Column& col = columns[i];
                const size_t n = col.count < 0 ? 1 : counts[static_cast<size_t>(col.count)];
                auto& out = entry[i];
                out.resize(n * static_cast<size_t>(rootio::leaf_type_size(col.type)));
                for (size_t k = 0; k < n; ++k) {
                    switch (col.type) {
                    case LeafType::Bool: out[k] = (rng() % 16) == 0; break;
                    case LeafType::UInt32:
                        counts[i] = std::min<uint32_t>(multiplicity(rng), 12);
                        rootio::store_be<uint32_t>(out.data(), counts[i]);
                        break;
                    case LeafType::Int32: rootio::store_be<int32_t>(out.data() + 4 * k, static_cast<int32_t>(rng() % 64)); break;
                    default: {
                        // Physics-like floats: a few significant bits (as stored after rounding).
                        float v = (i % 2 ? pt(rng) : eta(rng));
                        v = std::ldexp(std::round(std::ldexp(v, 10)), -10);
                        rootio::store_be<float>(out.data() + 4 * k, v);
                    }
                    }
                }
                total += out.size();
            }
        }
        bytes_per_entry = total / kDistinctEntries;
    }
};

const WideTree& wide_tree()
{
    static const WideTree tree;
    return tree;
}

// The figures both writers report: entries and bytes written, input rate, compression
// ratio, and allocations per entry once warm.
void report_write(benchmark::State& state, int64_t written, size_t bytes_per_entry, int64_t output_bytes,
                  long warm_allocations, long warm_entries)
{
    state.SetItemsProcessed(written);
    state.SetBytesProcessed(output_bytes);
    const double input_bytes = static_cast<double>(written) * static_cast<double>(bytes_per_entry);
    state.counters["input_MB/s"] = benchmark::Counter(input_bytes / 1e6, benchmark::Counter::kIsRate);
    state.counters["ratio"] = input_bytes / static_cast<double>(output_bytes);
    state.counters["allocs/entry"] = static_cast<double>(warm_allocations) / static_cast<double>(warm_entries);
}

void BM_WriteWideTree(benchmark::State& state)
{
    const int setting = static_cast<int>(state.range(0));
    const int64_t entries = state.range(1);
    const int64_t cluster = state.range(2);  // 0: baskets flush when full, as in the skim
    const WideTree& wide = wide_tree();
    const std::string path =
        (std::filesystem::temp_directory_path() / ("bench_write_" + std::to_string(::getpid()) + ".root")).string();

    int64_t written = 0, output_bytes = 0;
    long warm_allocations = 0, warm_entries = 0;
    for (auto _ : state) {
        rootio::FileWriter file(path, setting);
        rootio::TreeWriter tree(file, "Events", "");
        tree.set_auto_flush(cluster);
        for (const Column& col : wide.columns) {
            if (col.count < 0) tree.add_branch(col.name, col.type);
            else tree.add_branch(col.name, col.type, wide.columns[static_cast<size_t>(col.count)].name);
        }
        long before = 0;
        for (int64_t e = 0; e < entries; ++e) {
            if (e == entries / 2) before = g_allocations;  // the first half warms every buffer
            const auto& entry = wide.bytes[static_cast<size_t>(e % kDistinctEntries)];
            for (size_t i = 0; i < entry.size(); ++i) tree.set_entry_bytes(static_cast<int>(i), entry[i]);
            tree.fill();
        }
        warm_allocations += g_allocations - before;
        warm_entries += entries - entries / 2;
        tree.write();
        file.close();
        written += entries;
        output_bytes += file.end();
    }
    std::filesystem::remove(path);
    report_write(state, written, wide.bytes_per_entry, output_bytes, warm_allocations, warm_entries);
    state.counters["branches"] = static_cast<double>(wide.columns.size());
}

// The same entries and basket boundaries for every setting, so that ratios compare; the
// last run shows what small clusters (tiny baskets of flags) cost.
BENCHMARK(BM_WriteWideTree)
    ->ArgNames({"setting", "entries", "cluster"})
    ->Args({0, 10000, 0})
    ->Args({101, 10000, 0})
    ->Args({209, 10000, 0})
    ->Args({404, 10000, 0})
    ->Args({505, 10000, 0})
    ->Args({101, 10000, 1000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_WriteWideNTuple(benchmark::State& state)
{
    using rootio::ntuple::NTupleWriter;
    const int setting = static_cast<int>(state.range(0));
    const int64_t entries = state.range(1);
    const WideTree& wide = wide_tree();
    const std::string path =
        (std::filesystem::temp_directory_path() / ("bench_write_nt_" + std::to_string(::getpid()) + ".root")).string();

    int64_t written = 0, output_bytes = 0;
    long warm_allocations = 0, warm_entries = 0;
    for (auto _ : state) {
        rootio::FileWriter file(path, setting);
        NTupleWriter nt(file, "Events");
        // Per column: its slot, or (for a count) its collection.
        std::vector<NTupleWriter::Slot> slots(wide.columns.size());
        std::vector<NTupleWriter::Collection> collections(wide.columns.size());
        for (size_t i = 0; i < wide.columns.size(); ++i) {
            const Column& col = wide.columns[i];
            const bool is_count = i + 1 < wide.columns.size() && wide.columns[i + 1].count == static_cast<int>(i);
            if (is_count) collections[i] = nt.add_collection("_collection" + std::to_string(i));
            else if (col.count < 0) slots[i] = nt.add_fundamental(col.name, col.type);
            else slots[i] = nt.add_member(collections[static_cast<size_t>(col.count)], col.name, col.type);
        }
        for (size_t i = 0; i < wide.columns.size(); ++i) {
            const Column& col = wide.columns[i];
            if (collections[i].slot >= 0) nt.add_cardinality(col.name, collections[i]);
            if (col.count >= 0) nt.add_projected_rvec(col.name, collections[static_cast<size_t>(col.count)], slots[i]);
        }
        long before = 0;
        for (int64_t e = 0; e < entries; ++e) {
            if (e == entries / 2) before = g_allocations;
            const auto& entry = wide.bytes[static_cast<size_t>(e % kDistinctEntries)];
            for (size_t i = 0; i < entry.size(); ++i) {
                if (collections[i].slot >= 0) nt.set_size(collections[i], rootio::load_be<uint32_t>(entry[i].data()));
                else nt.set_values_be(slots[i], entry[i]);
            }
            nt.fill();
        }
        warm_allocations += g_allocations - before;
        warm_entries += entries - entries / 2;
        nt.write();
        file.close();
        written += entries;
        output_bytes += file.end();
    }
    std::filesystem::remove(path);
    report_write(state, written, wide.bytes_per_entry, output_bytes, warm_allocations, warm_entries);
}

BENCHMARK(BM_WriteWideNTuple)
    ->ArgNames({"setting", "entries"})
    ->Args({0, 10000})
    ->Args({101, 10000})
    ->Args({209, 10000})
    ->Args({404, 10000})
    ->Args({505, 10000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
