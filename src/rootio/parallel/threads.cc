#include "rootio/parallel/threads.h"

#include <oneapi/tbb/global_control.h>

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

#include "rootio/format/error.h"

namespace rootio {

namespace {

constexpr int kMaxThreads = 1024;

int cores_in_affinity()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) return CPU_COUNT(&set);
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// cgroup v2 "cpu.max": "QUOTA PERIOD" or "max PERIOD". A quota of 1.5 cores gives 2 threads.
int cores_in_cgroup_quota()
{
    std::ifstream in("/sys/fs/cgroup/cpu.max");
    std::string quota, period;
    if (!(in >> quota >> period) || quota == "max") return kMaxThreads;
    const long q = std::strtol(quota.c_str(), nullptr, 10);
    const long p = std::strtol(period.c_str(), nullptr, 10);
    if (q <= 0 || p <= 0) return kMaxThreads;
    return static_cast<int>(std::min<long>(kMaxThreads, (q + p - 1) / p));
}

int decide_thread_count()
{
    if (const char* env = std::getenv("SKIM_THREADS"); env && *env) {
        const std::string_view text(env);
        int n = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size() || n < 1 || n > kMaxThreads)
            throw RootError("SKIM_THREADS=" + std::string(text.substr(0, 32)) +
                            ": not a thread count (a whole number from 1 to " + std::to_string(kMaxThreads) +
                            ")");
        return n;
    }
    return std::max(1, std::min(cores_in_affinity(), cores_in_cgroup_quota()));
}

}  // namespace

int thread_count()
{
    static const int count = decide_thread_count();
    return count;
}

tbb::task_arena& worker_arena()
{
    // oneTBB caps its workers at the cores it sees, and says so on standard error, while
    // SKIM_THREADS may ask for more: the cap follows the count.
    static tbb::global_control cap(tbb::global_control::max_allowed_parallelism,
                                   static_cast<size_t>(thread_count()));
    static tbb::task_arena arena(thread_count());
    return arena;
}

}  // namespace rootio
