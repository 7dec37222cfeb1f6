// The whole skim on a generated input, against the work it cannot avoid: decompressing the
// baskets of the branches the selection reads (every entry) and of the kept branches (only
// the baskets holding a selected entry), and compressing the output's baskets. Both are
// measured in the same run with the engine alone; the skim runs as a child process, so its
// peak resident memory is its own.
//
//   bench_skim [--events N] [--compression SETTING] [benchmark flags]
//
// The input is made once by make-example into BUILD/bench-data/ and reused.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <ctime>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "rootio/branch_reader.h"
#include "rootio/bytes.h"
#include "rootio/compression.h"
#include "rootio/error.h"
#include "rootio/root_file.h"
#include "rootio/tree_reader.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kInputName = "example_RunIISummer20UL18.root";

// What the selection reads, for every entry (the p4 accessors need pt, eta, phi and mass).
constexpr const char* kSelectionBranches[] = {
    "nElectron", "Electron_pt", "Electron_eta", "Electron_phi", "Electron_mass", "Electron_cutBased",
    "Electron_deltaEtaSC", "Electron_dz", "Electron_dxy", "nMuon", "Muon_pt", "Muon_eta", "Muon_phi", "Muon_mass",
    "Muon_tightId", "Muon_pfRelIso04_all", "nJet", "Jet_pt", "Jet_eta", "Jet_phi", "Jet_mass", "nFatJet",
    "FatJet_pt", "FatJet_eta", "FatJet_phi", "FatJet_mass", "FatJet_msoftdrop", "FatJet_particleNetMD_Xbb",
    "FatJet_particleNetMD_QCD", "MET_pt",
};

struct Config {
    int64_t events = 200000;
    int compression = 209;
};

struct Paths {
    fs::path skim, make_example, run_dir, input;
};

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// On a shared machine wall time carries other people's load; CPU time is reported beside it.
double cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); }

// The build folder holds skim and make-example; this program sits in it or one below.
fs::path find_build_dir()
{
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    for (fs::path dir = exe.parent_path(); !dir.empty(); dir = dir.parent_path()) {
        if (fs::exists(dir / "skim") && fs::exists(dir / "make-example")) return dir;
        if (dir == dir.root_path()) break;
    }
    throw std::runtime_error("no skim and make-example beside or above " + exe.string() +
                             " (build the targets skim and make-example)");
}

struct ChildResult {
    double seconds = 0;
    double cpu_seconds = 0;
    long max_rss_kib = 0;
};

// Runs `argv` in `cwd` with standard output discarded; its own resource usage from wait4.
ChildResult run_child(const std::vector<std::string>& argv, const fs::path& cwd)
{
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, 1) < 0 || chdir(cwd.c_str()) != 0) _exit(126);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
    ChildResult r{seconds_since(start), seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(argv[0] + " failed (status " + std::to_string(status) + ")");
    return r;
}

Paths prepare(const Config& config)
{
    const fs::path build = find_build_dir();
    Paths p{build / "skim", build / "make-example",
            build / "bench-data" /
                ("skim-" + std::to_string(config.events) + "ev-c" + std::to_string(config.compression)),
            {}};
    p.input = p.run_dir / kInputName;
    if (!fs::exists(p.input)) {
        fs::create_directories(p.run_dir);
        const fs::path partial = p.input.string() + ".partial";
        std::fprintf(stderr, "bench_skim: making %s (%lld events, compression %d) ...\n", p.input.c_str(),
                     static_cast<long long>(config.events), config.compression);
        const ChildResult made = run_child({p.make_example.string(), "--events", std::to_string(config.events),
                                            "--compression", std::to_string(config.compression), "--output",
                                            partial.string()},
                                           p.run_dir);
        fs::rename(partial, p.input);  // only a finished file is ever reused
        std::fprintf(stderr, "bench_skim: made in %.1f s\n", made.seconds);
    }
    return p;
}

// Input entries the skim copied, found through the event numbers (unique in the input).
std::vector<int64_t> selected_entries(const rootio::RootFile& input, const rootio::TreeInfo& input_tree,
                                      const rootio::RootFile& output, const rootio::TreeInfo& output_tree)
{
    const auto event_numbers = [](const rootio::RootFile& file, const rootio::TreeInfo& tree) {
        const int index = tree.find_branch("event");
        if (index < 0) throw std::runtime_error(file.path() + ": no branch event");
        rootio::BranchReader reader(file, tree, index);
        std::vector<uint64_t> events(static_cast<size_t>(tree.entries));
        for (int64_t e = 0; e < tree.entries; ++e) events[e] = rootio::load_be<uint64_t>(reader.entry_bytes(e).data());
        return events;
    };
    const std::vector<uint64_t> all = event_numbers(input, input_tree);
    std::unordered_map<uint64_t, int64_t> entry_of;
    for (size_t e = 0; e < all.size(); ++e) entry_of.emplace(all[e], static_cast<int64_t>(e));
    std::vector<int64_t> selected;
    for (uint64_t event : event_numbers(output, output_tree)) selected.push_back(entry_of.at(event));
    return selected;
}

struct Bound {
    double read_seconds = 0;      // decompressing the baskets the skim must read
    double write_seconds = 0;     // compressing the output's baskets
    double cpu_seconds = 0;       // both, in CPU time
    int64_t baskets_read = 0;
    int64_t baskets_written = 0;
    double seconds() const { return read_seconds + write_seconds; }
};

// Decompression: the selection's branches for every entry, the other kept branches for the
// selected entries. Each basket is decompressed once, as the reader caches its current one.
void measure_reading(const rootio::RootFile& input, const rootio::TreeInfo& tree,
                     const rootio::TreeInfo& output_tree, const std::vector<int64_t>& selected, Bound& bound)
{
    std::set<int> selection;
    for (const char* name : kSelectionBranches) {
        const int index = tree.find_branch(name);
        if (index < 0) throw std::runtime_error(input.path() + ": no branch " + name);
        selection.insert(index);
    }
    std::vector<int> kept_only;
    for (const rootio::BranchInfo& b : output_tree.branches) {
        const int index = tree.find_branch(b.name);
        if (index >= 0 && !selection.count(index)) kept_only.push_back(index);
    }
    std::vector<std::unique_ptr<rootio::BranchReader>> readers;
    for (int index : selection) readers.push_back(std::make_unique<rootio::BranchReader>(input, tree, index));
    std::vector<std::unique_ptr<rootio::BranchReader>> kept_readers;
    for (int index : kept_only) kept_readers.push_back(std::make_unique<rootio::BranchReader>(input, tree, index));

    size_t checksum = 0;
    const double cpu_start = cpu_seconds();
    const auto start = Clock::now();
    for (auto& reader : readers)
        for (int64_t e = 0; e < tree.entries; ++e) checksum += reader->entry_bytes(e).size();
    for (auto& reader : kept_readers)
        for (int64_t e : selected) checksum += reader->entry_bytes(e).size();
    bound.read_seconds = seconds_since(start);
    bound.cpu_seconds += cpu_seconds() - cpu_start;
    benchmark::DoNotOptimize(checksum);

    // Baskets touched, for the report.
    for (int index : selection) bound.baskets_read += tree.branches[index].write_basket();
    for (int index : kept_only) {
        const rootio::BranchInfo& b = tree.branches[index];
        std::set<size_t> touched;
        for (int64_t e : selected) {
            const auto it = std::upper_bound(b.basket_entry.begin(), b.basket_entry.end(), e);
            touched.insert(static_cast<size_t>(it - b.basket_entry.begin() - 1));
        }
        bound.baskets_read += static_cast<int64_t>(touched.size());
    }
}

// Compression: every basket of the output, uncompressed first (not timed), then compressed
// with the branch's setting as the skim had to.
void measure_writing(const rootio::RootFile& output, const rootio::TreeInfo& tree, Bound& bound)
{
    std::vector<std::vector<uint8_t>> payloads;
    std::vector<int> settings;
    for (const rootio::BranchInfo& b : tree.branches) {
        for (int i = 0; i < b.write_basket(); ++i) {
            std::vector<uint8_t> record(static_cast<size_t>(b.basket_bytes[i]));
            output.read_at(b.basket_seek[i], record, "basket");
            rootio::ByteReader in(record, output.path() + ": basket of " + b.name);
            const rootio::KeyHeader key = rootio::read_key_header(in);
            const std::span<const uint8_t> stored(record.data() + key.keylen, record.size() - key.keylen);
            std::vector<uint8_t> payload(static_cast<size_t>(key.objlen));
            if (key.is_compressed())
                output.decompressor().decompress(stored, payload, "basket");
            else
                std::copy(stored.begin(), stored.end(), payload.begin());
            payloads.push_back(std::move(payload));
            settings.push_back(b.compress);
        }
    }
    std::unordered_map<int, std::unique_ptr<rootio::Compressor>> compressors;
    for (int s : settings)
        if (!compressors.count(s)) compressors.emplace(s, std::make_unique<rootio::Compressor>(s));
    std::vector<uint8_t> out;
    const double cpu_start = cpu_seconds();
    const auto start = Clock::now();
    for (size_t i = 0; i < payloads.size(); ++i) {
        compressors.at(settings[i])->compress(payloads[i], out);
        benchmark::DoNotOptimize(out.data());
    }
    bound.write_seconds = seconds_since(start);
    bound.cpu_seconds += cpu_seconds() - cpu_start;
    bound.baskets_written = static_cast<int64_t>(payloads.size());
}

void BM_Skim(benchmark::State& state, Config config)
{
    const Paths paths = prepare(config);
    const double input_mb = static_cast<double>(fs::file_size(paths.input)) / 1e6;
    ChildResult skim;
    Bound bound;
    int64_t entries = 0;
    size_t n_selected = 0;
    for (auto _ : state) {
        skim = run_child({paths.skim.string()}, paths.run_dir);
        state.SetIterationTime(skim.seconds);

        state.PauseTiming();
        const auto input = rootio::RootFile::open(paths.input.string());
        const rootio::TreeInfo input_tree = rootio::read_tree(*input, "Events");
        const auto output = rootio::RootFile::open((paths.run_dir / "output.root").string());
        const rootio::TreeInfo output_tree = rootio::read_tree(*output, "Events");
        const std::vector<int64_t> selected = selected_entries(*input, input_tree, *output, output_tree);
        measure_reading(*input, input_tree, output_tree, selected, bound);
        measure_writing(*output, output_tree, bound);
        entries = input_tree.entries;
        n_selected = selected.size();
        state.ResumeTiming();
    }
    const double events = static_cast<double>(entries);
    state.counters["events_per_s"] = events / skim.seconds;
    state.counters["input_MB_per_s"] = input_mb / skim.seconds;
    state.counters["peak_rss_MiB"] = static_cast<double>(skim.max_rss_kib) / 1024.0;
    state.counters["selected"] = static_cast<double>(n_selected);
    state.counters["bound_read_s"] = bound.read_seconds;
    state.counters["bound_write_s"] = bound.write_seconds;
    state.counters["ratio_to_bound"] = skim.seconds / bound.seconds();
    state.counters["cpu_ratio_to_bound"] = skim.cpu_seconds / bound.cpu_seconds;
    state.SetLabel(std::to_string(entries) + " events, " + std::to_string(static_cast<int>(input_mb)) + " MB in, " +
                   std::to_string(bound.baskets_read) + " baskets read, " + std::to_string(bound.baskets_written) +
                   " written");
}

// Our own flags; benchmark's are left for it.
Config parse_config(int& argc, char** argv)
{
    Config config;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](auto& out) {
            if (i + 1 >= argc) throw std::invalid_argument(arg + ": missing value");
            const std::string text = argv[++i];
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
            if (ec != std::errc() || end != text.data() + text.size() || out <= 0)
                throw std::invalid_argument(arg + ": not a valid value: '" + text + "'");
        };
        if (arg == "--events")
            number(config.events);
        else if (arg == "--compression")
            number(config.compression);
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    return config;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const Config config = parse_config(argc, argv);
        benchmark::Initialize(&argc, argv);
        benchmark::RegisterBenchmark("BM_Skim", BM_Skim, config)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_skim: %s\n", e.what());
        return 1;
    }
    return 0;
}
