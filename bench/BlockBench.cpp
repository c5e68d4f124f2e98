#include "BenchSupport.h"
#include "algorithms/Algorithm.h"
#include "dsp/FrameGeometry.h"
#include "engine/MorphEngine.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

// The longest single process call at small host blocks: a frame's whole work lands in the one
// block where its hop completes, and that block is what decides a dropout. Reported, not a goal.

namespace {

using tav::bench::SteadySecond;
using tav::bench::threadSeconds;

constexpr double kRate = 48000.0;

void BM_LongestBlock(benchmark::State& state) {
    tav::bench::flushDenormals();
    const int block = static_cast<int>(state.range(0));
    const int algorithm = static_cast<int>(state.range(1));
    const SteadySecond input(kRate);
    std::vector<std::vector<float>> out(SteadySecond::kChannels,
                                        std::vector<float>(static_cast<std::size_t>(block)));
    tav::MorphEngine engine;
    engine.prepare(kRate, SteadySecond::kChannels, block, tav::kQualityStandard);
    tav::EngineParams params;
    params.morph = 0.5f;
    params.algorithm = algorithm;

    double longest = 0.0;
    double total = 0.0;
    int64_t calls = 0;
    for (auto _ : state) {
        for (int p = 0; p + block <= input.length(); p += block) {
            const float* inA[] = {input.a[0].data() + p, input.a[1].data() + p};
            const float* inB[] = {input.b[0].data() + p, input.b[1].data() + p};
            float* outs[] = {out[0].data(), out[1].data()};
            const double start = threadSeconds();
            engine.process(inA, inB, outs, block, params);
            const double elapsed = threadSeconds() - start;
            longest = std::max(longest, elapsed);
            total += elapsed;
            ++calls;
        }
        benchmark::DoNotOptimize(out[0].data());
    }
    state.counters["longest_us"] = 1e6 * longest;
    state.counters["mean_us"] = 1e6 * total / static_cast<double>(calls);
    state.counters["block_budget_us"] = 1e6 * block / kRate;
}

BENCHMARK(BM_LongestBlock)
    ->ArgsProduct({{64, 32}, {0, 1, 2, 3}})
    ->ArgNames({"block", "algorithm"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace
