#include "dsp/RealFft.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <xmmintrin.h>

#include <random>
#include <vector>

// RealFft against FFTW's single-precision real transforms of the same sizes, so that the
// ratio shows in one run. FFTW plans are measured outside the timed loop.
namespace {

std::vector<float> testSignal(int n) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(static_cast<std::size_t>(n));
    for (float& v : x)
        v = dist(rng);
    return x;
}

// The engine runs with denormals flushed; so do the transforms here (FFTW's c2r overwrites its
// input, so its repeated runs work on whatever values the previous run left behind).
void flushDenormals() {
    _mm_setcsr(_mm_getcsr() | 0x8040);
}

void reportRate(benchmark::State& state, int n) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["ns_per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * n,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

using tav::RealFft;
constexpr auto kWidest = RealFft::VectorPath::Widest;
constexpr auto kBaseline = RealFft::VectorPath::Baseline;

template <RealFft::VectorPath path>
void BM_RealFftForward(benchmark::State& state) {
    flushDenormals();
    const int n = static_cast<int>(state.range(0));
    RealFft fft(n, path);
    const std::vector<float> x = testSignal(n);
    std::vector<float> re(static_cast<std::size_t>(n / 2 + 1)), im(re.size());
    for (auto _ : state) {
        fft.forward(x.data(), re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::ClobberMemory();
    }
    reportRate(state, n);
}

template <RealFft::VectorPath path>
void BM_RealFftInverse(benchmark::State& state) {
    flushDenormals();
    const int n = static_cast<int>(state.range(0));
    RealFft fft(n, path);
    const std::vector<float> x = testSignal(n);
    std::vector<float> re(static_cast<std::size_t>(n / 2 + 1)), im(re.size());
    std::vector<float> y(static_cast<std::size_t>(n));
    fft.forward(x.data(), re.data(), im.data());
    for (auto _ : state) {
        fft.inverse(re.data(), im.data(), y.data());
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    reportRate(state, n);
}

// FFTW wants its own aligned buffers; the plan is made once with FFTW_MEASURE.
struct FftwBuffers {
    float* real;
    fftwf_complex* spectrum;
    explicit FftwBuffers(int n)
        : real(fftwf_alloc_real(static_cast<std::size_t>(n))),
          spectrum(fftwf_alloc_complex(static_cast<std::size_t>(n / 2 + 1))) {}
    ~FftwBuffers() {
        fftwf_free(real);
        fftwf_free(spectrum);
    }
    FftwBuffers(const FftwBuffers&) = delete;
    FftwBuffers& operator=(const FftwBuffers&) = delete;
};

void BM_FftwForward(benchmark::State& state) {
    flushDenormals();
    const int n = static_cast<int>(state.range(0));
    FftwBuffers buffers(n);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, buffers.real, buffers.spectrum, FFTW_MEASURE);
    const std::vector<float> x = testSignal(n);
    std::copy(x.begin(), x.end(), buffers.real);
    for (auto _ : state) {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(buffers.spectrum);
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(plan);
    reportRate(state, n);
}

void BM_FftwInverse(benchmark::State& state) {
    flushDenormals();
    const int n = static_cast<int>(state.range(0));
    FftwBuffers buffers(n);
    fftwf_plan plan = fftwf_plan_dft_c2r_1d(n, buffers.spectrum, buffers.real, FFTW_MEASURE);
    fftwf_plan forward = fftwf_plan_dft_r2c_1d(n, buffers.real, buffers.spectrum, FFTW_ESTIMATE);
    const std::vector<float> x = testSignal(n);
    std::copy(x.begin(), x.end(), buffers.real);
    fftwf_execute(forward);
    for (auto _ : state) {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(buffers.real);
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(plan);
    reportRate(state, n);
}

} // namespace

// The widest vectors this processor offers (what the engine uses), then the SSE2 baseline.
BENCHMARK_TEMPLATE(BM_RealFftForward, kWidest)->RangeMultiplier(2)->Range(512, 16384);
BENCHMARK_TEMPLATE(BM_RealFftForward, kBaseline)->RangeMultiplier(2)->Range(512, 16384);
BENCHMARK(BM_FftwForward)->RangeMultiplier(2)->Range(512, 16384);
BENCHMARK_TEMPLATE(BM_RealFftInverse, kWidest)->RangeMultiplier(2)->Range(512, 16384);
BENCHMARK_TEMPLATE(BM_RealFftInverse, kBaseline)->RangeMultiplier(2)->Range(512, 16384);
BENCHMARK(BM_FftwInverse)->RangeMultiplier(2)->Range(512, 16384);
