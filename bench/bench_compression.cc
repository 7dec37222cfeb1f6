// Codec throughput on a realistic basket, and what reusing codec contexts saves.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "rootio/codec/compression.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ~30 kB basket: big-endian floats with 7 mantissa bits kept, then entry offsets.
Bytes basket(size_t n_floats)
{
    std::mt19937 rng(1);
    std::normal_distribution<float> pt(40.f, 15.f);
    Bytes b;
    for (size_t i = 0; i < n_floats; ++i) {
        const float v = std::fabs(pt(rng));
        uint32_t u;
        std::memcpy(&u, &v, 4);
        u &= 0xFFFF0000u;
        for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(u >> s));
    }
    for (size_t i = 0; i < n_floats / 4; ++i)
        for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(uint32_t(i * 16 + 77) >> s));
    return b;
}

Bytes compressed(int setting, const Bytes& in)
{
    Bytes out;
    rootio::Compressor(setting).compress(in, out);
    return out;
}

void BM_Decompress(benchmark::State& state)
{
    const Bytes in = basket(6000);
    const Bytes blocks = compressed(int(state.range(0)), in);
    rootio::Decompressor d;
    Bytes out(in.size());
    for (auto _ : state) {
        d.decompress(blocks, out, "bench");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
    state.counters["ratio"] = double(in.size()) / double(blocks.size());
}
BENCHMARK(BM_Decompress)->ArgName("setting")->Arg(101)->Arg(104)->Arg(207)->Arg(301)->Arg(404)->Arg(505);

void BM_Compress(benchmark::State& state)
{
    const Bytes in = basket(6000);
    rootio::Compressor c(int(state.range(0)));
    Bytes out;
    for (auto _ : state) {
        c.compress(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Compress)->ArgName("setting")->Arg(101)->Arg(104)->Arg(207)->Arg(401)->Arg(404)->Arg(505);

// A small LZMA basket (2 kB): with the reused decoder, and with a fresh one each time.
void BM_SmallLzmaBasketReused(benchmark::State& state)
{
    const Bytes in = basket(400);
    const Bytes blocks = compressed(207, in);
    rootio::Decompressor d;
    Bytes out(in.size());
    for (auto _ : state) d.decompress(blocks, out, "bench");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_SmallLzmaBasketReused);

void BM_SmallLzmaBasketFreshDecoder(benchmark::State& state)
{
    const Bytes in = basket(400);
    const Bytes blocks = compressed(207, in);
    Bytes out(in.size());
    for (auto _ : state) {
        rootio::Decompressor d;
        d.decompress(blocks, out, "bench");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_SmallLzmaBasketFreshDecoder);

}  // namespace

BENCHMARK_MAIN();
