#include "BenchSupport.h"
#include "algorithms/Algorithm.h"
#include "dsp/FrameGeometry.h"
#include "dsp/RealFft.h"
#include "engine/MorphEngine.h"
#include "engine/StftEngine.h"

#include <benchmark/benchmark.h>

#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

// What the engine itself costs, apart from the algorithm and the transforms: the STFT engine
// running a pass-through algorithm against its transforms alone, and the block driver (input
// cleaning, limiter, dry delay, mix) against the STFT engine it drives. Figures are in
// microseconds per channel-frame at 48 kHz Standard (N = 2048, 187.5 channel-frames per
// second of stereo).
namespace {

constexpr double kRate = 48000.0;
constexpr int kFrameSize = 2048;
constexpr int kChannels = 2;
constexpr int kBlock = 512;
constexpr int kLength = 48000;
constexpr double kChannelFrames = kChannels * static_cast<double>(kLength) / (kFrameSize / 4);

using tav::bench::threadSeconds;

// Passes A's spectrum through, so that only the engine's own work remains.
class PassThrough : public tav::Algorithm {
public:
    explicit PassThrough(bool reassign) : reassign(reassign) {}
    void prepare(int, int, double) override {}
    void reset() override {}
    void process(const tav::MorphContext& context, float* outRe, float* outIm) override {
        std::copy(context.a->re.begin(), context.a->re.end(), outRe);
        std::copy(context.a->im.begin(), context.a->im.end(), outIm);
    }
    bool needsReassignedFrequencies() const override { return reassign; }

private:
    bool reassign;
};

// One second of stereo: a harmonic chord on A, filtered noise on B.
struct Signals {
    std::vector<std::vector<float>> a, b, out;
    Signals() : a(kChannels), b(kChannels), out(kChannels) {
        std::mt19937 random(5);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        for (int c = 0; c < kChannels; ++c) {
            a[c].resize(kLength);
            b[c].resize(kLength);
            out[c].resize(kLength);
            float lowpass = 0.0f;
            for (int n = 0; n < kLength; ++n) {
                double tone = 0.0;
                for (double f0 : {220.0, 277.18, 329.63})
                    for (int h = 1; h <= 8; ++h)
                        tone += std::sin(2.0 * std::numbers::pi * f0 * h * n / kRate) / (8.0 * h);
                a[c][n] = static_cast<float>(tone);
                lowpass += 0.2f * (unit(random) - lowpass);
                b[c][n] = 0.5f * lowpass;
            }
        }
    }

    template <class Process>
    void inBlocks(Process process) {
        for (int p = 0; p < kLength; p += kBlock) {
            const float* inA[] = {a[0].data() + p, a[1].data() + p};
            const float* inB[] = {b[0].data() + p, b[1].data() + p};
            float* outs[] = {out[0].data() + p, out[1].data() + p};
            process(inA, inB, outs, std::min(kBlock, kLength - p));
        }
    }
};

// The transforms the STFT engine performs for one second: per channel-frame one forward
// transform per input and one inverse, with or without reassignment.
void transformsOfSecond(tav::RealFft& fft, std::vector<float>& time, std::vector<float>& re,
                        std::vector<float>& im) {
    for (int f = 0; f < static_cast<int>(kChannelFrames); ++f) {
        for (int input = 0; input < 2; ++input)
            fft.forward(time.data(), re.data(), im.data());
        fft.inverse(re.data(), im.data(), time.data());
        benchmark::DoNotOptimize(time.data());
    }
}

void BM_StftEngineOverhead(benchmark::State& state) {
    _mm_setcsr(_mm_getcsr() | 0x8040);
    const bool reassign = state.range(0) != 0;
    Signals signals;
    tav::StftEngine engine;
    engine.prepare(kRate, kChannels, kFrameSize);
    for (int c = 0; c < kChannels; ++c)
        engine.replaceAlgorithm(c, 0, std::make_unique<PassThrough>(reassign));
    auto second = [&] {
        signals.inBlocks([&](const float* const* inA, const float* const* inB, float* const* out,
                             int n) { engine.process(inA, inB, out, n, 0.5f); });
    };
    second();

    tav::RealFft fft(kFrameSize);
    std::vector<float> time(signals.a[0].begin(), signals.a[0].begin() + kFrameSize);
    std::vector<float> re(kFrameSize / 2 + 1), im(kFrameSize / 2 + 1);
    double engineSeconds = 0.0;
    double transformSeconds = 0.0;
    for (auto _ : state) {
        const double start = threadSeconds();
        second();
        const double middle = threadSeconds();
        transformsOfSecond(fft, time, re, im);
        const double end = threadSeconds();
        engineSeconds += middle - start;
        transformSeconds += end - middle;
        state.SetIterationTime(middle - start);
    }
    const double frames = kChannelFrames * static_cast<double>(state.iterations());
    state.counters["engine_us_per_cf"] = 1e6 * engineSeconds / frames;
    state.counters["overhead_us_per_cf"] = 1e6 * (engineSeconds - transformSeconds) / frames;
}
BENCHMARK(BM_StftEngineOverhead)
    ->ArgName("reassign")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_BlockDriverOverhead(benchmark::State& state) {
    _mm_setcsr(_mm_getcsr() | 0x8040);
    const int algorithm = static_cast<int>(state.range(0));
    Signals signals;
    tav::MorphEngine driver;
    driver.prepare(kRate, kChannels, kBlock, tav::kQualityStandard);
    tav::StftEngine engine;
    engine.prepare(kRate, kChannels, kFrameSize);
    engine.requestAlgorithm(algorithm);
    tav::EngineParams params;
    params.morph = 0.5f;
    params.algorithm = algorithm;
    auto driverSecond = [&] {
        signals.inBlocks([&](const float* const* inA, const float* const* inB, float* const* out,
                             int n) { driver.process(inA, inB, out, n, params); });
    };
    auto engineSecond = [&] {
        signals.inBlocks([&](const float* const* inA, const float* const* inB, float* const* out,
                             int n) { engine.process(inA, inB, out, n, params.morph); });
    };
    driverSecond();
    engineSecond();

    double driverSeconds = 0.0;
    double engineSeconds = 0.0;
    for (auto _ : state) {
        const double start = threadSeconds();
        driverSecond();
        const double middle = threadSeconds();
        engineSecond();
        const double end = threadSeconds();
        driverSeconds += middle - start;
        engineSeconds += end - middle;
        state.SetIterationTime(middle - start);
    }
    const double frames = kChannelFrames * static_cast<double>(state.iterations());
    state.counters["driver_us_per_cf"] = 1e6 * (driverSeconds - engineSeconds) / frames;
}
BENCHMARK(BM_BlockDriverOverhead)
    ->ArgName("algorithm")
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
