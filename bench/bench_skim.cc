// The whole skim on a generated input, against the work it cannot avoid on one core:
// decompressing the baskets of the branches the selection reads (every entry) and of the
// kept branches (only the baskets holding a selected entry), and compressing the output's
// baskets. The bound is measured with the engine alone on this process's one thread; the
// skim runs as a child process with SKIM_THREADS=1, 2, ... up to the cores, so its wall and
// CPU time and its peak resident memory are its own. Everything is measured in one run.
//
//   bench_skim [--events N] [--compression SETTING] [--pass-fraction F] [--rounds N]
//              [--max-threads N]
//
// The input is made by make-example into BUILD/bench-data/ and reused while make-example
// still makes the same events (a small probe file is compared).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "rootio/tree/branch_reader.h"
#include "rootio/format/bytes.h"
#include "rootio/codec/compression.h"
#include "rootio/format/error.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"

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
    double pass_fraction = 0;  // 0: make-example's default mix (about 3 %)
    int rounds = 3;
    int max_threads = 0;  // 0: the cores available
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

// Runs `argv` in `cwd` with standard output discarded and SKIM_THREADS=`threads` (0: as
// inherited); its own resource usage, all its threads together, from wait4.
ChildResult run_child(const std::vector<std::string>& argv, const fs::path& cwd, int threads = 0)
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
        if (threads > 0 && setenv("SKIM_THREADS", std::to_string(threads).c_str(), 1) != 0) _exit(126);
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

// make-example's arguments for `events` events of this configuration into `output`.
std::vector<std::string> generator_args(const Paths& p, const Config& config, int64_t events,
                                        const fs::path& output)
{
    std::vector<std::string> args{p.make_example.string(),
                                  "--events",
                                  std::to_string(events),
                                  "--compression",
                                  std::to_string(config.compression),
                                  "--quiet",
                                  "--output",
                                  output.string()};
    if (config.pass_fraction > 0) {
        args.push_back("--pass-fraction");
        args.push_back(std::to_string(config.pass_fraction));
    }
    return args;
}

std::string file_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Paths prepare(const Config& config)
{
    const fs::path build = find_build_dir();
    std::string name = "skim-" + std::to_string(config.events) + "ev-c" + std::to_string(config.compression);
    if (config.pass_fraction > 0) name += "-pass" + std::to_string(config.pass_fraction);
    Paths p{build / "skim", build / "make-example", build / "bench-data" / name, {}};
    p.input = p.run_dir / kInputName;
    fs::create_directories(p.run_dir);

    // The first events, with fixed time stamps: the same bytes as last time means the
    // generator still makes the same file.
    const fs::path probe = p.run_dir / "probe.root", probe_kept = p.run_dir / "probe.kept";
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    run_child(generator_args(p, config, 200, probe), p.run_dir, config.max_threads);
    unsetenv("SOURCE_DATE_EPOCH");
    const bool same_generator = fs::exists(probe_kept) && file_bytes(probe) == file_bytes(probe_kept);
    if (!fs::exists(p.input) || !same_generator) {
        const fs::path partial = p.input.string() + ".partial";
        std::fprintf(stderr, "bench_skim: making %s ...\n", p.input.c_str());
        const ChildResult made =
            run_child(generator_args(p, config, config.events, partial), p.run_dir, config.max_threads);
        fs::rename(partial, p.input);  // only a finished file is ever reused
        std::fprintf(stderr, "bench_skim: made in %.1f s (%.1f s CPU)\n", made.seconds, made.cpu_seconds);
    }
    fs::rename(probe, probe_kept);
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

struct SkimFigures {
    int threads = 1;
    ChildResult best{1e300, 1e300, 0};  // fastest wall, least CPU, most memory over the rounds
};

// Rounds alternate bound and skim runs so that all see the same load; the fastest of each
// is the figure least disturbed by other work on the machine.
void run_benchmark(const Config& config)
{
    const Paths paths = prepare(config);
    const double input_mb = static_cast<double>(fs::file_size(paths.input)) / 1e6;
    std::vector<SkimFigures> skims;
    for (int n = 1; n <= config.max_threads; ++n) skims.push_back({n});
    Timing read{1e300, 1e300}, write{1e300, 1e300};
    std::unique_ptr<rootio::RootFile> input, output;
    rootio::TreeInfo input_tree, output_tree;
    std::unique_ptr<LowerBound> bound;
    for (int round = 0; round < config.rounds; ++round) {
        for (SkimFigures& skim : skims) {
            const ChildResult run = run_child({paths.skim.string()}, paths.run_dir, skim.threads);
            skim.best = {std::min(skim.best.seconds, run.seconds),
                         std::min(skim.best.cpu_seconds, run.cpu_seconds),
                         std::max(skim.best.max_rss_kib, run.max_rss_kib)};
            if (!bound) {
                input = rootio::RootFile::open(paths.input.string());
                input_tree = rootio::read_tree(*input, "Events");
                output = rootio::RootFile::open((paths.run_dir / "output.root").string());
                output_tree = rootio::read_tree(*output, "Events");
                bound =
                    std::make_unique<LowerBound>(*input, input_tree, *output, output_tree,
                                                 selected_entries(*input, input_tree, *output, output_tree));
            }
        }
        const Timing r = bound->read(), w = bound->write();
        read = {std::min(read.wall, r.wall), std::min(read.cpu, r.cpu)};
        write = {std::min(write.wall, w.wall), std::min(write.cpu, w.cpu)};
    }

    const double events = static_cast<double>(input_tree.entries);
    const double selected = static_cast<double>(output_tree.entries);
    const double bound_wall = read.wall + write.wall, bound_cpu = read.cpu + write.cpu;
    std::printf(
        "input: %lld events, setting %d, %.0f MB; selected %lld (%.2f %%); %lld baskets read, %lld written\n",
        static_cast<long long>(input_tree.entries), config.compression, input_mb,
        static_cast<long long>(output_tree.entries), 100.0 * selected / std::max(events, 1.0),
        static_cast<long long>(bound->baskets_read()), static_cast<long long>(bound->baskets_written()));
    std::printf(
        "single-core bound: %.2f s wall (read %.2f s + write %.2f s), %.2f s CPU; best of %d rounds\n",
        bound_wall, read.wall, write.wall, bound_cpu, config.rounds);
    std::printf("%7s %8s %8s %10s %10s %9s %10s\n", "threads", "wall s", "CPU s", "wall/bound", "CPU/bound",
                "events/s", "peak MiB");
    for (const SkimFigures& skim : skims)
        std::printf("%7d %8.2f %8.2f %10.2f %10.2f %9.0f %10.0f\n", skim.threads, skim.best.seconds,
                    skim.best.cpu_seconds, skim.best.seconds / bound_wall, skim.best.cpu_seconds / bound_cpu,
                    events / skim.best.seconds, static_cast<double>(skim.best.max_rss_kib) / 1024.0);
}

Config parse_config(int argc, char** argv)
{
    Config config;
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
        else if (arg == "--pass-fraction")
            number(config.pass_fraction);
        else if (arg == "--rounds")
            number(config.rounds);
        else if (arg == "--max-threads")
            number(config.max_threads);
        else
            throw std::invalid_argument("unknown option '" + arg + "'");
    }
    if (config.max_threads == 0) {
        // The cores this process may use (not rootio::thread_count(): that would fix this
        // process's own thread count before it is set to 1).
        cpu_set_t set;
        CPU_ZERO(&set);
        config.max_threads = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
    }
    return config;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const Config config = parse_config(argc, argv);
        // The bound is the one-core figure: this process never starts workers of its own.
        setenv("SKIM_THREADS", "1", 1);
        run_benchmark(config);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_skim: %s\n", e.what());
        return 1;
    }
    return 0;
}
