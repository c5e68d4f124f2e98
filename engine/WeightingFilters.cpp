#include "engine/WeightingFilters.h"

#include "dsp/VectorMath.h"
#include "engine/WeightingLanes.h"

#include <emmintrin.h>

#include <algorithm>

namespace tav::weighting {
namespace {

// Filter memories below this are cleared (far under any signal; see settleNegligibleMemories).
constexpr float kNegligibleMemory = 1e-30f;

// The largest magnitude among the channel's filter memories.
float largestMemory(const WeightingFilters& state) {
    __m128 largest = _mm_setzero_ps();
    for (const float* memory : {state.x1, state.x2, state.u1, state.u2, state.y1, state.y2})
        largest = _mm_max_ps(largest, vecmath::absolute(_mm_load_ps(memory)));
    return vecmath::largestLane(largest);
}

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

bool atRest(const WeightingFilters& filters) {
    return filters.resting;
}

void settleNegligibleMemories(WeightingFilters& filters) {
    // Decaying filters need not reach zero when denormals are flushed: once one feedback
    // product flushes to zero, the other is left unbalanced and the memories circle just above
    // the smallest normal float for good. Memories this far below any signal are cleared
    // instead, so that the filters come to rest; their power would flush to zero anyway.
    filters.resting = largestMemory(filters) < kNegligibleMemory;
    if (filters.resting) {
        for (float* memory :
             {filters.x1, filters.x2, filters.u1, filters.u2, filters.y1, filters.y2})
            std::fill(memory, memory + 4, 0.0f);
    }
}

PairRun avxPairRun() {
#if defined(__x86_64__) || defined(_M_X64)
    return __builtin_cpu_supports("avx") ? &avxPair : nullptr;
#else
    return nullptr;
#endif
}

} // namespace tav::weighting
