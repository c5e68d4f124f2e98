#include "BenchSupport.h"
#include "algorithms/Algorithm.h"
#include "dsp/FrameAnalyzer.h"
#include "dsp/RealFft.h"

#include <benchmark/benchmark.h>

#include <time.h>

#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <vector>

// Cost of one frame of each morph algorithm on realistic material, also expressed as a
// multiple of one forward RealFft of the same frame length (the "x_fft" counter).
namespace {

constexpr double kRate = 48000.0;
constexpr int kFrames = 8; // consecutive frames cycled through, so phase memories stay in use
constexpr float kMorph = 0.4f;

using tav::bench::flushDenormals;

using tav::bench::threadSeconds;

void addHarmonics(std::vector<float>& x, double f0, int count, float level) {
    for (int h = 1; h <= count && h * f0 < 0.5 * kRate; ++h) {
        const double step = 2.0 * std::numbers::pi * h * f0 / kRate;
        for (std::size_t n = 0; n < x.size(); ++n)
            x[n] += level / static_cast<float>(h) * static_cast<float>(std::sin(step * n));
    }
}

// Realistic material. A: a bright harmonic tone with a noise floor; B: a three-note chord.
std::vector<float> signalA(int length) {
    std::vector<float> x(static_cast<std::size_t>(length), 0.0f);
    addHarmonics(x, 196.0, 40, 0.3f);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> noise(-0.02f, 0.02f);
    for (float& v : x)
        v += noise(rng);
    return x;
}

std::vector<float> signalB(int length) {
    std::vector<float> x(static_cast<std::size_t>(length), 0.0f);
    for (const double f0 : {261.63, 329.63, 392.0})
        addHarmonics(x, f0, 20, 0.2f);
    return x;
}

// Hard material for region-based algorithms: one pure tone (a single region as wide as the
// spectrum) against white noise (a region every few bins).
std::vector<float> pureTone(int length) {
    std::vector<float> x(static_cast<std::size_t>(length), 0.0f);
    addHarmonics(x, 220.0, 1, 0.5f);
    return x;
}

std::vector<float> whiteNoise(int length) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    std::vector<float> x(static_cast<std::size_t>(length));
    for (float& v : x)
        v = noise(rng);
    return x;
}

std::vector<tav::FrameAnalysis> analyse(const std::vector<float>& x, int n) {
    tav::FrameAnalyzer analyzer;
    analyzer.prepare(kRate, n);
    std::vector<tav::FrameAnalysis> frames(kFrames);
    for (int f = 0; f < kFrames; ++f) {
        frames[static_cast<std::size_t>(f)].resize(analyzer.numBins());
        analyzer.analyse(x.data() + static_cast<std::size_t>(f) * (n / 4),
                         frames[static_cast<std::size_t>(f)], true);
    }
    return frames;
}

// CPU seconds per forward transform of length n: the best of several timed runs.
double fftSeconds(int n) {
    static std::map<int, double> measured;
    if (const auto found = measured.find(n); found != measured.end())
        return found->second;
    tav::RealFft fft(n);
    const std::vector<float> x = signalA(n);
    std::vector<float> re(static_cast<std::size_t>(n / 2 + 1)), im(re.size());
    const int calls = std::max(200, (1 << 22) / n);
    double best = 1e9;
    for (int run = 0; run < 7; ++run) {
        const double start = threadSeconds();
        for (int i = 0; i < calls; ++i) {
            fft.forward(x.data(), re.data(), im.data());
            benchmark::DoNotOptimize(re.data());
            benchmark::ClobberMemory();
        }
        best = std::min(best, (threadSeconds() - start) / calls);
    }
    measured[n] = best;
    return best;
}

void runAlgorithmFrames(benchmark::State& state, const std::vector<float>& a,
                        const std::vector<float>& b) {
    flushDenormals();
    const int index = static_cast<int>(state.range(0));
    const int n = static_cast<int>(state.range(1));
    const int numBins = n / 2 + 1;
    const auto framesA = analyse(a, n);
    const auto framesB = analyse(b, n);
    auto algorithm = tav::createAlgorithm(index);
    algorithm->prepare(n, n / 4, kRate);
    std::vector<float> re(static_cast<std::size_t>(numBins)), im(re.size());
    const double fft = fftSeconds(n);

    int frame = 0;
    const double start = threadSeconds();
    for (auto _ : state) {
        tav::MorphContext ctx;
        ctx.a = &framesA[static_cast<std::size_t>(frame)];
        ctx.b = &framesB[static_cast<std::size_t>(frame)];
        ctx.morph = kMorph;
        ctx.fftSize = n;
        ctx.numBins = numBins;
        ctx.hopSize = n / 4;
        ctx.sampleRate = kRate;
        algorithm->process(ctx, re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::ClobberMemory();
        frame = (frame + 1) % kFrames;
    }
    const double perFrame = (threadSeconds() - start) / static_cast<double>(state.iterations());
    state.counters["x_fft"] = perFrame / fft;
    state.counters["fft_us"] = fft * 1e6;
    static const char* const names[] = {"Transport", "Partials", "Imprint", "Diffuse"};
    state.SetLabel(names[index]);
}

int materialLength(const benchmark::State& state) {
    const int n = static_cast<int>(state.range(1));
    return n + (kFrames - 1) * (n / 4);
}

void BM_AlgorithmFrame(benchmark::State& state) {
    runAlgorithmFrames(state, signalA(materialLength(state)), signalB(materialLength(state)));
}

void BM_AlgorithmFrameToneOnNoise(benchmark::State& state) {
    runAlgorithmFrames(state, pureTone(materialLength(state)), whiteNoise(materialLength(state)));
}

void BM_RealFftForwardReference(benchmark::State& state) {
    flushDenormals();
    const int n = static_cast<int>(state.range(0));
    tav::RealFft fft(n);
    const std::vector<float> x = signalA(n);
    std::vector<float> re(static_cast<std::size_t>(n / 2 + 1)), im(re.size());
    for (auto _ : state) {
        fft.forward(x.data(), re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_RealFftForwardReference)->Arg(2048)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AlgorithmFrame)
    ->ArgsProduct({{0, 1, 2, 3}, {2048, 4096}})
    ->ArgNames({"algorithm", "N"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AlgorithmFrameToneOnNoise)
    ->ArgsProduct({{0, 1, 2, 3}, {2048, 4096, 8192}})
    ->ArgNames({"algorithm", "N"})
    ->Unit(benchmark::kMicrosecond);
