#include "dsp/RealFft.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstdint>
#include <numbers>

#include <emmintrin.h>

#include "dsp/RealFftPath.h"

namespace tav {
namespace {

// Number of bits b with 2^b >= m (0 for m = 1).
int bitsFor(int m) {
    int bits = 0;
    while ((1 << bits) < m)
        ++bits;
    return bits;
}

int reverseBits(int value, int bits) {
    int reversed = 0;
    for (int b = 0; b < bits; ++b) {
        reversed = (reversed << 1) | (value & 1);
        value >>= 1;
    }
    return reversed;
}

// The transforms are written with SSE2, which every x86-64 CPU has; the long loops also come
// in AVX2 (RealFftAvx2.cpp), chosen when the transform is made. Each lane performs the same IEEE
// single-precision operations in the same order as the scalar butterfly would (no fused
// multiply-add), so the results do not depend on the vector width.
struct Sse2 {
    using Vec = __m128;
    static constexpr int kWidth = 4;
    static Vec load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, Vec v) { _mm_storeu_ps(p, v); }
    static Vec add(Vec a, Vec b) { return _mm_add_ps(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm_sub_ps(a, b); }
    static Vec mul(Vec a, Vec b) { return _mm_mul_ps(a, b); }
    static Vec splat(float v) { return _mm_set1_ps(v); }
    static Vec negate(Vec v) { return _mm_xor_ps(v, _mm_set1_ps(-0.0f)); }
    // Lanes 3, 2, 1, 0: for walking the mirrored bins M - k downwards.
    static Vec reversed(Vec v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }
    // Four vectors as the rows of a 4 x 4 matrix, transposed in place.
    static void transpose(Vec* rows) { _MM_TRANSPOSE4_PS(rows[0], rows[1], rows[2], rows[3]); }
};

using Vec = Sse2::Vec;
inline Vec load(const float* p) {
    return Sse2::load(p);
}
inline void store(float* p, Vec v) {
    Sse2::store(p, v);
}
inline Vec add(Vec a, Vec b) {
    return Sse2::add(a, b);
}
inline Vec sub(Vec a, Vec b) {
    return Sse2::sub(a, b);
}
inline Vec mul(Vec a, Vec b) {
    return Sse2::mul(a, b);
}
inline Vec splat(float v) {
    return Sse2::splat(v);
}

} // namespace
} // namespace tav

#include "dsp/RealFftKernels.h"

namespace tav {
namespace {

// Floats between the scratch arrays: two cache lines.
constexpr int kScratchPadding = 32;

// Points per slice for the short stages: 8 KiB of real and imaginary parts.
constexpr int kCacheBlock = 1024;

// The stages up to this length run in registers, right after the gather.
constexpr int kRegisterStagesLength = 16;

// From this size on the gather loads four groups of sixteen at a time (needs M/16 >= 4).
constexpr int kWideGatherMinimum = 64;

inline void butterfly(Vec& lowRe, Vec& lowIm, Vec& highRe, Vec& highIm, Vec cw, Vec sw) {
    FftKernels<Sse2>::butterfly(lowRe, lowIm, highRe, highIm, cw, sw);
}

} // namespace

namespace fft {

const KernelPath& baselinePath() {
    static constexpr KernelPath path{
        &FftKernels<Sse2>::singleStage,     &FftKernels<Sse2>::stagePair,
        &FftKernels<Sse2>::splitForward,    &FftKernels<Sse2>::splitInverse,
        &FftKernels<Sse2>::firstStagesWide, Sse2::kWidth};
    return path;
}

const KernelPath* avx2Path() {
#if defined(__x86_64__) || defined(_M_X64)
    return __builtin_cpu_supports("avx2") ? &kAvx2Kernels : nullptr;
#else
    return nullptr;
#endif
}

} // namespace fft

RealFft::RealFft(int size, VectorPath vectors)
    : n(size), half(size / 2),
      kernels(vectors == VectorPath::Widest && fft::avx2Path() != nullptr ? fft::avx2Path()
                                                                          : &fft::baselinePath()) {
    assert(size >= 8 && (size & (size - 1)) == 0);
    const auto m = static_cast<std::size_t>(half);
    constexpr double twoPi = 2.0 * std::numbers::pi;

    const int bits = bitsFor(half);
    bitReversal.resize(m);
    for (int i = 0; i < half; ++i)
        bitReversal[static_cast<std::size_t>(i)] = reverseBits(i, bits);

    // Stage tables concatenated: the stage of length L starts at entry L/2 - 2.
    stageCos.reserve(m - 2);
    stageSin.reserve(m - 2);
    for (int length = 4; length <= half; length *= 2) {
        for (int k = 0; k < length / 2; ++k) {
            const double angle = -twoPi * k / length;
            stageCos.push_back(static_cast<float>(std::cos(angle)));
            stageSin.push_back(static_cast<float>(std::sin(angle)));
        }
    }

    splitCos.resize(m + 1);
    splitSin.resize(m + 1);
    for (int k = 0; k <= half; ++k) {
        const double angle = -twoPi * k / n;
        splitCos[static_cast<std::size_t>(k)] = static_cast<float>(std::cos(angle));
        splitSin[static_cast<std::size_t>(k)] = static_cast<float>(std::sin(angle));
    }

    scratchStride = half + kScratchPadding;
    scratch.assign(4 * static_cast<std::size_t>(scratchStride), 0.0f);
}

int RealFft::vectorWidth() const {
    return kernels->width;
}

void RealFft::firstStages(const float* sourceRe, const float* sourceIm, int begin, int end) {
    const int* reversal = bitReversal.data();
    float* re = resultRe();
    float* im = resultIm();

    // Four points gathered in bit-reversed order, through the stages of length 2 and 4 within
    // the vector. Length 2 has the twiddle 1: sums and differences, no multiplications.
    const Vec negateOdd = _mm_castsi128_ps(_mm_setr_epi32(0, INT32_MIN, 0, INT32_MIN));
    const Vec negateHigh = _mm_castsi128_ps(_mm_setr_epi32(0, 0, INT32_MIN, INT32_MIN));
    const Vec cos4 = _mm_setr_ps(stageCos[0], stageCos[1], stageCos[0], stageCos[1]);
    const Vec sin4 = _mm_setr_ps(stageSin[0], stageSin[1], stageSin[0], stageSin[1]);
    const auto gatherFour = [&](int p, Vec& outRe, Vec& outIm) {
        const int j0 = reversal[p], j1 = reversal[p + 1];
        const int j2 = reversal[p + 2], j3 = reversal[p + 3];
        Vec xRe = _mm_setr_ps(sourceRe[j0], sourceRe[j1], sourceRe[j2], sourceRe[j3]);
        Vec xIm = _mm_setr_ps(sourceIm[j0], sourceIm[j1], sourceIm[j2], sourceIm[j3]);

        xRe = add(_mm_shuffle_ps(xRe, xRe, _MM_SHUFFLE(2, 2, 0, 0)),
                  _mm_xor_ps(_mm_shuffle_ps(xRe, xRe, _MM_SHUFFLE(3, 3, 1, 1)), negateOdd));
        xIm = add(_mm_shuffle_ps(xIm, xIm, _MM_SHUFFLE(2, 2, 0, 0)),
                  _mm_xor_ps(_mm_shuffle_ps(xIm, xIm, _MM_SHUFFLE(3, 3, 1, 1)), negateOdd));

        const Vec lowRe = _mm_shuffle_ps(xRe, xRe, _MM_SHUFFLE(1, 0, 1, 0));
        const Vec lowIm = _mm_shuffle_ps(xIm, xIm, _MM_SHUFFLE(1, 0, 1, 0));
        const Vec dRe = _mm_shuffle_ps(xRe, xRe, _MM_SHUFFLE(3, 2, 3, 2));
        const Vec dIm = _mm_shuffle_ps(xIm, xIm, _MM_SHUFFLE(3, 2, 3, 2));
        const Vec tRe = sub(mul(dRe, cos4), mul(dIm, sin4));
        const Vec tIm = add(mul(dIm, cos4), mul(dRe, sin4));
        outRe = add(lowRe, _mm_xor_ps(tRe, negateHigh));
        outIm = add(lowIm, _mm_xor_ps(tIm, negateHigh));
    };

    if (end - begin < 16) {
        // Only the smallest transforms (M = 4 or 8) end here.
        Vec aRe, aIm, bRe, bIm;
        gatherFour(begin, aRe, aIm);
        if (end - begin == 8) {
            gatherFour(begin + 4, bRe, bIm);
            butterfly(aRe, aIm, bRe, bIm, load(stageCos.data() + 2), load(stageSin.data() + 2));
            store(re + begin + 4, bRe);
            store(im + begin + 4, bIm);
        }
        store(re + begin, aRe);
        store(im + begin, aIm);
        return;
    }

    // Groups of sixteen: the stages of length 8 and 16 combine the four vectors in registers.
    const Vec cos8 = load(stageCos.data() + 2), sin8 = load(stageSin.data() + 2);
    const Vec cos16Low = load(stageCos.data() + 6), sin16Low = load(stageSin.data() + 6);
    const Vec cos16High = load(stageCos.data() + 10), sin16High = load(stageSin.data() + 10);
    for (int p = begin; p < end; p += 16) {
        Vec aRe, aIm, bRe, bIm, cRe, cIm, dRe, dIm;
        gatherFour(p, aRe, aIm);
        gatherFour(p + 4, bRe, bIm);
        gatherFour(p + 8, cRe, cIm);
        gatherFour(p + 12, dRe, dIm);
        butterfly(aRe, aIm, bRe, bIm, cos8, sin8);
        butterfly(cRe, cIm, dRe, dIm, cos8, sin8);
        butterfly(aRe, aIm, cRe, cIm, cos16Low, sin16Low);
        butterfly(bRe, bIm, dRe, dIm, cos16High, sin16High);
        store(re + p, aRe);
        store(im + p, aIm);
        store(re + p + 4, bRe);
        store(im + p + 4, bIm);
        store(re + p + 8, cRe);
        store(im + p + 8, cIm);
        store(re + p + 12, dRe);
        store(im + p + 12, dIm);
    }
}

void RealFft::laterStages(int begin, int length, int firstHalf, int lastHalf) {
    float* re = resultRe() + begin;
    float* im = resultIm() + begin;
    // Two stages per pass where possible; the stage of length 2h starts at table entry h - 2.
    int h = firstHalf;
    int stagesLeft = bitsFor(lastHalf) - bitsFor(firstHalf) + 1;
    if (stagesLeft % 2 == 1) {
        kernels->singleStage(re, im, length, h, stageCos.data() + h - 2, stageSin.data() + h - 2);
        h *= 2;
        --stagesLeft;
    }
    for (; stagesLeft > 0; stagesLeft -= 2, h *= 4) {
        kernels->stagePair(re, im, length, h, stageCos.data() + h - 2, stageSin.data() + h - 2,
                           stageCos.data() + 2 * h - 2, stageSin.data() + 2 * h - 2);
    }
}

void RealFft::firstStagesWide(const float* sourceRe, const float* sourceIm) {
    const int stride = half / kRegisterStagesLength;
    const fft::KernelPath& path = stride >= kernels->width ? *kernels : fft::baselinePath();
    path.firstStagesWide(sourceRe, sourceIm, half, bitReversal.data(), stageCos.data(),
                         stageSin.data(), resultRe(), resultIm());
}

void RealFft::complexTransform(const float* sourceRe, const float* sourceIm) {
    const int m = half;
    // A stage of length L only combines points within blocks of L. So the short stages run
    // block by block over slices that stay in the level-1 cache, and only the long stages
    // sweep the whole array: the same butterflies in a cache-friendlier order.
    const int block = std::min(m, kCacheBlock);
    const bool wide = m >= kWideGatherMinimum;
    if (wide)
        firstStagesWide(sourceRe, sourceIm);
    for (int begin = 0; begin < m; begin += block) {
        if (!wide)
            firstStages(sourceRe, sourceIm, begin, begin + block);
        if (block > kRegisterStagesLength)
            laterStages(begin, block, kRegisterStagesLength, block / 2);
    }
    if (m > block)
        laterStages(0, m, block, m / 2);
}

void RealFft::forward(const float* input, float* re, float* im) {
    const int m = half;
    // Pack: the even samples are the real parts and the odd samples the imaginary parts.
    // Split arrays make the bit-reversed gather touch half as many cache lines.
    float* packRe = workRe();
    float* packIm = workIm();
    for (int i = 0; i < m; i += 4) {
        const Vec first = load(input + 2 * i);
        const Vec second = load(input + 2 * i + 4);
        store(packRe + i, _mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0)));
        store(packIm + i, _mm_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    complexTransform(packRe, packIm);

    const float* zRe = resultRe();
    const float* zIm = resultIm();
    const float* c = splitCos.data();
    const float* s = splitSin.data();

    re[0] = zRe[0] + zIm[0];
    re[m] = zRe[0] - zIm[0];
    im[0] = 0.0f;
    im[m] = 0.0f;

    kernels->splitForward(zRe, zIm, c, s, m, re, im);
}

void RealFft::inverse(const float* re, const float* im, float* output) {
    const int m = half;
    const float* c = splitCos.data();
    const float* s = splitSin.data();
    float* packRe = workRe();
    float* packIm = workIm();

    packRe[0] = (re[0] + re[m]) * 0.5f;
    packIm[0] = (re[0] - re[m]) * -0.5f;

    // The packed spectrum, conjugated, so that the forward transform runs backwards.
    kernels->splitInverse(re, im, c, s, m, packRe, packIm);

    complexTransform(packRe, packIm);

    // Unpack with conjugation; 1/M here and 0.5 in the split make up the whole 1/N.
    const float scale = 1.0f / static_cast<float>(m);
    const Vec scaleVec = splat(scale);
    const Vec signBits = splat(-0.0f);
    const float* zRe = resultRe();
    const float* zIm = resultIm();
    for (int i = 0; i < m; i += 4) {
        const Vec evens = mul(load(zRe + i), scaleVec);
        const Vec odds = _mm_xor_ps(mul(load(zIm + i), scaleVec), signBits);
        store(output + 2 * i, _mm_unpacklo_ps(evens, odds));
        store(output + 2 * i + 4, _mm_unpackhi_ps(evens, odds));
    }
}

} // namespace tav
