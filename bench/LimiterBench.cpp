#include "dsp/LookaheadLimiter.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

// Cost of limiting one second of 48 kHz stereo audio, in host-sized blocks, with peaks
// frequent enough that the gain keeps moving.
namespace {

void BM_LimiterSecondOf48kStereo(benchmark::State& state) {
    constexpr double kRate = 48000.0;
    constexpr int kSeconds = 1;
    const int blockSize = static_cast<int>(state.range(0));
    const int length = static_cast<int>(kRate) * kSeconds;

    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-1.5f, 1.5f);
    std::vector<std::vector<float>> source(2, std::vector<float>(static_cast<std::size_t>(length)));
    for (auto& channel : source)
        for (float& v : channel)
            v = dist(rng);
    auto work = source;

    tav::LookaheadLimiter limiter;
    limiter.prepare(kRate, 2);
    for (auto _ : state) {
        state.PauseTiming();
        work = source;
        state.ResumeTiming();
        for (int start = 0; start < length; start += blockSize) {
            float* channels[2] = {work[0].data() + start, work[1].data() + start};
            limiter.process(channels, std::min(blockSize, length - start), 0.0f);
        }
        benchmark::DoNotOptimize(work[0].data());
        benchmark::ClobberMemory();
    }
    state.counters["cpu_per_audio_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kSeconds,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_LimiterSecondOf48kStereo)->Arg(64)->Arg(512)->Unit(benchmark::kMicrosecond);
