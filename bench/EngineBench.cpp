#include "BenchSupport.h"
#include "algorithms/Algorithm.h"
#include "dsp/FrameGeometry.h"
#include "engine/MorphEngine.h"
#include "support/AllocationCounter.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

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

using tav::bench::threadSeconds;
using Programme = tav::bench::SteadySecond;

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

// The transforms the engine performs for that second, done by FFTW alone: per frame and channel
// one forward transform per input (reassignment takes its second window from the same spectrum)
// and one inverse. FFTW sets the floor, so a faster transform of the engine's own shows as a
// gain rather than as a worse ratio.
class FftwFloor {
public:
    explicit FftwFloor(int n)
        : real(fftwf_alloc_real(static_cast<std::size_t>(n))),
          spectrum(fftwf_alloc_complex(static_cast<std::size_t>(n / 2 + 1))),
          forward(fftwf_plan_dft_r2c_1d(n, real, spectrum, FFTW_MEASURE)),
          inverse(fftwf_plan_dft_c2r_1d(n, spectrum, real, FFTW_MEASURE)) {
        for (int i = 0; i < n; ++i)
            real[i] = std::sin(0.01f * static_cast<float>(i));
    }
    ~FftwFloor() {
        fftwf_destroy_plan(forward);
        fftwf_destroy_plan(inverse);
        fftwf_free(real);
        fftwf_free(spectrum);
    }
    FftwFloor(const FftwFloor&) = delete;
    FftwFloor& operator=(const FftwFloor&) = delete;

    void transformsOfSecond(int frames) {
        for (int f = 0; f < frames * kChannels; ++f) {
            fftwf_execute(forward);
            fftwf_execute(forward);
            fftwf_execute(inverse);
            benchmark::DoNotOptimize(real);
        }
    }

private:
    float* real;
    fftwf_complex* spectrum;
    fftwf_plan forward, inverse;
};

void BM_MorphEngineSecond(benchmark::State& state) {
    tav::bench::flushDenormals();
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
    FftwFloor floor(fftSize);
    const int frames = static_cast<int>(input.a[0].size()) / (fftSize / 4);
    const bool reassign = tav::createAlgorithm(algorithm)->needsReassignedFrequencies();

    double engineSeconds = 0.0;
    double transformSeconds = 0.0;
    for (auto _ : state) {
        const double start = threadSeconds();
        processSecond(engine, input, out, params);
        const double middle = threadSeconds();
        floor.transformsOfSecond(frames);
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

// An instance whose inputs are both exactly silent, against the same instance playing: what a
// track that stops costs while the plug-in stays on it. Measured over the second second of
// silence, once the tails of the sound have died away.
void BM_IdleSecond(benchmark::State& state) {
    tav::bench::flushDenormals();
    const double rate = 48000.0;
    const int algorithm = static_cast<int>(state.range(0));
    const Programme input(rate);
    Programme silence(rate);
    for (auto* side : {&silence.a, &silence.b})
        for (auto& channel : *side)
            std::fill(channel.begin(), channel.end(), 0.0f);
    std::vector<std::vector<float>> out(kChannels, std::vector<float>(input.a[0].size()));

    tav::MorphEngine engine;
    engine.prepare(rate, kChannels, kHostBlock, tav::kQualityStandard);
    tav::EngineParams params;
    params.morph = 0.5f;
    params.algorithm = algorithm;
    double playing = 0.0, idle = 0.0;
    for (auto _ : state) {
        const double start = threadSeconds();
        processSecond(engine, input, out, params);
        const double played = threadSeconds();
        processSecond(engine, silence, out, params);
        const double middle = threadSeconds();
        processSecond(engine, silence, out, params);
        const double end = threadSeconds();
        playing += played - start;
        idle += end - middle;
        state.SetIterationTime(end - middle);
    }
    state.counters["idle_ms_per_s"] = 1e3 * idle / static_cast<double>(state.iterations());
    state.counters["idle_share"] = idle / playing;
}
BENCHMARK(BM_IdleSecond)
    ->DenseRange(0, tav::kAlgorithmCount - 1)
    ->ArgName("algorithm")
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
