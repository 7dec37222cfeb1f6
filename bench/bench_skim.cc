// The whole skim on a generated input, against the work it cannot avoid on one core:
// decompressing the baskets of the branches the selection reads (every entry) and of the
// kept branches (only the baskets holding a selected entry), and compressing the output's
// baskets. The bound is measured with the engine alone on this process's one thread; the
// skim runs as a child process with SKIM_THREADS=1, 2, ... up to the cores, so its wall and
// CPU time and its peak resident memory are its own. Everything is measured in one run.
//
// With --format rntuple the same events are read as an RNTuple (make-example --format
// rntuple): its bound decompresses and decodes the pages of the selection's fields in
// every cluster and of the other kept fields in the clusters holding a selected entry, and
// compresses the output's pages. --format both measures the two formats in the same rounds
// and compares them.
//
//   bench_skim [--events N] [--compression SETTING] [--pass-fraction F] [--rounds N]
//              [--max-threads N] [--format ttree|rntuple|both]
//
// Each input is made by make-example into BUILD/bench-data/ and reused while make-example
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

#include "ntuple_branches.h"
#include "rootio/codec/compression.h"
#include "rootio/file/root_file.h"
#include "rootio/format/bytes.h"
#include "rootio/format/error.h"
#include "rootio/ntuple/cluster_cache.h"
#include "rootio/ntuple/ntuple_reader.h"
#include "rootio/ntuple/page_decoder.h"
#include "rootio/tree/branch_reader.h"
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

enum class Format { Tree, Ntuple };

const char* format_name(Format f) { return f == Format::Tree ? "tree" : "RNTuple"; }

struct Config {
    std::vector<Format> formats{Format::Tree};
    int64_t events = 200000;
    int compression = 209;
    double pass_fraction = 0;  // 0: make-example's default mix (about 3 %)
    int rounds = 3;
    int max_threads = 0;  // 0: the cores available
};

struct Paths {
    Format format = Format::Tree;
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
    if (p.format == Format::Ntuple) {
        args.push_back("--format");
        args.push_back("rntuple");
    }
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

Paths prepare(const Config& config, Format format)
{
    const fs::path build = find_build_dir();
    std::string name = "skim-" + std::to_string(config.events) + "ev-c" + std::to_string(config.compression);
    if (config.pass_fraction > 0) name += "-pass" + std::to_string(config.pass_fraction);
    if (format == Format::Ntuple) name += "-rntuple";
    Paths p{format, build / "skim", build / "make-example", build / "bench-data" / name, {}};
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

// The "event" number of every entry of Events, a tree or an RNTuple.
std::vector<uint64_t> event_numbers(const rootio::RootFile& file)
{
    std::vector<uint64_t> events;
    const auto key = file.find_path("Events");
    if (key && key->class_name == rootio::ntuple::kAnchorClassName) {
        const auto reader = rootio::ntuple::NtupleReader::open(file, "Events");
        convert::NtupleBranches branches(*reader);
        const int index = branches.tree_info().find_branch("event");
        if (index < 0) throw std::runtime_error(file.path() + ": no field event");
        for (int64_t e = 0; e < branches.tree_info().entries; ++e)
            events.push_back(rootio::load_be<uint64_t>(branches.entry_bytes(static_cast<size_t>(index), e).data()));
        return events;
    }
    const rootio::TreeInfo tree = rootio::read_tree(file, "Events");
    const int index = tree.find_branch("event");
    if (index < 0) throw std::runtime_error(file.path() + ": no branch event");
    rootio::BranchReader reader(file, tree, index);
    for (int64_t e = 0; e < tree.entries; ++e) events.push_back(rootio::load_be<uint64_t>(reader.entry_bytes(e).data()));
    return events;
}

// Input entries the skim copied, found through the event numbers (unique in the input).
std::vector<int64_t> selected_entries(const rootio::RootFile& input, const rootio::RootFile& output)
{
    const std::vector<uint64_t> all = event_numbers(input);
    std::unordered_map<uint64_t, int64_t> entry_of;
    for (size_t e = 0; e < all.size(); ++e) entry_of.emplace(all[e], static_cast<int64_t>(e));
    std::vector<int64_t> selected;
    for (uint64_t event : event_numbers(output)) selected.push_back(entry_of.at(event));
    return selected;
}

struct Timing {
    double wall = 0;
    double cpu = 0;
};

Timing time_it(const auto& work)
{
    const double cpu_start = cpu_seconds();
    const auto start = Clock::now();
    work();
    return {seconds_since(start), cpu_seconds() - cpu_start};
}

// The work the skim cannot avoid, set up once from its input and its output, then timed.
class LowerBound {
public:
    virtual ~LowerBound() = default;
    // Decompression of what the skim must read: the selection's data for every entry, the
    // other kept data for the selected entries, each basket or page once.
    virtual Timing read() const = 0;
    // Compression: every basket or page of the output, with its setting.
    Timing write() const
    {
        std::unordered_map<int, std::unique_ptr<rootio::Compressor>> compressors;
        for (int s : settings_)
            if (!compressors.count(s)) compressors.emplace(s, std::make_unique<rootio::Compressor>(s));
        std::vector<uint8_t> out;
        return time_it([&] {
            for (size_t i = 0; i < payloads_.size(); ++i) {
                compressors.at(settings_[i])->compress(payloads_[i], out);
                benchmark::DoNotOptimize(out.data());
            }
        });
    }
    // "N baskets (X MB stored) read, M written" or the same of pages.
    virtual std::string units() const = 0;

protected:
    std::string read_and_written(const char* unit, int64_t read, int64_t stored_bytes) const
    {
        char text[160];
        std::snprintf(text, sizeof text, "%lld %s (%.1f MB stored) read, %zu written", static_cast<long long>(read),
                      unit, static_cast<double>(stored_bytes) / 1e6, payloads_.size());
        return text;
    }

    // The output's baskets or pages as the skim had them before compressing.
    std::vector<std::vector<uint8_t>> payloads_;
    std::vector<int> settings_;
};

class TreeBound final : public LowerBound {
public:
    TreeBound(const rootio::RootFile& input, const rootio::RootFile& output, const std::vector<int64_t>& selected)
        : input_(input), tree_(rootio::read_tree(input, "Events")), selected_(selected)
    {
        const rootio::TreeInfo output_tree = rootio::read_tree(output, "Events");
        for (const char* name : kSelectionBranches) {
            const int index = tree_.find_branch(name);
            if (index < 0) throw std::runtime_error(input.path() + ": no branch " + name);
            selection_.insert(index);
        }
        for (const rootio::BranchInfo& b : output_tree.branches) {
            const int index = tree_.find_branch(b.name);
            if (index >= 0 && !selection_.count(index)) kept_only_.push_back(index);
        }
        load_output_baskets(output, output_tree);
    }

    Timing read() const override
    {
        std::vector<std::unique_ptr<rootio::BranchReader>> all_entries, selected_entries;
        for (int index : selection_)
            all_entries.push_back(std::make_unique<rootio::BranchReader>(input_, tree_, index));
        for (int index : kept_only_)
            selected_entries.push_back(std::make_unique<rootio::BranchReader>(input_, tree_, index));
        size_t checksum = 0;
        const Timing t = time_it([&] {
            for (auto& reader : all_entries)
                for (int64_t e = 0; e < tree_.entries; ++e) checksum += reader->entry_bytes(e).size();
            for (auto& reader : selected_entries)
                for (int64_t e : selected_) checksum += reader->entry_bytes(e).size();
        });
        benchmark::DoNotOptimize(checksum);
        return t;
    }

    std::string units() const override
    {
        int64_t n = 0, bytes = 0;
        for (int index : selection_) {
            const rootio::BranchInfo& b = tree_.branches[index];
            n += b.write_basket();
            for (int32_t size : b.basket_bytes) bytes += size;
        }
        for (int index : kept_only_) {
            const rootio::BranchInfo& b = tree_.branches[index];
            std::set<size_t> touched;
            for (int64_t e : selected_) {
                const auto it = std::upper_bound(b.basket_entry.begin(), b.basket_entry.end(), e);
                touched.insert(static_cast<size_t>(it - b.basket_entry.begin() - 1));
            }
            n += static_cast<int64_t>(touched.size());
            for (size_t i : touched) bytes += b.basket_bytes[i];
        }
        return read_and_written("baskets", n, bytes);
    }

private:
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
    rootio::TreeInfo tree_;
    std::vector<int64_t> selected_;
    std::set<int> selection_;
    std::vector<int> kept_only_;
};

// The same on RNTuple input and output: a cluster's pages are the unit read, each column
// decoded once (ClusterCache, this process's one thread).
class NtupleBound final : public LowerBound {
public:
    NtupleBound(const rootio::RootFile& input, const rootio::RootFile& output, const std::vector<int64_t>& selected)
        : input_(rootio::ntuple::NtupleReader::open(input, "Events"))
    {
        using namespace rootio::ntuple;
        const Descriptor& d = input_->descriptor();
        const std::vector<convert::BranchPlan> plan = convert::plan_branches(*input_);
        const auto find = [&](const std::string& name) -> const convert::BranchPlan* {
            for (const convert::BranchPlan& b : plan)
                if (b.name == name) return &b;
            return nullptr;
        };
        std::set<std::string> selection;
        for (const char* name : kSelectionBranches) {
            if (!find(name)) throw std::runtime_error(input.path() + ": no field for branch " + name);
            selection.insert(name);
        }
        const auto output_reader = NtupleReader::open(output, "Events");
        std::vector<const convert::BranchPlan*> kept_only;
        for (const convert::BranchPlan& b : convert::plan_branches(*output_reader))
            if (const convert::BranchPlan* in = find(b.name); in && !selection.count(b.name)) kept_only.push_back(in);

        selected_in_.assign(d.clusters.size(), false);
        for (int64_t e : selected) selected_in_[d.cluster_of(static_cast<uint64_t>(e))] = true;
        // A branch's columns: its values' (not for a count) and its collection's offsets.
        const auto add_columns = [&](const convert::BranchPlan& b, size_t cluster, std::vector<uint32_t>& out) {
            if (b.kind != convert::BranchKind::Count)
                if (const auto c = active_column(d, d.fields[b.field], cluster, 0)) out.push_back(*c);
            if (b.kind != convert::BranchKind::Scalar)
                if (const auto c = active_column(d, d.fields[b.collection], cluster, 0)) out.push_back(*c);
        };
        columns_.resize(d.clusters.size());
        for (size_t k = 0; k < d.clusters.size(); ++k) {
            for (const std::string& name : selection) add_columns(*find(name), k, columns_[k]);
            if (selected_in_[k])
                for (const convert::BranchPlan* b : kept_only) add_columns(*b, k, columns_[k]);
            std::sort(columns_[k].begin(), columns_[k].end());
            columns_[k].erase(std::unique(columns_[k].begin(), columns_[k].end()), columns_[k].end());
            for (uint32_t c : columns_[k])
                for (const PageDescriptor& page : d.clusters[k].columns[c].pages) {
                    ++pages_read_;
                    bytes_read_ += static_cast<int64_t>(page.locator.size);
                }
        }
        load_output_pages(*output_reader);
    }

    Timing read() const override
    {
        rootio::ntuple::ClusterCache cache(*input_);
        return time_it([&] {
            for (size_t k = 0; k < columns_.size(); ++k) cache.load(k, columns_[k]);
        });
    }

    std::string units() const override
    {
        return read_and_written("pages", pages_read_, bytes_read_);
    }

private:
    void load_output_pages(const rootio::ntuple::NtupleReader& output)
    {
        using namespace rootio::ntuple;
        const Descriptor& d = output.descriptor();
        std::vector<uint32_t> all(d.columns.size());
        for (uint32_t c = 0; c < all.size(); ++c) all[c] = c;
        ClusterPages pages;
        for (size_t k = 0; k < d.clusters.size(); ++k) {
            output.fetch_pages(k, all, pages);
            for (const RawPage& p : pages.pages) {
                const auto packed = static_cast<size_t>(packed_page_size(d.columns[p.column], p.elements));
                std::vector<uint8_t> payload(packed);
                const std::span<const uint8_t> stored = pages.stored(p);
                if (stored.size() == packed)
                    std::copy(stored.begin(), stored.end(), payload.begin());
                else
                    rootio::decompress_object(output.file().decompressor(), stored, static_cast<int64_t>(packed),
                                              payload, "page");
                payloads_.push_back(std::move(payload));
                settings_.push_back(static_cast<int>(d.clusters[k].columns[p.column].compression));
            }
        }
    }

    std::unique_ptr<rootio::ntuple::NtupleReader> input_;
    std::vector<bool> selected_in_;              // per cluster: it holds a selected entry
    std::vector<std::vector<uint32_t>> columns_;  // per cluster: the columns read
    int64_t pages_read_ = 0, bytes_read_ = 0;
};

struct SkimFigures {
    int threads = 1;
    ChildResult best{1e300, 1e300, 0};  // fastest wall, least CPU, most memory over the rounds
};

// One format's input, its skim runs and its bound.
struct FormatRun {
    Paths paths;
    std::vector<SkimFigures> skims;
    Timing read{1e300, 1e300}, write{1e300, 1e300};
    std::unique_ptr<rootio::RootFile> input, output;
    std::unique_ptr<LowerBound> bound;
    int64_t entries = 0, selected = 0;

    double bound_wall() const { return read.wall + write.wall; }
    double bound_cpu() const { return read.cpu + write.cpu; }
};

void print_figures(const Config& config, const FormatRun& run)
{
    const double events = static_cast<double>(run.entries);
    const double input_mb = static_cast<double>(fs::file_size(run.paths.input)) / 1e6;
    std::printf("%s input: %lld events, setting %d, %.1f MB; selected %lld (%.2f %%); %s\n",
                format_name(run.paths.format), static_cast<long long>(run.entries), config.compression, input_mb,
                static_cast<long long>(run.selected), 100.0 * static_cast<double>(run.selected) / std::max(events, 1.0),
                run.bound->units().c_str());
    std::printf("single-core bound: %.2f s wall (read %.2f s + write %.2f s), %.2f s CPU; best of %d rounds\n",
                run.bound_wall(), run.read.wall, run.write.wall, run.bound_cpu(), config.rounds);
    std::printf("%7s %8s %8s %10s %10s %9s %10s\n", "threads", "wall s", "CPU s", "wall/bound", "CPU/bound",
                "events/s", "peak MiB");
    for (const SkimFigures& skim : run.skims)
        std::printf("%7d %8.2f %8.2f %10.2f %10.2f %9.0f %10.0f\n", skim.threads, skim.best.seconds,
                    skim.best.cpu_seconds, skim.best.seconds / run.bound_wall(),
                    skim.best.cpu_seconds / run.bound_cpu(), events / skim.best.seconds,
                    static_cast<double>(skim.best.max_rss_kib) / 1024.0);
}

// The RNTuple's figures over the tree's: how much faster it skims, and how much less its
// bound holds.
void print_comparison(const FormatRun& tree, const FormatRun& ntuple)
{
    std::printf("RNTuple against tree: file size %.2f, bound %.2fx less wall (%.2fx CPU)\n",
                static_cast<double>(fs::file_size(ntuple.paths.input)) / static_cast<double>(fs::file_size(tree.paths.input)),
                tree.bound_wall() / ntuple.bound_wall(), tree.bound_cpu() / ntuple.bound_cpu());
    for (size_t i = 0; i < tree.skims.size(); ++i)
        std::printf("  %d thread(s): events/s %.2fx (CPU %.2fx less)\n", tree.skims[i].threads,
                    tree.skims[i].best.seconds / ntuple.skims[i].best.seconds,
                    tree.skims[i].best.cpu_seconds / ntuple.skims[i].best.cpu_seconds);
}

// Rounds alternate bound and skim runs, and formats, so that all see the same load; the
// fastest of each is the figure least disturbed by other work on the machine.
void run_benchmark(const Config& config)
{
    std::vector<FormatRun> runs;
    for (Format f : config.formats) {
        FormatRun& run = runs.emplace_back();
        run.paths = prepare(config, f);
        for (int n = 1; n <= config.max_threads; ++n) run.skims.push_back({n});
    }
    for (int round = 0; round < config.rounds; ++round) {
        for (FormatRun& run : runs) {
            for (SkimFigures& skim : run.skims) {
                const ChildResult r = run_child({run.paths.skim.string()}, run.paths.run_dir, skim.threads);
                skim.best = {std::min(skim.best.seconds, r.seconds), std::min(skim.best.cpu_seconds, r.cpu_seconds),
                             std::max(skim.best.max_rss_kib, r.max_rss_kib)};
            }
            if (!run.bound) {
                run.input = rootio::RootFile::open(run.paths.input.string());
                run.output = rootio::RootFile::open((run.paths.run_dir / "output.root").string());
                const std::vector<int64_t> selected = selected_entries(*run.input, *run.output);
                run.entries = static_cast<int64_t>(event_numbers(*run.input).size());
                run.selected = static_cast<int64_t>(selected.size());
                if (run.paths.format == Format::Tree)
                    run.bound = std::make_unique<TreeBound>(*run.input, *run.output, selected);
                else
                    run.bound = std::make_unique<NtupleBound>(*run.input, *run.output, selected);
            }
            const Timing r = run.bound->read(), w = run.bound->write();
            run.read = {std::min(run.read.wall, r.wall), std::min(run.read.cpu, r.cpu)};
            run.write = {std::min(run.write.wall, w.wall), std::min(run.write.cpu, w.cpu)};
        }
    }
    for (const FormatRun& run : runs) print_figures(config, run);
    if (runs.size() == 2) print_comparison(runs[0], runs[1]);
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
        else if (arg == "--format" && i + 1 < argc) {
            const std::string f = argv[++i];
            if (f == "ttree") config.formats = {Format::Tree};
            else if (f == "rntuple") config.formats = {Format::Ntuple};
            else if (f == "both") config.formats = {Format::Tree, Format::Ntuple};
            else throw std::invalid_argument("--format: ttree, rntuple or both, not '" + f + "'");
        } else
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
