// Skimming a chain of generated files read locally and from an XRootD server on localhost.
// Measures the real skim (a child process): events per second over each kind of input,
// and checks the two outputs are the same bytes. Then replays the skim's reads in this
// process (the driver's cache settings, branch statuses and reads) and counts what the
// files were asked for: read requests per cluster and bytes read against the files' size.
//
//   bench_remote_skim [--files N] [--events N] [--compression SETTING] [--rounds N]
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
#include <stdexcept>
#include <string>
#include <vector>

#include "Heron.h"
#include "TFile.h"
#include "TTree.h"
#include "rootio/io/byte_source.h"
#include "rootio/file/root_file.h"
#include "rootio/tree/tree_reader.h"
#include "selection.h"
#include "xrootd_server.h"

namespace {

namespace fs = std::filesystem;

struct Config {
    int files = 4;
    int events = 30000;  // per file
    int compression = 505;
    int rounds = 3;
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

std::vector<std::string> make_inputs(const fs::path& build, const Config& c)
{
    const fs::path folder = build / "bench-data" /
                            ("chain-" + std::to_string(c.files) + "x" + std::to_string(c.events) + "-c" +
                             std::to_string(c.compression));
    fs::create_directories(folder);
    std::vector<std::string> inputs;
    for (int k = 1; k <= c.files; ++k) {
        const fs::path file = folder / ("part-" + std::to_string(k) + ".root");
        if (!fs::exists(file) || fs::last_write_time(file) < fs::last_write_time(build / "make-example")) {
            std::fprintf(stderr, "bench_remote_skim: making %s ...\n", file.c_str());
            const fs::path partial = file.string() + ".partial";
            timed_run({(build / "make-example").string(), "--events", std::to_string(c.events), "--seed",
                       std::to_string(k), "--compression", std::to_string(c.compression), "--output",
                       partial.string(), "--quiet"},
                      folder);
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
    uint64_t open_requests = 0;  // header, keys and tree record of each file
    uint64_t loop_requests = 0;  // the event loop's
    uint64_t bytes = 0;
    double seconds = 0;
};

// The skim's reads without its output: each file opened, pruned to the kept branches, the
// selection's branches read for every entry and the kept ones for the selected entries.
Reads replay(const std::vector<std::string>& inputs, const std::vector<std::string>& kept)
{
    Reads r;
    const rootio::ReadTotals start = rootio::read_totals();
    const auto clock_start = std::chrono::steady_clock::now();
    std::vector<LorentzVector> veto, tight;
    for (const std::string& input : inputs) {
        const rootio::ReadTotals before_open = rootio::read_totals();
        TFile file(input.c_str());
        auto* tree = static_cast<TTree*>(file.Get("Events"));
        r.open_requests += rootio::read_totals().requests - before_open.requests;
        const rootio::ReadTotals before_loop = rootio::read_totals();
        tree->SetCacheSize(134217728);
        tree->SetCacheLearnEntries(100);
        tree->SetBranchStatus("*", 0);
        for (const std::string& name : kept) tree->SetBranchStatus(name.c_str(), 1);
        nt.Init(tree);
        for (Long64_t entry = 0; entry < tree->GetEntriesFast(); ++entry) {
            nt.GetEntry(entry);
            LorentzVector lep_p4;
            if (passes_lepton_selection(veto, tight, lep_p4) && passes_jet_selection(lep_p4))
                tree->GetEntry(entry);
        }
        nt.Init(nullptr);
        r.loop_requests += rootio::read_totals().requests - before_loop.requests;
    }
    r.bytes = rootio::read_totals().bytes - start.bytes;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - clock_start).count();
    return r;
}

Config parse(int argc, char** argv)
{
    Config c;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (option == "--files")
            c.files = value;
        else if (option == "--events")
            c.events = value;
        else if (option == "--compression")
            c.compression = value;
        else if (option == "--rounds")
            c.rounds = value;
        else
            throw std::runtime_error("unknown option " + option);
    }
    if (c.files < 1 || c.events < 1 || c.rounds < 1) throw std::runtime_error("counts must be positive");
    return c;
}

}  // namespace

int main(int argc, char** argv)
try {
    const Config config = parse(argc, argv);
    const fs::path build = build_folder();
    const std::vector<std::string> local = make_inputs(build, config);
    testutil::XRootDServer server;
    std::vector<std::string> remote;
    for (size_t k = 0; k < local.size(); ++k)
        remote.push_back(server.publish(local[k], "store/part-" + std::to_string(k + 1) + ".root"));
    const ChainShape shape = shape_of(local);

    // The real skim, fastest of the rounds, each kind of input in turn within a round.
    const fs::path run_folder = build / "bench-data" / "remote-run";
    fs::create_directories(run_folder);
    auto skim_args = [&](const std::vector<std::string>& inputs, const std::string& output) {
        std::vector<std::string> args = {(build / "skim").string(), "-o", output};
        args.insert(args.end(), inputs.begin(), inputs.end());
        return args;
    };
    double best_local = 1e300, best_remote = 1e300;
    for (int round = 0; round < config.rounds; ++round) {
        best_local = std::min(best_local, timed_run(skim_args(local, "out.root"), run_folder));
        const std::string local_output = file_bytes(run_folder / "out.root");
        best_remote = std::min(best_remote, timed_run(skim_args(remote, "out.root"), run_folder));
        if (file_bytes(run_folder / "out.root") != local_output)
            throw std::runtime_error("the remote skim's output differs from the local one");
    }
    std::vector<std::string> kept;
    {
        const auto output = rootio::RootFile::open((run_folder / "out.root").string());
        for (const auto& branch : rootio::read_tree(*output, "Events").branches) kept.push_back(branch.name);
    }

    const Reads local_reads = replay(local, kept);
    const Reads remote_reads = replay(remote, kept);

    std::printf("chain: %d files, %lld events, %lld clusters, %.1f MB (compression %d); %zu kept branches\n",
                config.files, static_cast<long long>(shape.entries), static_cast<long long>(shape.clusters),
                static_cast<double>(shape.bytes) / 1e6, config.compression, kept.size());
    std::printf(
        "| input | skim | events/s | requests per file opened | requests per cluster | bytes read / size "
        "|\n");
    std::printf("|---|---|---|---|---|---|\n");
    auto row = [&](const char* kind, double seconds, const Reads& reads) {
        std::printf("| %s | %.2f s | %.0f | %.1f | %.1f | %.3f |\n", kind, seconds,
                    static_cast<double>(shape.entries) / seconds,
                    static_cast<double>(reads.open_requests) / config.files,
                    static_cast<double>(reads.loop_requests) / static_cast<double>(shape.clusters),
                    static_cast<double>(reads.bytes) / static_cast<double>(shape.bytes));
    };
    row("local files", best_local, local_reads);
    row("root://localhost", best_remote, remote_reads);
    std::printf("remote / local wall time: %.2f (replayed reads: %.2f)\n", best_remote / best_local,
                remote_reads.seconds / local_reads.seconds);
    fs::remove(run_folder / "out.root");
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "bench_remote_skim: %s\n", e.what());
    return 1;
}
