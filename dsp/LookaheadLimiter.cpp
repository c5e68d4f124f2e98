#include "dsp/LookaheadLimiter.h"

#include "dsp/FrameGeometry.h"

#include <algorithm>
#include <cmath>

namespace tav {
namespace {

constexpr float kReleaseSeconds = 0.1f;
// Full scale: the wet signal may always reach it, louder inputs raise the ceiling.
constexpr float kMinimumCeiling = 1.0f;

} // namespace

void LookaheadLimiter::prepare(double sampleRate, int channels) {
    lookaheadSamples = limiterLookahead(sampleRate);
    ringSize = lookaheadSamples + 1;
    releaseCoefficient =
        1.0f - std::exp(-1.0f / (static_cast<float>(sampleRate) * kReleaseSeconds));

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
    const float inverseRing = 1.0f / static_cast<float>(ringSize);
    const double release = releaseCoefficient;
    const int channelCount = static_cast<int>(channelStates.size());
    // The gain's state lives in locals for the block: as members, every sample's update
    // would go through memory around the call that finds the window minimum.
    double gainState = smoothedGain;
    double sum = averageSum;
    int index = writeIndex;

    for (int i = 0; i < numSamples; ++i) {
        float peak = 0.0f;
        for (int c = 0; c < channelCount; ++c)
            peak = std::max(peak, std::abs(signal[c][i]));
        const float need = peak > ceiling ? ceiling / peak : 1.0f;

        // Instant attack down to the window minimum, exponential release toward unity. The
        // gain is tracked in double: in float, release steps below half an ulp round away and
        // leave it stuck about 1e-4 under unity for good after the first reduction.
        const double minimum = windowMinimum(need);
        gainState = std::min(minimum, gainState + (1.0 - gainState) * release);
        const float smoothed = static_cast<float>(gainState);

        // The moving average over R samples turns the gain steps into ramps that end at the peak.
        const auto slot = static_cast<std::size_t>(index);
        sum += static_cast<double>(smoothed) - averageRing[slot];
        averageRing[slot] = smoothed;
        const float gain = std::min(static_cast<float>(sum) * inverseRing, 1.0f);

        const int next = index + 1 == ringSize ? 0 : index + 1;
        for (int c = 0; c < channelCount; ++c) {
            std::vector<float>& delay = channelStates[static_cast<std::size_t>(c)].delayLine;
            delay[slot] = signal[c][i];
            signal[c][i] = gain * delay[static_cast<std::size_t>(next)];
        }
        ++sampleCounter;
        index = next;
    }
    smoothedGain = gainState;
    averageSum = sum;
    writeIndex = index;
}

} // namespace tav
