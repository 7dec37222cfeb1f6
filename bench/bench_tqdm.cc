// Cost of the progress bar per entry: the gate that almost every call stops at, and a draw.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "tqdm.h"

struct tqdm_peer {
    static void force(tqdm& bar, bool is_tty, int period) {
        bar.is_tty = is_tty;
        bar.period = period;
    }
};

namespace {

constexpr int kTotal = 2000000000;

// Standard output is not a terminal: one flag test.
void BM_ProgressNotTerminal(benchmark::State& state) {
    tqdm bar;
    tqdm_peer::force(bar, false, 1);
    int curr = 0;
    for (auto _ : state) {
        bar.progress(curr, kTotal);
        benchmark::ClobberMemory();  // reload the flag and period as a real loop would
        ++curr;
    }
}
BENCHMARK(BM_ProgressNotTerminal);

// On a terminal between draws: flag test and one remainder.
void BM_ProgressGateOnTerminal(benchmark::State& state) {
    tqdm bar;
    tqdm_peer::force(bar, true, 1024);
    int curr = 1;
    for (auto _ : state) {
        bar.progress(curr, kTotal);
        benchmark::ClobberMemory();
        curr += 2;  // odd: never a multiple of the period
    }
}
BENCHMARK(BM_ProgressGateOnTerminal);

// A full draw with gradient colour, written to /dev/null.
void BM_Draw(benchmark::State& state) {
    std::cout.flush();
    std::fflush(stdout);
    const int saved = dup(1);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    {
        tqdm bar;
        tqdm_peer::force(bar, true, 1);
        int curr = 0;
        for (auto _ : state) {
            bar.progress(curr, kTotal);
            tqdm_peer::force(bar, true, 1);  // keep drawing after the period adapts
            ++curr;
        }
        std::fflush(stdout);
    }
    dup2(saved, 1);
    close(saved);
    close(null_fd);
}
BENCHMARK(BM_Draw);

}  // namespace

BENCHMARK_MAIN();
