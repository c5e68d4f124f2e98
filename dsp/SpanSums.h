#pragma once

#include <emmintrin.h>

#include <bit>

// Sums over contiguous runs of floats, four lanes at a time (SSE2, the x86-64 baseline).
// A plain running sum waits for each addition before the next; independent lanes keep
// the adder busy. The lanes change only the order of the additions, not their precision.
namespace tav::spans {

// Horizontal sum of four float lanes.
inline float laneTotal(__m128 lanes) {
    const __m128 pairs = _mm_add_ps(lanes, _mm_movehl_ps(lanes, lanes));
    return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1)));
}

// Horizontal sum of two double lanes.
inline double laneTotal(__m128d lanes) {
    return _mm_cvtsd_f64(_mm_add_sd(lanes, _mm_unpackhi_pd(lanes, lanes)));
}

// sum of x[i]^2 for i in [0, count), in float.
inline float sumOfSquares(const float* x, int count) {
    __m128 even = _mm_setzero_ps();
    __m128 odd = _mm_setzero_ps();
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128 v = _mm_loadu_ps(x + i);
        const __m128 w = _mm_loadu_ps(x + i + 4);
        even = _mm_add_ps(even, _mm_mul_ps(v, v));
        odd = _mm_add_ps(odd, _mm_mul_ps(w, w));
    }
    if (i + 4 <= count) {
        const __m128 v = _mm_loadu_ps(x + i);
        even = _mm_add_ps(even, _mm_mul_ps(v, v));
        i += 4;
    }
    float total = laneTotal(_mm_add_ps(even, odd));
    for (; i < count; ++i)
        total += x[i] * x[i];
    return total;
}

// The end of the run of equal values that starts at map[begin], at most count; four
// entries are compared per step.
inline int runEnd(const int* map, int begin, int count) {
    const int value = map[begin];
    const __m128i wanted = _mm_set1_epi32(value);
    int end = begin + 1;
    for (; end + 4 <= count; end += 4) {
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(map + end));
        const auto equal =
            static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(next, wanted))));
        if (equal != 0xfu)
            return end + std::countr_zero(~equal);
    }
    while (end < count && map[end] == value)
        ++end;
    return end;
}

// Adds the four products w[i] * p[i] (floats, exact in double) to two double accumulators.
inline void accumulateWeighted(__m128 w, __m128 p, __m128d& low, __m128d& high) {
    low = _mm_add_pd(low, _mm_mul_pd(_mm_cvtps_pd(w), _mm_cvtps_pd(p)));
    high = _mm_add_pd(
        high, _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(w, w)), _mm_cvtps_pd(_mm_movehl_ps(p, p))));
}

// sum of weight[i] * (re[i]^2 + im[i]^2) for i in [0, count): powers in float, the weighted
// sum in double.
inline double weightedPowerSum(const float* weight, const float* re, const float* im, int count) {
    __m128d low = _mm_setzero_pd();
    __m128d high = _mm_setzero_pd();
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 r = _mm_loadu_ps(re + i);
        const __m128 m = _mm_loadu_ps(im + i);
        const __m128 power = _mm_add_ps(_mm_mul_ps(r, r), _mm_mul_ps(m, m));
        accumulateWeighted(_mm_loadu_ps(weight + i), power, low, high);
    }
    double total = laneTotal(_mm_add_pd(low, high));
    for (; i < count; ++i)
        total += static_cast<double>(weight[i]) * (re[i] * re[i] + im[i] * im[i]);
    return total;
}

// Whether all count values compare equal to zero (so, with denormals-are-zero set, denormals
// too). The values' bits are OR-ed together: only zeros (of either sign) and, under
// denormals-are-zero, denormals can combine into something that still compares equal to zero.
inline bool allZero(const float* x, int count) {
    __m128 bits = _mm_setzero_ps();
    int i = 0;
    for (; i + 4 <= count; i += 4)
        bits = _mm_or_ps(bits, _mm_loadu_ps(x + i));
    for (; i < count; ++i)
        bits = _mm_or_ps(bits, _mm_load_ss(x + i));
    return _mm_movemask_ps(_mm_cmpneq_ps(bits, _mm_setzero_ps())) == 0;
}

} // namespace tav::spans
