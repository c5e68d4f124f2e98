#include "engine/WeightingFilters.h"

#include "engine/WeightingLanes.h"

#include <emmintrin.h>

namespace tav::weighting {
namespace {

struct Sse2 {
    using Vector = __m128;
    static Vector add(Vector a, Vector b) { return _mm_add_ps(a, b); }
    static Vector sub(Vector a, Vector b) { return _mm_sub_ps(a, b); }
    static Vector mul(Vector a, Vector b) { return _mm_mul_ps(a, b); }
};

} // namespace

void run(WeightingFilters& filters, WeightingInputs in, int count,
         const WeightingCoefficients& coefficients) {
    const Lanes<Sse2>::Coefficients k{
        _mm_set1_ps(coefficients.highFeedback1), _mm_set1_ps(coefficients.highFeedback2),
        _mm_set1_ps(coefficients.lowZero), _mm_set1_ps(coefficients.lowFeedback1),
        _mm_set1_ps(coefficients.lowFeedback2)};
    // The memories live in registers for the run.
    Lanes<Sse2> lanes{_mm_load_ps(filters.x1),    _mm_load_ps(filters.x2),
                      _mm_load_ps(filters.u1),    _mm_load_ps(filters.u2),
                      _mm_load_ps(filters.y1),    _mm_load_ps(filters.y2),
                      _mm_load_ps(filters.power), _mm_load_ps(filters.rawPower)};
    for (int i = 0; i < count; ++i)
        lanes.step(_mm_setr_ps(in.a[i], in.b[i], in.wet[i], 0.0f), k);
    _mm_store_ps(filters.x1, lanes.x1);
    _mm_store_ps(filters.x2, lanes.x2);
    _mm_store_ps(filters.u1, lanes.u1);
    _mm_store_ps(filters.u2, lanes.u2);
    _mm_store_ps(filters.y1, lanes.y1);
    _mm_store_ps(filters.y2, lanes.y2);
    _mm_store_ps(filters.power, lanes.power);
    _mm_store_ps(filters.rawPower, lanes.rawPower);
}

PairRun avxPairRun() {
#if defined(__x86_64__) || defined(_M_X64)
    return __builtin_cpu_supports("avx") ? &avxPair : nullptr;
#else
    return nullptr;
#endif
}

} // namespace tav::weighting
