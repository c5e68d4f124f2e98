#include "dsp/LookaheadLimiter.h"

#include "dsp/FrameGeometry.h"
#include "dsp/RingCopy.h"
#include "dsp/SpanSums.h"
#include "dsp/VectorMath.h"

#include <emmintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace tav {
namespace {

// Short, so that a guard reduction ahead of a hit lets go in time for the hit itself.
constexpr float kReleaseSeconds = 0.025f;
// Full scale: the wet signal may always reach it, louder inputs raise the ceiling.
constexpr float kMinimumCeiling = 1.0f;

// checked[i] = ceilings[i] where it is a number from 0 to FLT_MAX, full scale elsewhere
// (NaN fails both comparisons).
void checkCeilings(const float* ceilings, int count, float* checked) {
    const __m128 fallback = _mm_set1_ps(kMinimumCeiling);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 ceiling = _mm_loadu_ps(ceilings + i);
        const __m128 usable = _mm_and_ps(_mm_cmpge_ps(ceiling, _mm_setzero_ps()),
                                         _mm_cmple_ps(ceiling, _mm_set1_ps(FLT_MAX)));
        _mm_storeu_ps(checked + i,
                      _mm_or_ps(_mm_and_ps(usable, ceiling), _mm_andnot_ps(usable, fallback)));
    }
    for (; i < count; ++i)
        checked[i] = ceilings[i] >= 0.0f && ceilings[i] <= FLT_MAX ? ceilings[i] : kMinimumCeiling;
}

// Whether every one of x[0..count) is exactly 1.
bool allUnity(const float* x, int count) {
    const __m128 unity = _mm_set1_ps(1.0f);
    __m128 equal = _mm_castsi128_ps(_mm_set1_epi32(-1));
    int i = 0;
    for (; i + 4 <= count; i += 4)
        equal = _mm_and_ps(equal, _mm_cmpeq_ps(_mm_loadu_ps(x + i), unity));
    bool all = _mm_movemask_ps(equal) == 0xF;
    for (; i < count; ++i)
        all = all && x[i] == 1.0f;
    return all;
}

// change[i] = entering[i] - ring[i] in double, and the entering values take the ring's places.
void exchangeEntries(const float* entering, float* ring, double* change, int count) {
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 in = _mm_loadu_ps(entering + i);
        const __m128 out = _mm_loadu_ps(ring + i);
        _mm_storeu_pd(change + i, _mm_sub_pd(_mm_cvtps_pd(in), _mm_cvtps_pd(out)));
        _mm_storeu_pd(change + i + 2, _mm_sub_pd(_mm_cvtps_pd(_mm_movehl_ps(in, in)),
                                                 _mm_cvtps_pd(_mm_movehl_ps(out, out))));
        _mm_storeu_ps(ring + i, in);
    }
    for (; i < count; ++i) {
        change[i] = static_cast<double>(entering[i]) - ring[i];
        ring[i] = entering[i];
    }
}

// gain[i] = min(sums[i] * inverseCount, 1), the sums rounded to float first.
void scaleAverages(const double* sums, int count, float inverseCount, float* gain) {
    const __m128 scale = _mm_set1_ps(inverseCount);
    const __m128 unity = _mm_set1_ps(1.0f);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 sum = _mm_movelh_ps(_mm_cvtpd_ps(_mm_loadu_pd(sums + i)),
                                         _mm_cvtpd_ps(_mm_loadu_pd(sums + i + 2)));
        _mm_storeu_ps(gain + i, _mm_min_ps(unity, _mm_mul_ps(sum, scale)));
    }
    for (; i < count; ++i)
        gain[i] = std::min(static_cast<float>(sums[i]) * inverseCount, 1.0f);
}

} // namespace

void LookaheadLimiter::prepare(double sampleRate, int channels) {
    lookaheadSamples = limiterLookahead(sampleRate);
    ringSize = lookaheadSamples + 1;
    releaseCoefficient =
        1.0f - std::exp(-1.0f / (static_cast<float>(sampleRate) * kReleaseSeconds));
    double factor = 1.0;
    for (double& releaseFactor : releaseFactors)
        releaseFactor = factor *= 1.0 - static_cast<double>(releaseCoefficient);

    const auto ring = static_cast<std::size_t>(ringSize);
    channelStates.assign(static_cast<std::size_t>(std::max(channels, 0)), ChannelState{});
    for (ChannelState& state : channelStates)
        state.delayLine.assign(ring, 0.0f);
    averageRing.assign(ring, 1.0f);
    minimumQueue.assign(ring, 0);
    queuedGain.assign(ring, 1.0f);
    reset();
}

void LookaheadLimiter::reset() {
    writeIndex = 0;
    smoothedGain = 1.0;
    averageSum = static_cast<double>(ringSize);
    for (ChannelState& state : channelStates)
        std::fill(state.delayLine.begin(), state.delayLine.end(), 0.0f);
    std::fill(averageRing.begin(), averageRing.end(), 1.0f);
    unityRun = ringSize;
    queueHead = 0;
    queueSize = 0;
    sampleCounter = 0;
}

inline float LookaheadLimiter::windowMinimum(float need) {
    // Queue positions wrap by comparison rather than division: this runs for every sample.
    const auto wrapped = [this](int position) {
        return position >= ringSize ? position - ringSize : position;
    };
    // Drop the entry that has just left the window of the last R samples.
    if (queueSize > 0 &&
        minimumQueue[static_cast<std::size_t>(queueHead)] <= sampleCounter - ringSize) {
        queueHead = wrapped(queueHead + 1);
        --queueSize;
    }
    // Keep the queue's gains increasing from front to back: larger ones can never be the minimum.
    while (queueSize > 0 &&
           !(queuedGain[static_cast<std::size_t>(wrapped(queueHead + queueSize - 1))] < need))
        --queueSize;
    const auto back = static_cast<std::size_t>(wrapped(queueHead + queueSize));
    minimumQueue[back] = sampleCounter;
    queuedGain[back] = need;
    ++queueSize;
    return queuedGain[static_cast<std::size_t>(queueHead)];
}

void LookaheadLimiter::process(float* const* signal, int numSamples, float inputPeak) {
    if (queuedGain.empty())
        return; // not prepared: nothing sized to work with
    // Written so that a NaN peak falls back to full scale instead of disabling the limiter.
    const float ceiling = inputPeak > kMinimumCeiling ? inputPeak : kMinimumCeiling;
    float ceilings[kSubBlock];
    std::fill_n(ceilings, kSubBlock, ceiling);
    for (int start = 0; start < numSamples; start += kSubBlock)
        processStretch(signal, start, std::min(kSubBlock, numSamples - start), ceilings);
}

void LookaheadLimiter::process(float* const* signal, int numSamples, const float* ceilings) {
    if (queuedGain.empty())
        return;
    for (int start = 0; start < numSamples; start += kSubBlock) {
        const int count = std::min(kSubBlock, numSamples - start);
        float checked[kSubBlock];
        checkCeilings(ceilings + start, count, checked);
        processStretch(signal, start, count, checked);
    }
}

void LookaheadLimiter::processStretch(float* const* signal, int start, int count,
                                      const float* ceiling) {
    // Only the gain's own recursion runs sample by sample; finding the peaks and applying the
    // gain to the delayed signal run over short stretches in vector lanes.
    float gain[kSubBlock];
    requiredGains(signal, start, count, ceiling, gain);
    // A resting gain, or one released at once because only silence is left, needs no
    // per-sample recursion.
    bool resting = restingAtUnity(gain, count);
    if (!resting && silentThroughout(signal, start, count)) {
        settleAtUnity();
        resting = true;
    }
    if (resting)
        holdUnity(gain, count);
    else if (windowAtUnity(gain, count))
        releaseGains(gain, count);
    else
        smoothGains(gain, count);
    applyDelayed(signal, start, count, gain);
}

void LookaheadLimiter::requiredGains(float* const* signal, int start, int count,
                                     const float* ceiling, float* gain) const {
    float peak[kSubBlock] = {};
    for (std::size_t c = 0; c < channelStates.size(); ++c) {
        const float* x = signal[c] + start;
        int i = 0;
        // maxps keeps its second operand when the first is NaN, as std::max(peak, x) does.
        for (; i + 4 <= count; i += 4) {
            const __m128 magnitude = vecmath::absolute(_mm_loadu_ps(x + i));
            _mm_storeu_ps(peak + i, _mm_max_ps(magnitude, _mm_loadu_ps(peak + i)));
        }
        for (; i < count; ++i)
            peak[i] = std::max(peak[i], std::abs(x[i]));
    }
    const __m128 unity = _mm_set1_ps(1.0f);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 limit = _mm_loadu_ps(ceiling + i);
        const __m128 p = _mm_loadu_ps(peak + i);
        const __m128 over = _mm_cmpgt_ps(p, limit);
        if (_mm_movemask_ps(over) == 0) {
            _mm_storeu_ps(gain + i, unity); // mostly so: no division to wait for
            continue;
        }
        const __m128 scaled = _mm_div_ps(limit, p);
        _mm_storeu_ps(gain + i, _mm_or_ps(_mm_and_ps(over, scaled), _mm_andnot_ps(over, unity)));
    }
    for (; i < count; ++i)
        gain[i] = peak[i] > ceiling[i] ? ceiling[i] / peak[i] : 1.0f;
}

bool LookaheadLimiter::windowAtUnity(const float* need, int count) const {
    // Needs never exceed 1, so a unity front means the whole window holds unity.
    if (queueSize > 0 && queuedGain[static_cast<std::size_t>(queueHead)] != 1.0f)
        return false;
    return allUnity(need, count);
}

bool LookaheadLimiter::restingAtUnity(const float* need, int count) const {
    // After a reduction the double gain may settle a hair under 1, where a release step no
    // longer moves it; that counts as resting too, as long as it reads 1 in float.
    const double release = releaseCoefficient;
    const bool gainResting = static_cast<float>(smoothedGain) == 1.0f &&
                             smoothedGain + (1.0 - smoothedGain) * release == smoothedGain;
    return gainResting && unityRun >= ringSize && windowAtUnity(need, count);
}

bool LookaheadLimiter::silentThroughout(float* const* signal, int start, int count) const {
    for (std::size_t c = 0; c < channelStates.size(); ++c) {
        const std::vector<float>& delayLine = channelStates[c].delayLine;
        if (!spans::allZero(signal[c] + start, count) ||
            !spans::allZero(delayLine.data(), static_cast<int>(delayLine.size())))
            return false;
    }
    return true;
}

void LookaheadLimiter::settleAtUnity() {
    smoothedGain = 1.0;
    averageSum = static_cast<double>(ringSize);
    std::fill(averageRing.begin(), averageRing.end(), 1.0f);
    unityRun = ringSize;
    queueSize = 0;
}

void LookaheadLimiter::holdUnity(float* gain, int count) {
    // Every step would pop the queue down to its new unity entry, leave the resting gain as it
    // is, and add 1 - 1 to the average: only the queue's newest entry and the counter change.
    const float inverseRing = 1.0f / static_cast<float>(ringSize);
    std::fill_n(gain, count, std::min(static_cast<float>(averageSum) * inverseRing, 1.0f));
    sampleCounter += count;
    keepOnlyNewestUnity();
}

void LookaheadLimiter::keepOnlyNewestUnity() {
    queueHead = 0;
    queueSize = 1;
    minimumQueue[0] = sampleCounter - 1;
    queuedGain[0] = 1.0f;
}

void LookaheadLimiter::smoothGains(float* gain, int count) {
    const double release = releaseCoefficient;
    // The gain's state lives in a local for the stretch: as a member, every sample's update
    // would go through memory.
    double gainState = smoothedGain;
    for (int i = 0; i < count; ++i) {
        // Instant attack down to the window minimum, exponential release toward unity. The
        // gain is tracked in double: in float, release steps below half an ulp round away and
        // leave it stuck about 1e-4 under unity for good after the first reduction.
        gainState = std::min(static_cast<double>(windowMinimum(gain[i])),
                             gainState + (1.0 - gainState) * release);
        gain[i] = static_cast<float>(gainState);
        ++sampleCounter;
    }
    smoothedGain = gainState;
    averageStretch(gain, count);
}

void LookaheadLimiter::releaseGains(float* gain, int count) {
    // Its distance from unity shrinks by the same factor every sample, so each sample's gain
    // follows from the stretch's start at once.
    const double distance = 1.0 - smoothedGain;
    const __m128d scale = _mm_set1_pd(distance);
    const __m128d unity = _mm_set1_pd(1.0);
    const double* factors = releaseFactors.data();
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 low =
            _mm_cvtpd_ps(_mm_sub_pd(unity, _mm_mul_pd(scale, _mm_loadu_pd(factors + i))));
        const __m128 high =
            _mm_cvtpd_ps(_mm_sub_pd(unity, _mm_mul_pd(scale, _mm_loadu_pd(factors + i + 2))));
        _mm_storeu_ps(gain + i, _mm_movelh_ps(low, high));
    }
    for (; i < count; ++i)
        gain[i] = static_cast<float>(1.0 - distance * factors[i]);
    smoothedGain = 1.0 - distance * factors[count - 1];
    sampleCounter += count;
    averageStretch(gain, count);
    // Each sample would have emptied the queue down to its own unity entry.
    keepOnlyNewestUnity();
}

void LookaheadLimiter::averageStretch(float* gain, int count) {
    // The moving average over R samples turns the gain steps into ramps that end at the peak.
    // Only its running sum is a chain from sample to sample; what enters and leaves the ring,
    // and the scaling after it, run in vector lanes apart from that chain.
    double sum[kSubBlock];
    for (int done = 0, slot = writeIndex; done < count;) {
        const int run = std::min(count - done, ringSize - slot);
        exchangeEntries(gain + done, averageRing.data() + slot, sum + done, run);
        done += run;
        slot = 0;
    }
    double running = averageSum;
    for (int i = 0; i < count; ++i)
        sum[i] = running += sum[i];
    averageSum = running;
    countUnityRun(gain, count);
    scaleAverages(sum, count, 1.0f / static_cast<float>(ringSize), gain);
}

void LookaheadLimiter::countUnityRun(const float* smoothed, int count) {
    int trailing = 0;
    while (trailing < count && smoothed[count - 1 - trailing] == 1.0f)
        ++trailing;
    unityRun = std::min(trailing == count ? unityRun + count : trailing, ringSize);
}

void LookaheadLimiter::applyDelayed(float* const* signal, int start, int count, const float* gain) {
    for (std::size_t c = 0; c < channelStates.size(); ++c) {
        float* x = signal[c] + start;
        float input[kSubBlock];
        float delayed[kSubBlock];
        std::copy_n(x, count, input);
        rings::delayBlock(channelStates[c].delayLine.data(), ringSize, writeIndex, input, delayed,
                          count);
        int i = 0;
        for (; i + 4 <= count; i += 4)
            _mm_storeu_ps(x + i, _mm_mul_ps(_mm_loadu_ps(gain + i), _mm_loadu_ps(delayed + i)));
        for (; i < count; ++i)
            x[i] = gain[i] * delayed[i];
    }
    writeIndex = (writeIndex + count) % ringSize;
}

} // namespace tav
