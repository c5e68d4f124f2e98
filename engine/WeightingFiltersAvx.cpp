// Compiled for AVX on its own; reached only through weighting::avxPairRun.
#include "engine/WeightingFilters.h"

#include "engine/WeightingLanes.h"

#include <immintrin.h>

namespace tav::weighting {
namespace {

struct Avx {
    using Vector = __m256;
    static Vector add(Vector a, Vector b) { return _mm256_add_ps(a, b); }
    static Vector sub(Vector a, Vector b) { return _mm256_sub_ps(a, b); }
    static Vector mul(Vector a, Vector b) { return _mm256_mul_ps(a, b); }
};

// The first channel's four lanes low, the second's high.
__m256 joined(const float* first, const float* second) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_load_ps(first)), _mm_load_ps(second), 1);
}

void split(__m256 lanes, float* first, float* second) {
    _mm_store_ps(first, _mm256_castps256_ps128(lanes));
    _mm_store_ps(second, _mm256_extractf128_ps(lanes, 1));
}

} // namespace

void avxPair(WeightingFilters& first, WeightingFilters& second, WeightingInputs inFirst,
             WeightingInputs inSecond, int count, const WeightingCoefficients& coefficients) {
    const Lanes<Avx>::Coefficients k{
        _mm256_set1_ps(coefficients.highFeedback1), _mm256_set1_ps(coefficients.highFeedback2),
        _mm256_set1_ps(coefficients.lowZero), _mm256_set1_ps(coefficients.lowFeedback1),
        _mm256_set1_ps(coefficients.lowFeedback2)};
    Lanes<Avx> lanes{joined(first.x1, second.x1),       joined(first.x2, second.x2),
                     joined(first.u1, second.u1),       joined(first.u2, second.u2),
                     joined(first.y1, second.y1),       joined(first.y2, second.y2),
                     joined(first.power, second.power), joined(first.rawPower, second.rawPower)};
    for (int i = 0; i < count; ++i)
        lanes.step(_mm256_setr_ps(inFirst.a[i], inFirst.b[i], inFirst.wet[i], 0.0f, inSecond.a[i],
                                  inSecond.b[i], inSecond.wet[i], 0.0f),
                   k);
    split(lanes.x1, first.x1, second.x1);
    split(lanes.x2, first.x2, second.x2);
    split(lanes.u1, first.u1, second.u1);
    split(lanes.u2, first.u2, second.u2);
    split(lanes.y1, first.y1, second.y1);
    split(lanes.y2, first.y2, second.y2);
    split(lanes.power, first.power, second.power);
    split(lanes.rawPower, first.rawPower, second.rawPower);
}

} // namespace tav::weighting
