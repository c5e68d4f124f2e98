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
    requiredGain.assign(ring, 1.0f);
    averageRing.assign(ring, 1.0f);
    minimumQueue.assign(ring, 0);
    reset();
}

void LookaheadLimiter::reset() {
    writeIndex = 0;
    smoothedGain = 1.0;
    averageSum = static_cast<double>(ringSize);
    for (ChannelState& state : channelStates)
        std::fill(state.delayLine.begin(), state.delayLine.end(), 0.0f);
    std::fill(requiredGain.begin(), requiredGain.end(), 1.0f);
    std::fill(averageRing.begin(), averageRing.end(), 1.0f);
    queueHead = 0;
    queueSize = 0;
    sampleCounter = 0;
}

float LookaheadLimiter::windowMinimum(float need) {
    const int64_t size = ringSize;
    // Drop the entry that has just left the window of the last R samples.
    if (queueSize > 0 &&
        minimumQueue[static_cast<std::size_t>(queueHead)] <= sampleCounter - size) {
        queueHead = (queueHead + 1) % ringSize;
        --queueSize;
    }
    requiredGain[static_cast<std::size_t>(sampleCounter % size)] = need;
    // Keep the queue's values increasing from front to back: larger ones can never be the minimum.
    while (queueSize > 0) {
        const int back = (queueHead + queueSize - 1) % ringSize;
        const int64_t backIndex = minimumQueue[static_cast<std::size_t>(back)];
        if (requiredGain[static_cast<std::size_t>(backIndex % size)] < need)
            break;
        --queueSize;
    }
    minimumQueue[static_cast<std::size_t>((queueHead + queueSize) % ringSize)] = sampleCounter;
    ++queueSize;
    const int64_t front = minimumQueue[static_cast<std::size_t>(queueHead)];
    return requiredGain[static_cast<std::size_t>(front % size)];
}

void LookaheadLimiter::process(float* const* signal, int numSamples, float inputPeak) {
    if (requiredGain.empty())
        return; // not prepared: nothing sized to work with
    // Written so that a NaN peak falls back to full scale instead of disabling the limiter.
    const float ceiling = inputPeak > kMinimumCeiling ? inputPeak : kMinimumCeiling;
    const float inverseRing = 1.0f / static_cast<float>(ringSize);
    const double release = releaseCoefficient;
    const int channelCount = static_cast<int>(channelStates.size());

    for (int i = 0; i < numSamples; ++i) {
        float peak = 0.0f;
        for (int c = 0; c < channelCount; ++c)
            peak = std::max(peak, std::abs(signal[c][i]));
        const float need = peak > ceiling ? ceiling / peak : 1.0f;

        // Instant attack down to the window minimum, exponential release toward unity. The
        // gain is tracked in double: in float, release steps below half an ulp round away and
        // leave it stuck about 1e-4 under unity for good after the first reduction.
        const double minimum = windowMinimum(need);
        smoothedGain = std::min(minimum, smoothedGain + (1.0 - smoothedGain) * release);
        const float smoothed = static_cast<float>(smoothedGain);

        // The moving average over R samples turns the gain steps into ramps that end at the peak.
        const auto slot = static_cast<std::size_t>(writeIndex);
        averageSum += static_cast<double>(smoothed) - averageRing[slot];
        averageRing[slot] = smoothed;
        const float gain = std::min(static_cast<float>(averageSum) * inverseRing, 1.0f);

        const int next = writeIndex + 1 == ringSize ? 0 : writeIndex + 1;
        for (int c = 0; c < channelCount; ++c) {
            std::vector<float>& delay = channelStates[static_cast<std::size_t>(c)].delayLine;
            delay[slot] = signal[c][i];
            signal[c][i] = gain * delay[static_cast<std::size_t>(next)];
        }
        ++sampleCounter;
        writeIndex = next;
    }
}

} // namespace tav
