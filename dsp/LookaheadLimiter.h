#pragma once

#include <cstdint>
#include <vector>

namespace tav {

// Keeps the wet signal under max(1, input peak): delays it by the look-ahead L and lowers
// one linked gain ahead of each peak, so the gain is reached exactly when the peak leaves.
class LookaheadLimiter {
public:
    // Any thread; allocates. L = max(16, round(1.5 ms)), 100 ms release; ends in reset.
    void prepare(double sampleRate, int channels);

    // Audio thread; never allocates. Unity gain, empty delay lines.
    void reset();

    // Audio thread; never allocates. Limits signal[c][0..numSamples) in place.
    void process(float* const* signal, int numSamples, float inputPeak);

    int lookahead() const { return lookaheadSamples; }

private:
    // Pushes this sample's need into the sliding window of the last L + 1 and returns its minimum.
    float windowMinimum(float need);

    struct ChannelState {
        std::vector<float> delayLine; // L + 1 samples of the wet signal
    };

    int lookaheadSamples = 0;
    int ringSize = 1;
    int writeIndex = 0;
    float releaseCoefficient = 0.0f;
    double smoothedGain = 1.0;
    double averageSum = 1.0;
    std::vector<ChannelState> channelStates;
    std::vector<float> averageRing;
    // Ring-buffered queue of (sample number, required gain), gains increasing front to back.
    std::vector<int64_t> minimumQueue;
    std::vector<float> queuedGain;
    int queueHead = 0;
    int queueSize = 0;
    int64_t sampleCounter = 0;
};

} // namespace tav
