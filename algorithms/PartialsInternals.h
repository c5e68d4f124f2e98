#pragma once

#include "algorithms/Algorithm.h"

#include <emmintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>

// The stages of the Partials algorithm that the tests examine one by one.
namespace tav::partials {

inline constexpr int kMaxPartials = 96;   // per input and frame
inline constexpr int kVoters = 32;        // strongest partials per input that vote on the interval
inline constexpr int kIntervalCells = 97; // quarter tones from -48 to +48

// One sinusoid found in an input spectrum.
struct Partial {
    float frequency = 0.0f; // bins, fractional
    float amplitude = 0.0f; // linear, corrected for the window's main-lobe shape
    float phase = 0.0f;     // radians, the analysis phase at the peak bin
};

// Main-lobe shape of the periodic Hann analysis window, sampled every 1/32 bin over -4..+4 bins.
class WindowKernel {
public:
    // Setup thread; allocates scratch for the window, costs O(129 N) cosines in double.
    void build(int fftSize);

    // Any thread. The window's transform at an offset in bins, 1 at 0, and 0 from 4 bins out.
    // Inline: every partial looks it up at nine bins.
    float at(float offsetBins) const {
        const float t = offsetBins * static_cast<float>(kSteps) + static_cast<float>(kCentre);
        if (!(t > 0.0f && t < static_cast<float>(kLast)))
            return 0.0f;
        const auto i = static_cast<std::size_t>(t);
        return values[i] + (values[i + 1] - values[i]) * (t - static_cast<float>(i));
    }

    // Any thread. at() for four offsets at once, with the same arithmetic in each lane.
    __m128 at4(__m128 offsetBins) const {
        const __m128 t = _mm_add_ps(_mm_mul_ps(offsetBins, _mm_set1_ps(static_cast<float>(kSteps))),
                                    _mm_set1_ps(static_cast<float>(kCentre)));
        const __m128 inside = _mm_and_ps(_mm_cmpgt_ps(t, _mm_setzero_ps()),
                                         _mm_cmplt_ps(t, _mm_set1_ps(static_cast<float>(kLast))));
        const __m128 tInside = _mm_and_ps(inside, t); // lanes outside read entry 0, then drop it
        const __m128i index = _mm_cvttps_epi32(tInside);
        alignas(16) std::int32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), index);
        alignas(16) float low[4];
        alignas(16) float high[4];
        for (int k = 0; k < 4; ++k) {
            low[k] = values[static_cast<std::size_t>(lanes[k])];
            high[k] = values[static_cast<std::size_t>(lanes[k]) + 1];
        }
        const __m128 lowValue = _mm_load_ps(low);
        const __m128 fraction = _mm_sub_ps(tInside, _mm_cvtepi32_ps(index));
        const __m128 value =
            _mm_add_ps(lowValue, _mm_mul_ps(_mm_sub_ps(_mm_load_ps(high), lowValue), fraction));
        return _mm_and_ps(inside, value);
    }

private:
    static constexpr int kSteps = 32;   // table entries per bin
    static constexpr int kCentre = 128; // table index of offset 0
    static constexpr int kLast = 256;   // table index of offset +4

    std::array<float, 258> values{};
};

// Audio thread; never allocates. Picks the input's partials into `partials` (capacity
// kMaxPartials), ascending by frequency, and returns their count; `candidates` is scratch of
// numBins entries.
int pickPartials(const FrameAnalysis& x, int numBins, const WindowKernel& kernel,
                 Partial* candidates, Partial* partials);

// Audio thread; never allocates. Removes the partials' modelled spectra from re/im.
void subtractPartials(const Partial* partials, int count, const WindowKernel& kernel, int numBins,
                      float* re, float* im);

// Running estimate of the musical interval of B relative to A, in octaves, from a histogram
// of quarter-tone steps between the strongest partials of both inputs.
class IntervalEstimator {
public:
    // Audio thread; never allocates. No estimate, no preferred step.
    void reset();

    // Audio thread; never allocates. Folds in one frame's partial lists (both ascending).
    void update(const Partial* a, int countA, const Partial* b, int countB);

    float interval() const { return estimate; }
    bool hasInterval() const { return known; }

private:
    static int pickVoters(const Partial* list, int count, Partial* voters);

    float estimate = 0.0f;
    bool known = false;
    std::array<Partial, kVoters> strongestA{}, strongestB{};
};

} // namespace tav::partials
