// Read throughput of the engine: every entry of a few branches, and of every readable
// branch, of the reference files (one per codec) and of any files named on the command line
// (tree "Events"). Counters: entries/s, and MB/s of entry bytes produced (decompressed).
//   bench_read [benchmark flags] [FILE...]
// The reference folder is $SKIM_TESTDATA, else ../shared/testdata beside the source tree.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "rootio/tree/branch_reader.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"

namespace {

struct Subject {
    std::string label;
    std::string path;
    std::string tree;
    std::vector<std::string> few;  // a typical analysis subset (names missing from the tree are skipped)
};

std::filesystem::path reference_folder()
{
    if (const char* env = std::getenv("SKIM_TESTDATA"); env && *env) return env;
    return std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "shared" / "testdata";
}

// Reads entries [0, entries) of the given branches with fresh readers, as a pass over a
// file does; returns the entry bytes produced.
int64_t read_pass(const rootio::RootFile& file, const rootio::TreeInfo& tree, const std::vector<int>& branches)
{
    int64_t bytes = 0;
    std::vector<rootio::BranchReader> readers;
    readers.reserve(branches.size());
    for (int b : branches) readers.emplace_back(file, tree, b);
    for (int64_t e = 0; e < tree.entries; ++e)
        for (rootio::BranchReader& r : readers) bytes += static_cast<int64_t>(r.entry_bytes(e).size());
    return bytes;
}

void bench_pass(benchmark::State& state, const Subject& s, bool all)
{
    const auto file = rootio::RootFile::open(s.path);
    const rootio::TreeInfo tree = rootio::read_tree(*file, s.tree);
    std::vector<int> branches;
    if (all) {
        for (size_t i = 0; i < tree.branches.size(); ++i)
            if (tree.branches[i].is_supported()) branches.push_back(static_cast<int>(i));
    } else {
        for (const std::string& name : s.few)
            if (int i = tree.find_branch(name); i >= 0 && tree.branches[static_cast<size_t>(i)].is_supported())
                branches.push_back(i);
    }
    int64_t bytes = 0;
    for (auto _ : state) bytes += read_pass(*file, tree, branches);
    state.SetItemsProcessed(state.iterations() * tree.entries);
    state.SetBytesProcessed(bytes);
    state.counters["branches"] = static_cast<double>(branches.size());
}

void register_subject(const Subject& s)
{
    if (!std::filesystem::exists(s.path)) {
        std::cerr << "bench_read: skipping " << s.path << " (not found)\n";
        return;
    }
    benchmark::RegisterBenchmark(("read_few/" + s.label).c_str(), [s](benchmark::State& st) { bench_pass(st, s, false); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("read_all/" + s.label).c_str(), [s](benchmark::State& st) { bench_pass(st, s, true); })
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const std::filesystem::path data = reference_folder();
    const std::vector<std::string> hzz = {"NMuon", "Muon_Px", "Muon_Py", "Muon_Pz", "Muon_E"};
    const std::vector<std::string> nano = {"nJet", "Jet_pt", "Jet_eta", "nMuon", "Muon_pt", "HLT_IsoMu24"};
    for (const char* codec : {"uncompressed", "zlib", "lzma", "lz4", "zstd"})
        register_subject({std::string("hzz-") + codec, (data / ("uproot-HZZ-" + std::string(codec) + ".root")).string(),
                          "events", hzz});
    register_subject({"ttbar-zlib", (data / "collider-sample-ttbar.root").string(), "Events", nano});
    for (int i = 1; i < argc; ++i)
        register_subject({std::filesystem::path(argv[i]).filename().string(), argv[i], "Events", nano});
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
