// Skimming generated files read locally and from an XRootD server on localhost, directly
// (RTT 0) and through a relay holding every chunk half a round trip in each direction
// (RTT 20 and 100 ms). Measures the real skim (a child process) on each, checks the outputs
// are the local one's bytes, then replays the skim's reads in this process (the driver's
// cache settings, branch statuses and reads) and counts per cluster the requests the files
// received and the loop thread's stops (synchronous reads and waits for bytes sent ahead),
// and the bytes read against the files' size and against the needed baskets' bytes. Last,
// the up-front check of 100 remote inputs at RTT 100 ms.
//
//   bench_remote_skim [--rounds N] [--check-inputs N]
//
// Inputs are made by make-example into BUILD/bench-data/ and reused until make-example is
// rebuilt; the server is Debian's xrootd, started on a free port and stopped at the end.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Heron.h"
#include "TChain.h"
#include "TFile.h"
#include "TTree.h"
#include "rootio/io/byte_source.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/opened_files.h"
#include "rootio/tree/tree_reader.h"
#include "delay_relay.h"
#include "input_check.h"
#include "selection.h"
#include "xrootd_server.h"

namespace {

namespace fs = std::filesystem;

// One kind of input: `files` files of `events` events each, made by make-example.
struct InputSet {
    int files = 1;
    int events = 30000;
    int compression = 209;
    double pass_fraction = 0;  // 0: make-example's default (about 3 %)
};

struct Config {
    std::vector<InputSet> sets = {{1, 30000, 209, 0}, {3, 3000, 101, 0}};
    std::vector<int> rtts_ms = {0, 20, 100};
    InputSet sparse = {1, 30000, 101, 0.001};  // for bytes read against bytes needed
    int check_inputs = 100;                    // remote inputs checked up front
    int rounds = 2;
};

// Runs `argv` in `folder` with standard output discarded and SOURCE_DATE_EPOCH fixed;
// returns its wall time in seconds, or throws when it fails.
double timed_run(const std::vector<std::string>& argv, const fs::path& folder)
{
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::dup2(null_fd, 1) < 0 || ::chdir(folder.c_str()) != 0) ::_exit(126);
        ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(null_fd);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(argv[0] + " failed (status " + std::to_string(status) + ")");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string file_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The folder holding skim and make-example: this program's or one above it.
fs::path build_folder()
{
    for (fs::path dir = fs::read_symlink("/proc/self/exe").parent_path(); dir != dir.root_path();
         dir = dir.parent_path())
        if (fs::exists(dir / "skim") && fs::exists(dir / "make-example")) return dir;
    throw std::runtime_error("build the targets skim and make-example first");
}

std::vector<std::string> make_inputs(const fs::path& build, const InputSet& set)
{
    std::string tag = std::to_string(set.files) + "x" + std::to_string(set.events) + "-c" +
                      std::to_string(set.compression);
    if (set.pass_fraction > 0) tag += "-p" + std::to_string(set.pass_fraction);
    const fs::path folder = build / "bench-data" / ("chain-" + tag);
    fs::create_directories(folder);
    std::vector<std::string> inputs;
    for (int k = 1; k <= set.files; ++k) {
        const fs::path file = folder / ("part-" + std::to_string(k) + ".root");
        if (!fs::exists(file) || fs::last_write_time(file) < fs::last_write_time(build / "make-example")) {
            std::fprintf(stderr, "bench_remote_skim: making %s ...\n", file.c_str());
            const fs::path partial = file.string() + ".partial";
            std::vector<std::string> args = {(build / "make-example").string(), "--events", std::to_string(set.events),
                                             "--seed", std::to_string(k), "--compression",
                                             std::to_string(set.compression), "--output", partial.string(), "--quiet"};
            if (set.pass_fraction > 0) args.insert(args.end(), {"--pass-fraction", std::to_string(set.pass_fraction)});
            timed_run(args, folder);
            fs::rename(partial, file);  // only a finished file is ever reused
        }
        inputs.push_back(file.string());
    }
    return inputs;
}

struct ChainShape {
    int64_t entries = 0;
    int64_t clusters = 0;
    uint64_t bytes = 0;
};

ChainShape shape_of(const std::vector<std::string>& files)
{
    ChainShape s;
    for (const std::string& name : files) {
        const auto file = rootio::RootFile::open(name);
        const rootio::TreeInfo tree = rootio::read_tree(*file, "Events");
        s.entries += tree.entries;
        s.clusters += tree.auto_flush > 0 ? (tree.entries + tree.auto_flush - 1) / tree.auto_flush : 1;
        s.bytes += static_cast<uint64_t>(file->size());
    }
    return s;
}

struct Reads {
    uint64_t loop_requests = 0;  // after the up-front check
    uint64_t loop_stops = 0;     // the loop thread's synchronous reads and waits for bytes
    uint64_t bytes = 0;
    int selected = 0;
};

// The skim's reads without its output, made as its driver makes them: the inputs checked
// up front (opened ahead), then each file's tree taken with the next file named for the
// reads ahead, pruned to the kept branches, the selection's branches read for every entry
// and the kept ones for the selected entries. With `cache_bytes` 0 every reader reads
// exactly the baskets it needs, one by one.
Reads replay(const std::vector<std::string>& inputs, const std::vector<std::string>& kept, int64_t cache_bytes)
{
    Reads r;
    const rootio::ReadTotals start = rootio::read_totals();
    TDirectory* current = gDirectory;
    TChain chain("Events");
    for (const std::string& input : inputs) chain.Add(input.c_str());
    chain.SetBranchStatus("*", 0);
    for (const std::string& name : kept) chain.SetBranchStatus(name.c_str(), 1);
    skim::check_chain_inputs(chain);
    gDirectory = current;
    const rootio::ReadTotals before_loop = rootio::read_totals();
    const rootio::ThreadStops stops_before = rootio::this_thread_stops();
    std::vector<LorentzVector> veto, tight;
    rootio::read_tree_ahead(inputs.front(), "Events");
    for (size_t i = 0; i < inputs.size(); ++i) {
        TFile file(inputs[i].c_str());
        auto* tree = static_cast<TTree*>(file.Get("Events"));
        rootio::read_files_ahead(inputs, i, "Events");
        tree->SetCacheSize(cache_bytes);
        tree->SetCacheLearnEntries(100);
        tree->SetBranchStatus("*", 0);
        for (const std::string& name : kept) tree->SetBranchStatus(name.c_str(), 1);
        nt.Init(tree);
        for (Long64_t entry = 0; entry < tree->GetEntriesFast(); ++entry) {
            nt.GetEntry(entry);
            LorentzVector lep_p4;
            if (passes_lepton_selection(veto, tight, lep_p4) && passes_jet_selection(lep_p4)) {
                tree->GetEntry(entry);
                ++r.selected;
            }
        }
        nt.Init(nullptr);
    }
    r.loop_requests = rootio::read_totals().requests - before_loop.requests;
    r.loop_stops = rootio::this_thread_stops().total() - stops_before.total();
    r.bytes = rootio::read_totals().bytes - start.bytes;
    gDirectory = current;
    return r;
}

// The skim's branch statuses on a chain of `urls`, checked up front as the skim does.
double timed_check(const std::vector<std::string>& urls, const std::vector<std::string>& kept)
{
    const auto start = std::chrono::steady_clock::now();
    TDirectory* current = gDirectory;
    {
        TChain chain("Events");
        for (const std::string& url : urls) chain.Add(url.c_str());
        chain.SetBranchStatus("*", 0);
        for (const std::string& name : kept) chain.SetBranchStatus(name.c_str(), 1);
        skim::check_chain_inputs(chain);
    }
    gDirectory = current;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Config parse(int argc, char** argv)
{
    Config c;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (option == "--rounds")
            c.rounds = value;
        else if (option == "--check-inputs")
            c.check_inputs = value;
        else
            throw std::runtime_error("unknown option " + option);
    }
    if (c.rounds < 1 || c.check_inputs < 1) throw std::runtime_error("counts must be positive");
    return c;
}

}  // namespace

int main(int argc, char** argv)
try {
    const Config config = parse(argc, argv);
    const fs::path build = build_folder();
    testutil::XRootDServer server;
    const fs::path run_folder = build / "bench-data" / "remote-run";
    fs::create_directories(run_folder);
    auto skim_args = [&](const std::vector<std::string>& inputs) {
        std::vector<std::string> args = {(build / "skim").string(), "-o", "out.root"};
        args.insert(args.end(), inputs.begin(), inputs.end());
        return args;
    };
    auto kept_branches = [&] {
        std::vector<std::string> kept;
        const auto output = rootio::RootFile::open((run_folder / "out.root").string());
        for (const auto& branch : rootio::read_tree(*output, "Events").branches) kept.push_back(branch.name);
        return kept;
    };
    std::printf("| input | RTT | skim | remote / local | requests per cluster | stops per cluster (stops) | "
                "bytes read / size |\n|---|---|---|---|---|---|---|\n");
    std::vector<std::string> kept;
    int published = 0;
    for (const InputSet& set : config.sets) {
        const std::vector<std::string> local = make_inputs(build, set);
        std::vector<std::string> names;
        for (const std::string& path : local) {
            names.push_back("store/" + std::to_string(published++) + ".root");
            server.publish(path, names.back());
        }
        const ChainShape shape = shape_of(local);
        const std::string label = std::to_string(set.files) + " x " + std::to_string(set.events) + " events, " +
                                  std::to_string(set.compression);
        double best_local = 1e300;
        std::string local_output;
        for (int round = 0; round < config.rounds; ++round)
            best_local = std::min(best_local, timed_run(skim_args(local), run_folder));
        local_output = file_bytes(run_folder / "out.root");
        kept = kept_branches();
        const Reads local_reads = replay(local, kept, 134217728);
        std::printf("| %s | local | %.2f s | | %.1f | %.2f (%llu) | %.3f |\n", label.c_str(), best_local,
                    static_cast<double>(local_reads.loop_requests) / static_cast<double>(shape.clusters),
                    static_cast<double>(local_reads.loop_stops) / static_cast<double>(shape.clusters),
                    static_cast<unsigned long long>(local_reads.loop_stops),
                    static_cast<double>(local_reads.bytes) / static_cast<double>(shape.bytes));
        for (const int rtt : config.rtts_ms) {
            // RTT 0: the server itself; otherwise through the relay, half the round trip each way.
            std::unique_ptr<testutil::DelayRelay> relay;
            if (rtt > 0) relay = std::make_unique<testutil::DelayRelay>(server.port(), std::chrono::milliseconds(rtt / 2));
            std::vector<std::string> urls;
            for (const std::string& name : names) urls.push_back(relay ? relay->url(name) : server.url(name));
            double best = 1e300;
            for (int round = 0; round < config.rounds; ++round) {
                best = std::min(best, timed_run(skim_args(urls), run_folder));
                if (file_bytes(run_folder / "out.root") != local_output)
                    throw std::runtime_error("the remote skim's output differs from the local one");
            }
            const Reads reads = replay(urls, kept, 134217728);
            std::printf("| %s | %d ms | %.2f s | %.2f | %.1f | %.2f (%llu) | %.3f |\n", label.c_str(), rtt, best,
                        best / best_local,
                        static_cast<double>(reads.loop_requests) / static_cast<double>(shape.clusters),
                        static_cast<double>(reads.loop_stops) / static_cast<double>(shape.clusters),
                        static_cast<unsigned long long>(reads.loop_stops),
                        static_cast<double>(reads.bytes) / static_cast<double>(shape.bytes));
            std::fflush(stdout);
        }
    }

    // Bytes read against what reading exactly the needed baskets reads (no cache: each
    // reader reads the baskets it needs, one by one), at the default and a sparse pass.
    for (const InputSet& set : {config.sets[0], config.sparse}) {
        const std::vector<std::string> local = make_inputs(build, set);
        const Reads needed = replay(local, kept, 0);
        const Reads cached = replay(local, kept, 134217728);
        std::printf("%d x %d events, %d: %d selected (%.2f %%); bytes read / needed %.3f (%.1f MB / %.1f MB)\n",
                    set.files, set.events, set.compression, cached.selected,
                    100.0 * cached.selected / (set.files * static_cast<double>(set.events)),
                    static_cast<double>(cached.bytes) / static_cast<double>(needed.bytes), cached.bytes / 1e6,
                    needed.bytes / 1e6);
    }

    // Remote inputs checked up front through a 100 ms round trip.
    {
        const std::vector<std::string> local = make_inputs(build, config.sets[1]);
        testutil::DelayRelay relay(server.port(), std::chrono::milliseconds(50));
        std::vector<std::string> urls;
        for (int k = 0; k < config.check_inputs; ++k) {
            const std::string name = "many/" + std::to_string(k) + ".root";
            server.publish(local[static_cast<size_t>(k) % local.size()], name);
            urls.push_back(relay.url(name));
        }
        std::printf("%d remote inputs checked up front at RTT 100 ms: %.2f s\n", config.check_inputs,
                    timed_check(urls, kept));
    }
    fs::remove(run_folder / "out.root");
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "bench_remote_skim: %s\n", e.what());
    return 1;
}
