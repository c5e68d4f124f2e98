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
    // Eight vectors as the rows of an 8 x 8 matrix, transposed in place.
    static void transpose(Vec* rows) {
        const Vec t0 = _mm256_unpacklo_ps(rows[0], rows[1]);
        const Vec t1 = _mm256_unpackhi_ps(rows[0], rows[1]);
        const Vec t2 = _mm256_unpacklo_ps(rows[2], rows[3]);
        const Vec t3 = _mm256_unpackhi_ps(rows[2], rows[3]);
        const Vec t4 = _mm256_unpacklo_ps(rows[4], rows[5]);
        const Vec t5 = _mm256_unpackhi_ps(rows[4], rows[5]);
        const Vec t6 = _mm256_unpacklo_ps(rows[6], rows[7]);
        const Vec t7 = _mm256_unpackhi_ps(rows[6], rows[7]);
        const Vec u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
        const Vec u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
        const Vec u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
        const Vec u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
        const Vec u4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
        const Vec u5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
        const Vec u6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
        const Vec u7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
        rows[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
        rows[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
        rows[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
        rows[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
        rows[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
        rows[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
        rows[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
        rows[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
    }
};

} // namespace
} // namespace tav

#include "dsp/RealFftKernels.h"

namespace tav::fft {

// Constant data only: nothing in this file runs before the processor is known to have AVX2.
constinit const KernelPath kAvx2Kernels{
    &FftKernels<Avx2>::singleStage,     &FftKernels<Avx2>::stagePair,
    &FftKernels<Avx2>::splitForward,    &FftKernels<Avx2>::splitInverse,
    &FftKernels<Avx2>::firstStagesWide, Avx2::kWidth};

} // namespace tav::fft
