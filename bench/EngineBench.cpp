#include "algorithms/Algorithm.h"
#include "dsp/FrameGeometry.h"
#include "dsp/MorphEngine.h"
#include "dsp/RealFft.h"
#include "support/AllocationCounter.h"

#include <benchmark/benchmark.h>

#include <xmmintrin.h>

#include <cmath>
#include <ctime>
#include <numbers>
#include <random>
#include <vector>

// The whole audio path per second of stereo audio, against the floor set by its transforms,
// and the memory that preparing the engine takes.

namespace {

constexpr int kChannels = 2;
constexpr int kHostBlock = 512;

// CPU time of this thread: the machine may be busy with other work while benchmarks run.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// One second of steady material: a harmonic chord on A, filtered noise on B.
struct Programme {
    std::vector<std::vector<float>> a, b;

    explicit Programme(double rate) {
        const int length = static_cast<int>(rate);
        std::mt19937 random(5);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        a.assign(kChannels, std::vector<float>(static_cast<std::size_t>(length)));
        b.assign(kChannels, std::vector<float>(static_cast<std::size_t>(length)));
        for (int c = 0; c < kChannels; ++c) {
            float lowpass = 0.0f;
            for (int n = 0; n < length; ++n) {
                double tone = 0.0;
                for (double f0 : {220.0, 277.18, 329.63})
                    for (int h = 1; h <= 8; ++h)
                        tone += std::sin(2.0 * std::numbers::pi * f0 * h * n / rate) / (8.0 * h);
                a[c][n] = static_cast<float>(tone);
                lowpass += 0.2f * (unit(random) - lowpass);
                b[c][n] = 0.5f * lowpass;
            }
        }
    }
};

// Runs one second of stereo audio through the engine in host blocks.
void processSecond(tav::MorphEngine& engine, const Programme& input,
                   std::vector<std::vector<float>>& out, const tav::EngineParams& params) {
    const int length = static_cast<int>(input.a[0].size());
    for (int p = 0; p < length; p += kHostBlock) {
        const int n = std::min(kHostBlock, length - p);
        const float* inA[] = {input.a[0].data() + p, input.a[1].data() + p};
        const float* inB[] = {input.b[0].data() + p, input.b[1].data() + p};
        float* outs[] = {out[0].data() + p, out[1].data() + p};
        engine.process(inA, inB, outs, n, params);
    }
}

// The transforms the engine performs for that second, alone: per frame and channel two
// forward transforms (four with reassignment) and one inverse.
void transformsOfSecond(tav::RealFft& fft, int frames, bool reassign, std::vector<float>& time,
                        std::vector<float>& re, std::vector<float>& im) {
    const int forwards = reassign ? 4 : 2;
    for (int f = 0; f < frames * kChannels; ++f) {
        for (int k = 0; k < forwards; ++k)
            fft.forward(time.data(), re.data(), im.data());
        fft.inverse(re.data(), im.data(), time.data());
        benchmark::DoNotOptimize(time.data());
    }
}

void BM_MorphEngineSecond(benchmark::State& state) {
    _mm_setcsr(_mm_getcsr() | 0x8040);
    const double rate = static_cast<double>(state.range(0));
    const int quality = static_cast<int>(state.range(1));
    const int algorithm = static_cast<int>(state.range(2));
    const Programme input(rate);
    std::vector<std::vector<float>> out(kChannels, std::vector<float>(input.a[0].size()));

    tav::MorphEngine engine;
    engine.prepare(rate, kChannels, kHostBlock, quality);
    tav::EngineParams params;
    params.morph = 0.5f;
    params.algorithm = algorithm;
    processSecond(engine, input, out, params); // settles the switch and every history

    const int fftSize = tav::fftSizeFor(rate, quality);
    tav::RealFft fft(fftSize);
    std::vector<float> time(static_cast<std::size_t>(fftSize));
    std::vector<float> re(static_cast<std::size_t>(fftSize / 2 + 1));
    std::vector<float> im(static_cast<std::size_t>(fftSize / 2 + 1));
    std::copy(input.a[0].begin(), input.a[0].begin() + fftSize, time.begin());
    const int frames = static_cast<int>(input.a[0].size()) / (fftSize / 4);
    const bool reassign = tav::createAlgorithm(algorithm)->needsReassignedFrequencies();

    double engineSeconds = 0.0;
    double transformSeconds = 0.0;
    for (auto _ : state) {
        const double start = threadSeconds();
        processSecond(engine, input, out, params);
        const double middle = threadSeconds();
        transformsOfSecond(fft, frames, reassign, time, re, im);
        const double end = threadSeconds();
        engineSeconds += middle - start;
        transformSeconds += end - middle;
        state.SetIterationTime(middle - start);
        benchmark::DoNotOptimize(out[0].data());
    }
    state.counters["realtime_x"] = static_cast<double>(state.iterations()) / engineSeconds;
    state.counters["fft_floor_x"] = engineSeconds / transformSeconds;
    state.SetLabel(std::string{"N="} + std::to_string(fftSize) + (reassign ? " reassign" : ""));
}

void engineArguments(benchmark::internal::Benchmark* b) {
    for (int rate : {44100, 48000, 96000})
        for (int quality : {tav::kQualityStandard, tav::kQualityHigh})
            for (int algorithm = 0; algorithm < tav::kAlgorithmCount; ++algorithm)
                b->Args({rate, quality, algorithm});
    b->ArgNames({"rate", "quality", "algorithm"});
}
BENCHMARK(BM_MorphEngineSecond)
    ->Apply(engineArguments)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Heap bytes requested by prepare for a mono and a stereo engine; their difference is the
// cost of one channel.
std::size_t prepareBytes(double rate, int channels, int quality) {
    tav::MorphEngine engine;
    const tav::test::AllocationCounter counter;
    engine.prepare(rate, channels, kHostBlock, quality);
    return counter.bytes();
}

void BM_PrepareMemory(benchmark::State& state) {
    const double rate = static_cast<double>(state.range(0));
    const int quality = static_cast<int>(state.range(1));
    std::size_t mono = 0, stereo = 0;
    for (auto _ : state) {
        mono = prepareBytes(rate, 1, quality);
        stereo = prepareBytes(rate, 2, quality);
    }
    state.counters["bytes_per_channel"] = static_cast<double>(stereo - mono);
    state.counters["bytes_stereo"] = static_cast<double>(stereo);
}
BENCHMARK(BM_PrepareMemory)
    ->ArgsProduct({{44100, 48000, 96000, 192000}, {tav::kQualityStandard, tav::kQualityHigh}})
    ->ArgNames({"rate", "quality"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
