// RNTuple read throughput: every column of every cluster through the bulk path (pages
// fetched per cluster in one read, decompressed and decoded), and every entry of every
// readable top-level field through the per-entry values. Counters: MB/s of decoded column
// bytes, entries/s.
//   bench_ntuple_read [benchmark flags] [FILE NAME]...
// The reference folder is $SKIM_TESTDATA, else ../shared/testdata beside the source tree.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "rootio/file/root_file.h"
#include "rootio/ntuple/cluster_cache.h"
#include "rootio/ntuple/field_values.h"
#include "rootio/ntuple/ntuple_reader.h"

namespace {

using namespace rootio::ntuple;

std::filesystem::path reference_folder()
{
    if (const char* env = std::getenv("SKIM_TESTDATA"); env && *env) return env;
    return std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "shared" / "testdata";
}

struct Discard final : ValueSink {
    void null_value() override {}
    void boolean(bool) override {}
    void signed_integer(int64_t) override {}
    void unsigned_integer(uint64_t) override {}
    void real32(float) override {}
    void real64(double) override {}
    void string(std::string_view) override {}
    void begin_array() override {}
    void end_array() override {}
    void begin_record() override {}
    void key(std::string_view) override {}
    void end_record() override {}
};

void bench_bulk(benchmark::State& state, const std::string& path, const std::string& name)
{
    const auto file = rootio::RootFile::open(path);
    const auto reader = NtupleReader::open(*file, name);
    const Descriptor& d = reader->descriptor();
    std::vector<uint32_t> columns(d.columns.size());
    for (uint32_t c = 0; c < columns.size(); ++c) columns[c] = c;
    ClusterCache cache(*reader);
    int64_t bytes = 0;
    for (auto _ : state) {
        for (size_t c = 0; c < d.clusters.size(); ++c) {
            cache.load(c, columns);
            for (uint32_t col : columns)
                if (const ColumnData* data = cache.find(col)) bytes += static_cast<int64_t>(data->values.size());
        }
    }
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsRate);
}

void bench_entries(benchmark::State& state, const std::string& path, const std::string& name)
{
    const auto file = rootio::RootFile::open(path);
    const auto reader = NtupleReader::open(*file, name);
    const Descriptor& d = reader->descriptor();
    std::vector<uint32_t> fields;
    for (uint32_t id : d.top_level)
        if (EntryReader::readable(d, id)) fields.push_back(id);
    int64_t entries = 0;
    Discard sink;
    for (auto _ : state) {
        EntryReader r(*reader, fields);
        for (uint64_t e = 0; e < d.entries; ++e)
            for (size_t k = 0; k < fields.size(); ++k) r.read(e, k, sink);
        entries += static_cast<int64_t>(d.entries);
    }
    state.counters["entries/s"] = benchmark::Counter(static_cast<double>(entries), benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::vector<std::pair<std::string, std::string>> subjects;
    for (int i = 1; i + 1 < argc; i += 2) subjects.emplace_back(argv[i], argv[i + 1]);
    if (subjects.empty()) {
        const auto folder = reference_folder() / "rntuple";
        subjects = {{(folder / "cmsopendata2015_ttbar_19980_NANOAOD_RNTupleImporter_rntuple_v1-0-0-1.root").string(), "Events"},
                    {(folder / "ntpl001_staff_rntuple_v1-0-0-0.root").string(), "Staff"}};
    }
    for (const auto& [path, name] : subjects) {
        if (!std::filesystem::exists(path)) continue;
        const std::string label = std::filesystem::path(path).stem().string().substr(0, 24);
        benchmark::RegisterBenchmark(("bulk/" + label).c_str(), bench_bulk, path, name)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("entries/" + label).c_str(), bench_entries, path, name)->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
