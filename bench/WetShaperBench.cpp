#include "BenchSupport.h"
#include "dsp/FrameGeometry.h"
#include "engine/MorphEngine.h"
#include "engine/WetShaper.h"

#include <benchmark/benchmark.h>

#include <xmmintrin.h>

#include <cmath>
#include <ctime>
#include <numbers>
#include <random>
#include <vector>

// The wet level shaping alone per second of 48 kHz stereo, and as a share of the whole engine
// (which includes it) running the same second with each algorithm at Morph 0.5.
namespace {

constexpr double kRate = 48000.0;
constexpr int kChannels = 2;
constexpr int kBlock = 512;
constexpr int kLength = 48000;

using tav::bench::threadSeconds;

using Channels = std::vector<std::vector<float>>;

// A: a harmonic chord; B: noise; the wet signal stands in as their sum.
struct Second {
    Channels a, b, wet, out;
    std::vector<float> share;
    Second()
        : a(kChannels, std::vector<float>(kLength)), b(a), wet(a), out(a), share(kBlock, 1.0f) {
        std::mt19937 random(9);
        std::uniform_real_distribution<float> unit(-0.3f, 0.3f);
        for (int c = 0; c < kChannels; ++c)
            for (int n = 0; n < kLength; ++n) {
                double tone = 0.0;
                for (double f0 : {220.0, 277.18, 329.63})
                    for (int h = 1; h <= 8; ++h)
                        tone += std::sin(2.0 * std::numbers::pi * f0 * h * n / kRate) / (8.0 * h);
                a[c][n] = static_cast<float>(tone);
                b[c][n] = unit(random);
            }
    }

    void refreshWet() {
        for (int c = 0; c < kChannels; ++c)
            for (int n = 0; n < kLength; ++n)
                wet[c][n] = 0.5f * (a[c][n] + b[c][n]);
    }

    void shape(tav::WetShaper& shaper) {
        for (int p = 0; p < kLength; p += kBlock) {
            const float* inA[] = {a[0].data() + p, a[1].data() + p};
            const float* inB[] = {b[0].data() + p, b[1].data() + p};
            float* wets[] = {wet[0].data() + p, wet[1].data() + p};
            shaper.process(inA, inB, wets, share.data(), std::min(kBlock, kLength - p), 0.5f);
        }
    }

    void runEngine(tav::MorphEngine& engine, const tav::EngineParams& params) {
        for (int p = 0; p < kLength; p += kBlock) {
            const float* inA[] = {a[0].data() + p, a[1].data() + p};
            const float* inB[] = {b[0].data() + p, b[1].data() + p};
            float* outs[] = {out[0].data() + p, out[1].data() + p};
            engine.process(inA, inB, outs, std::min(kBlock, kLength - p), params);
        }
    }
};

void BM_WetShaperSecondOf48kStereo(benchmark::State& state) {
    _mm_setcsr(_mm_getcsr() | 0x8040);
    Second second;
    tav::WetShaper shaper;
    shaper.prepare(kRate, kChannels, tav::fftSizeForRate(kRate));
    tav::MorphEngine engine;
    engine.prepare(kRate, kChannels, kBlock, tav::kQualityStandard);
    tav::EngineParams params;
    params.morph = 0.5f;
    params.algorithm = static_cast<int>(state.range(0));
    second.runEngine(engine, params); // settles the algorithm and every history

    double shaperSeconds = 0.0;
    double engineSeconds = 0.0;
    for (auto _ : state) {
        second.refreshWet();
        const double start = threadSeconds();
        second.shape(shaper);
        const double middle = threadSeconds();
        second.runEngine(engine, params);
        const double end = threadSeconds();
        shaperSeconds += middle - start;
        engineSeconds += end - middle;
        state.SetIterationTime(middle - start);
        benchmark::DoNotOptimize(second.wet[0].data());
        benchmark::DoNotOptimize(second.out[0].data());
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["shaper_ms_per_s"] = 1e3 * shaperSeconds / iterations;
    state.counters["engine_ms_per_s"] = 1e3 * engineSeconds / iterations;
    state.counters["share_pct"] = 100.0 * shaperSeconds / engineSeconds;
}
BENCHMARK(BM_WetShaperSecondOf48kStereo)
    ->DenseRange(0, tav::kAlgorithmCount - 1)
    ->ArgName("algorithm")
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace
