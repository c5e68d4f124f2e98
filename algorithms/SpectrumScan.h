#pragma once

#include <emmintrin.h>

// Small vector helpers the morph algorithms share (SSE2, which every x86-64 CPU has).
namespace tav {

// Any thread. The same value std::max_element finds over count > 0 values: the largest, or the
// first value when that is NaN (later NaNs never win). maxps(x, m) keeps m unless x > m, which
// is exactly the scalar rule, so every lane follows it.
inline float largestOf(const float* values, int count) {
    __m128 best = _mm_set1_ps(values[0]);
    int i = 1;
    for (; i + 4 <= count; i += 4)
        best = _mm_max_ps(_mm_loadu_ps(values + i), best);
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, best);
    float largest = values[0];
    for (const float lane : lanes)
        largest = lane > largest ? lane : largest;
    for (; i < count; ++i)
        largest = values[i] > largest ? values[i] : largest;
    return largest;
}

} // namespace tav
