#include "dsp/SwellGuard.h"

#include "dsp/VectorMath.h"

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>

namespace tav {
namespace {

// How far the wet signal may peak over the louder input: about +2.5 dB, room for the crest
// factor a morph adds without letting a swell through.
constexpr float kHeadroom = 1.333f;
// How long the inputs' peaks are held after the moment a wet sample was made from: long enough
// for a period of a low bass note and for a decaying sound's tail, short enough that energy a
// frame smears past the end of a sound does not stand out. Nothing is held ahead of that
// moment: what a frame smears ahead of a hit is held to the level before the hit.
constexpr double kHoldSeconds = 0.025;
// The ceiling never falls below -90 dBFS: the rounding residue a frame spreads around a sound
// is far below it, and the limiter must not fall to silence over it just before the sound.
constexpr float kLowestCeiling = 3.2e-5f;

// largest raised, lane by lane, to the magnitudes of a[0..count) and b[0..count).
__m128 raiseToMagnitudes(__m128 largest, const float* a, const float* b, int count) {
    int i = 0;
    for (; i + 4 <= count; i += 4)
        largest = _mm_max_ps(largest, _mm_max_ps(vecmath::absolute(_mm_loadu_ps(a + i)),
                                                 vecmath::absolute(_mm_loadu_ps(b + i))));
    for (; i < count; ++i)
        largest = _mm_max_ss(largest, _mm_max_ss(vecmath::absolute(_mm_set_ss(a[i])),
                                                 vecmath::absolute(_mm_set_ss(b[i]))));
    return largest;
}

// out[0..count) = value, four lanes at a time.
void fill(float* out, int count, float value) {
    const __m128 lanes = _mm_set1_ps(value);
    int i = 0;
    for (; i + 4 <= count; i += 4)
        _mm_storeu_ps(out + i, lanes);
    for (; i < count; ++i)
        out[i] = value;
}

// The largest of values[0..count), 0 for none; the values are magnitudes (a NaN is passed over).
float largestOf(const float* values, int count) {
    __m128 lanes = _mm_setzero_ps();
    int i = 0;
    for (; i + 4 <= count; i += 4)
        lanes = _mm_max_ps(_mm_loadu_ps(values + i), lanes);
    float largest = vecmath::largestLane(lanes);
    for (; i < count; ++i)
        largest = values[i] > largest ? values[i] : largest;
    return largest;
}

// Floor division by a positive divisor: before the first frame, wet samples belong to
// negative blocks.
int64_t floorDivide(int64_t value, int64_t divisor) {
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

} // namespace

void SwellGuard::prepare(double sampleRate, int channelCount, int frameSize, int maxBlockSize) {
    channels = std::max(channelCount, 0);
    delayBlocks = std::max(frameSize, 0) / kBlock;
    holdBlocks = static_cast<int>(std::ceil(sampleRate * kHoldSeconds / kBlock));
    // From the oldest block a chunk's first wet sample looks at to the newest a chunk completes.
    // The ring is a power of two long, so that a block number finds its slot by a mask.
    const int span = delayBlocks + holdBlocks + std::max(maxBlockSize, 0) / kBlock + 4;
    ring.assign(std::bit_ceil(static_cast<std::size_t>(span)), 0.0f);
    reset();
}

void SwellGuard::reset() {
    std::fill(ring.begin(), ring.end(), 0.0f);
    current = 0.0f;
    samplesTaken = 0;
    held = 0.0f;
    heldBlock = 0;
    nextHeld = 0;
}

void SwellGuard::ceilings(int count, float fullScale, float* ceilings) {
    if (ring.empty() || count <= 0)
        return;
    const int64_t firstWet = samplesTaken - count - static_cast<int64_t>(delayBlocks) * kBlock;
    for (int i = 0; i < count;) {
        const int64_t block = floorDivide(firstWet + i, kBlock);
        const int run =
            static_cast<int>(std::min<int64_t>(count - i, (block + 1) * kBlock - (firstWet + i)));
        const float ceiling = std::max(kHeadroom * heldPeak(block), kLowestCeiling);
        fill(ceilings + i, run, std::min(ceiling, fullScale));
        i += run;
    }
}

void SwellGuard::takeInputs(const float* const* inA, const float* const* inB, int count) {
    if (ring.empty() || count <= 0)
        return;
    for (int i = 0; i < count;) {
        const int run = std::min(count - i, kBlock - static_cast<int>(samplesTaken % kBlock));
        __m128 largest = _mm_set_ss(current);
        for (int c = 0; c < channels; ++c)
            largest = raiseToMagnitudes(largest, inA[c] + i, inB[c] + i, run);
        current = vecmath::largestLane(largest);
        samplesTaken += run;
        i += run;
        if (samplesTaken % kBlock == 0) {
            ring[static_cast<std::size_t>((samplesTaken / kBlock - 1) & ringMask())] = current;
            current = 0.0f;
        }
    }
}

float SwellGuard::heldPeak(int64_t wetBlock) {
    if (wetBlock < 0)
        return 0.0f;
    // Blocks enter once, in order. The held maximum only has to be looked for again when the
    // block it came from leaves the hold; a newcomer at least as large takes its place.
    for (; nextHeld <= wetBlock; ++nextHeld) {
        const float peak = ring[static_cast<std::size_t>(nextHeld & ringMask())];
        if (peak >= held) {
            held = peak;
            heldBlock = nextHeld;
        } else if (heldBlock < nextHeld - holdBlocks) {
            findHeld(nextHeld);
        }
    }
    return held;
}

void SwellGuard::findHeld(int64_t newest) {
    const int64_t oldest = std::max<int64_t>(newest - holdBlocks, 0);
    const auto first = static_cast<int>(oldest & ringMask());
    const auto count = static_cast<int>(newest - oldest + 1);
    // The held blocks lie in at most two runs of the ring.
    const int firstRun = std::min(count, static_cast<int>(ring.size()) - first);
    held = std::max(largestOf(ring.data() + first, firstRun),
                    largestOf(ring.data(), count - firstRun));
    // The oldest block that holds it: the next search is due when that one leaves.
    int position = 0;
    while (position + 1 < count &&
           ring[static_cast<std::size_t>((oldest + position) & ringMask())] != held)
        ++position;
    heldBlock = oldest + position;
}

} // namespace tav
