#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tav {

// Keeps the wet signal under a ceiling: max(1, input peak), or one given sample by sample.
// Delays it by the look-ahead L and lowers one linked gain ahead of each peak, so the gain is
// reached exactly when the peak leaves.
class LookaheadLimiter {
public:
    // Any thread; allocates. L = max(16, round(1.5 ms)), 25 ms release; ends in reset.
    void prepare(double sampleRate, int channels);

    // Audio thread; never allocates. Unity gain, empty delay lines.
    void reset();

    // Audio thread; never allocates. Limits signal[c][0..numSamples) in place.
    void process(float* const* signal, int numSamples, float inputPeak);

    // Audio thread; never allocates. The same under ceilings[i] for the sample signal[c][i]
    // (before its delay); a ceiling that is not a positive number falls back to full scale.
    void process(float* const* signal, int numSamples, const float* ceilings);

    int lookahead() const { return lookaheadSamples; }

private:
    // Samples handled per pass; the gains of one pass live on the stack.
    static constexpr int kSubBlock = 64;

    // Pushes this sample's need into the sliding window of the last L + 1 and returns its minimum.
    float windowMinimum(float need);
    // gain[i] = the gain each sample of signal[c][start + i] needs to stay under ceiling[i].
    void requiredGains(float* const* signal, int start, int count, const float* ceiling,
                       float* gain) const;
    // Gains, smoothing and the delayed signal for one stretch of at most kSubBlock samples.
    void processStretch(float* const* signal, int start, int count, const float* ceiling);
    // Turns required gains into the smoothed gain sequence, in place, sample by sample.
    void smoothGains(float* gain, int count);
    // The same where every need in the window is 1 (windowAtUnity holds): the gain only
    // releases, and neither the sliding minimum nor the release's recursion need run.
    void releaseGains(float* gain, int count);
    // Feeds a stretch of smoothed gains into the moving average and replaces them, in place,
    // by the averaged gains; the sample counter is the caller's to advance.
    void averageStretch(float* gain, int count);
    // Extends or restarts the count of newest averaged entries that hold exactly 1.
    void countUnityRun(const float* smoothed, int count);
    // Whether every need in the window and in the stretch is 1.
    bool windowAtUnity(const float* need, int count) const;
    // Whether the gain rests at unity and every sample of the stretch needs no reduction.
    bool restingAtUnity(const float* need, int count) const;
    // Whether every channel's stretch and everything still in its delay line is exactly zero.
    bool silentThroughout(float* const* signal, int start, int count) const;
    // Ends a release at once: in silence the gain scales nothing, and the sound after it starts
    // at unity as it would on a fresh limiter, instead of creeping the last steps up to 1 for
    // a second or more sample by sample.
    void settleAtUnity();
    // The sequence smoothGains gives for a resting stretch, without the per-sample recursion.
    void holdUnity(float* gain, int count);
    // The sliding minimum's queue as unity needs leave it: one unity entry, the newest sample's.
    void keepOnlyNewestUnity();
    // signal[c][start + i] = gain[i] times the sample L earlier; advances the write position.
    void applyDelayed(float* const* signal, int start, int count, const float* gain);

    struct ChannelState {
        std::vector<float> delayLine; // L + 1 samples of the wet signal
    };

    int lookaheadSamples = 0;
    int ringSize = 1;
    int writeIndex = 0;
    float releaseCoefficient = 0.0f;
    // (1 - releaseCoefficient)^(i + 1): how far from unity a releasing gain is i + 1 samples on,
    // against where it started.
    std::array<double, kSubBlock> releaseFactors{};
    double smoothedGain = 1.0;
    double averageSum = 1.0;
    std::vector<ChannelState> channelStates;
    std::vector<float> averageRing;
    int unityRun = 0; // how many of the newest averageRing entries hold exactly 1, at most ringSize
    // Ring-buffered queue of (sample number, required gain), gains increasing front to back.
    std::vector<int64_t> minimumQueue;
    std::vector<float> queuedGain;
    int queueHead = 0;
    int queueSize = 0;
    int64_t sampleCounter = 0;
};

} // namespace tav
