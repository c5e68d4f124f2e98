// The transform's long loops on 256-bit vectors. This file alone is compiled for AVX2; nothing
// here runs unless the processor and the operating system support it.

#include "dsp/RealFftPath.h"

#include <immintrin.h>

namespace tav {
namespace {

struct Avx2 {
    using Vec = __m256;
    static constexpr int kWidth = 8;
    static Vec load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, Vec v) { _mm256_storeu_ps(p, v); }
    static Vec add(Vec a, Vec b) { return _mm256_add_ps(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm256_sub_ps(a, b); }
    static Vec mul(Vec a, Vec b) { return _mm256_mul_ps(a, b); }
    static Vec splat(float v) { return _mm256_set1_ps(v); }
    static Vec negate(Vec v) { return _mm256_xor_ps(v, _mm256_set1_ps(-0.0f)); }
    // Lanes 7 .. 0: for walking the mirrored bins M - k downwards.
    static Vec reversed(Vec v) {
        return _mm256_permutevar8x32_ps(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
    }
};

} // namespace
} // namespace tav

#include "dsp/RealFftKernels.h"

namespace tav::fft {

// Constant data only: nothing in this file runs before the processor is known to have AVX2.
constinit const KernelPath kAvx2Kernels{
    &FftKernels<Avx2>::singleStage, &FftKernels<Avx2>::stagePair, &FftKernels<Avx2>::splitForward,
    &FftKernels<Avx2>::splitInverse, Avx2::kWidth};

} // namespace tav::fft
