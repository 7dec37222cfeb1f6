// The whole skim on a generated input, against the work it cannot avoid: decompressing the
// baskets of the branches the selection reads (every entry) and of the kept branches (only
// the baskets holding a selected entry), and compressing the output's baskets. Both are
// measured in the same run with the engine alone; the skim runs as a child process, so its
// peak resident memory is its own.
//
//   bench_skim [--events N] [--compression SETTING] [--rounds N] [benchmark flags]
//
// The input is made by make-example into BUILD/bench-data/ and reused until make-example
// is rebuilt.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
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
    "nElectron",
    "Electron_pt",
    "Electron_eta",
    "Electron_phi",
    "Electron_mass",
    "Electron_cutBased",
    "Electron_deltaEtaSC",
    "Electron_dz",
    "Electron_dxy",
    "nMuon",
    "Muon_pt",
    "Muon_eta",
    "Muon_phi",
    "Muon_mass",
    "Muon_tightId",
    "Muon_pfRelIso04_all",
    "nJet",
    "Jet_pt",
    "Jet_eta",
    "Jet_phi",
    "Jet_mass",
    "nFatJet",
    "FatJet_pt",
    "FatJet_eta",
    "FatJet_phi",
    "FatJet_mass",
    "FatJet_msoftdrop",
    "FatJet_particleNetMD_Xbb",
    "FatJet_particleNetMD_QCD",
    "MET_pt",
};

struct Config {
    int64_t events = 200000;
    int compression = 209;
    int rounds = 3;
};

struct Paths {
    fs::path skim, make_example, run_dir, input;
};

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// On a shared machine wall time carries other people's load; CPU time is reported beside it.
double cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
}

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
    Paths p{build / "skim",
            build / "make-example",
            build / "bench-data" /
                ("skim-" + std::to_string(config.events) + "ev-c" + std::to_string(config.compression)),
            {}};
    p.input = p.run_dir / kInputName;
    // An input older than the generator may not be what it makes now.
    if (!fs::exists(p.input) || fs::last_write_time(p.input) < fs::last_write_time(p.make_example)) {
        fs::create_directories(p.run_dir);
        const fs::path partial = p.input.string() + ".partial";
        std::fprintf(stderr, "bench_skim: making %s (%lld events, compression %d) ...\n", p.input.c_str(),
                     static_cast<long long>(config.events), config.compression);
        const ChildResult made =
            run_child({p.make_example.string(), "--events", std::to_string(config.events), "--compression",
                       std::to_string(config.compression), "--output", partial.string()},
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
        for (int64_t e = 0; e < tree.entries; ++e)
            events[e] = rootio::load_be<uint64_t>(reader.entry_bytes(e).data());
        return events;
    };
    const std::vector<uint64_t> all = event_numbers(input, input_tree);
    std::unordered_map<uint64_t, int64_t> entry_of;
    for (size_t e = 0; e < all.size(); ++e) entry_of.emplace(all[e], static_cast<int64_t>(e));
    std::vector<int64_t> selected;
    for (uint64_t event : event_numbers(output, output_tree)) selected.push_back(entry_of.at(event));
    return selected;
}

struct Timing {
    double wall = 0;
    double cpu = 0;
};

// The work the skim cannot avoid, set up once from its input and its output, then timed.
class LowerBound {
public:
    LowerBound(const rootio::RootFile& input, const rootio::TreeInfo& tree, const rootio::RootFile& output,
               const rootio::TreeInfo& output_tree, std::vector<int64_t> selected)
        : input_(input), tree_(tree), selected_(std::move(selected))
    {
        for (const char* name : kSelectionBranches) {
            const int index = tree.find_branch(name);
            if (index < 0) throw std::runtime_error(input.path() + ": no branch " + name);
            selection_.insert(index);
        }
        for (const rootio::BranchInfo& b : output_tree.branches) {
            const int index = tree.find_branch(b.name);
            if (index >= 0 && !selection_.count(index)) kept_only_.push_back(index);
        }
        load_output_baskets(output, output_tree);
    }

    // Decompression: the selection's branches for every entry, the other kept branches for
    // the selected entries; each basket once, as a reader keeps its current one.
    Timing read() const
    {
        std::vector<std::unique_ptr<rootio::BranchReader>> all_entries, selected_entries;
        for (int index : selection_)
            all_entries.push_back(std::make_unique<rootio::BranchReader>(input_, tree_, index));
        for (int index : kept_only_)
            selected_entries.push_back(std::make_unique<rootio::BranchReader>(input_, tree_, index));
        size_t checksum = 0;
        const double cpu_start = cpu_seconds();
        const auto start = Clock::now();
        for (auto& reader : all_entries)
            for (int64_t e = 0; e < tree_.entries; ++e) checksum += reader->entry_bytes(e).size();
        for (auto& reader : selected_entries)
            for (int64_t e : selected_) checksum += reader->entry_bytes(e).size();
        const Timing t{seconds_since(start), cpu_seconds() - cpu_start};
        benchmark::DoNotOptimize(checksum);
        return t;
    }

    // Compression: every basket of the output, with its branch's setting.
    Timing write() const
    {
        std::unordered_map<int, std::unique_ptr<rootio::Compressor>> compressors;
        for (int s : settings_)
            if (!compressors.count(s)) compressors.emplace(s, std::make_unique<rootio::Compressor>(s));
        std::vector<uint8_t> out;
        const double cpu_start = cpu_seconds();
        const auto start = Clock::now();
        for (size_t i = 0; i < payloads_.size(); ++i) {
            compressors.at(settings_[i])->compress(payloads_[i], out);
            benchmark::DoNotOptimize(out.data());
        }
        return {seconds_since(start), cpu_seconds() - cpu_start};
    }

    int64_t baskets_read() const
    {
        int64_t n = 0;
        for (int index : selection_) n += tree_.branches[index].write_basket();
        for (int index : kept_only_) {
            const rootio::BranchInfo& b = tree_.branches[index];
            std::set<size_t> touched;
            for (int64_t e : selected_) {
                const auto it = std::upper_bound(b.basket_entry.begin(), b.basket_entry.end(), e);
                touched.insert(static_cast<size_t>(it - b.basket_entry.begin() - 1));
            }
            n += static_cast<int64_t>(touched.size());
        }
        return n;
    }
    int64_t baskets_written() const { return static_cast<int64_t>(payloads_.size()); }

private:
    // The output's baskets as the skim had them before compressing.
    void load_output_baskets(const rootio::RootFile& output, const rootio::TreeInfo& tree)
    {
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
                payloads_.push_back(std::move(payload));
                settings_.push_back(b.compress);
            }
        }
    }

    const rootio::RootFile& input_;
    const rootio::TreeInfo& tree_;
    std::vector<int64_t> selected_;
    std::set<int> selection_;
    std::vector<int> kept_only_;
    std::vector<std::vector<uint8_t>> payloads_;
    std::vector<int> settings_;
};

// Rounds alternate skim and bound so that both see the same load; the fastest of each
// is the figure least disturbed by other work on the machine.
void BM_Skim(benchmark::State& state, Config config)
{
    const Paths paths = prepare(config);
    const double input_mb = static_cast<double>(fs::file_size(paths.input)) / 1e6;
    for (auto _ : state) {
        ChildResult skim{1e300, 1e300, 0};
        Timing read{1e300, 1e300}, write{1e300, 1e300};
        std::unique_ptr<rootio::RootFile> input, output;
        rootio::TreeInfo input_tree, output_tree;
        std::unique_ptr<LowerBound> bound;
        for (int round = 0; round < config.rounds; ++round) {
            const ChildResult run = run_child({paths.skim.string()}, paths.run_dir);
            skim = {std::min(skim.seconds, run.seconds), std::min(skim.cpu_seconds, run.cpu_seconds),
                    std::max(skim.max_rss_kib, run.max_rss_kib)};
            if (!bound) {
                input = rootio::RootFile::open(paths.input.string());
                input_tree = rootio::read_tree(*input, "Events");
                output = rootio::RootFile::open((paths.run_dir / "output.root").string());
                output_tree = rootio::read_tree(*output, "Events");
                bound =
                    std::make_unique<LowerBound>(*input, input_tree, *output, output_tree,
                                                 selected_entries(*input, input_tree, *output, output_tree));
            }
            const Timing r = bound->read(), w = bound->write();
            read = {std::min(read.wall, r.wall), std::min(read.cpu, r.cpu)};
            write = {std::min(write.wall, w.wall), std::min(write.cpu, w.cpu)};
        }
        state.SetIterationTime(skim.seconds);

        const double events = static_cast<double>(input_tree.entries);
        state.counters["events_per_s"] = events / skim.seconds;
        state.counters["input_MB_per_s"] = input_mb / skim.seconds;
        state.counters["peak_rss_MiB"] = static_cast<double>(skim.max_rss_kib) / 1024.0;
        state.counters["selected"] = static_cast<double>(output_tree.entries);
        state.counters["bound_read_s"] = read.wall;
        state.counters["bound_write_s"] = write.wall;
        state.counters["ratio_to_bound"] = skim.seconds / (read.wall + write.wall);
        state.counters["cpu_ratio_to_bound"] = skim.cpu_seconds / (read.cpu + write.cpu);
        state.SetLabel(
            std::to_string(input_tree.entries) + " events, " + std::to_string(static_cast<int>(input_mb)) +
            " MB in, " + std::to_string(bound->baskets_read()) + " baskets read, " +
            std::to_string(bound->baskets_written()) + " written, best of " + std::to_string(config.rounds));
    }
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
        else if (arg == "--rounds")
            number(config.rounds);
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
