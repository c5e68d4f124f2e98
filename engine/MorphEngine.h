#pragma once

#include "dsp/FrameMeters.h"
#include "dsp/LookaheadLimiter.h"
#include "dsp/SwellGuard.h"
#include "engine/EngineParams.h"
#include "engine/StftEngine.h"
#include "engine/WetShaper.h"

#include <vector>

namespace tav {

// The one DSP object the processor owns: cuts host blocks into chunks, cleans the inputs,
// runs the STFT engine, the wet level shaping and the limiter, and mixes the wet signal with the
// latency-aligned dry signal under ramped Mix, Output gain and Bypass.
class MorphEngine {
public:
    // Any thread, serialised with process; allocates. Ends in reset.
    void prepare(double sampleRate, int channels, int maxBlockSize, int quality);

    // Any thread, serialised with process; never allocates. Clears the signal memory. The
    // first block after it starts at its own parameters: Morph, Mix, Output gain and Bypass
    // do not glide from where they were, and the requested algorithm is in use at once.
    void reset();

    // Audio thread; never allocates, locks or throws. inA and out hold `channels` valid
    // pointers; inB, or any entry of it, may be null (silence on B). out may alias inA.
    void process(const float* const* inA, const float* const* inB, float* const* out,
                 int numSamples, const EngineParams& params);

    // Audio thread; never allocates, locks or throws. The same, with B as the host delivers it:
    // inB (or null) holds sideChannels pointers, any of them may be null. A channel beyond
    // B's last takes B's last channel; a mono engine takes the mean of all of B's channels, so
    // that nothing panned to one side of B is lost.
    void process(const float* const* inA, const float* const* inB, int sideChannels,
                 float* const* out, int numSamples, const EngineParams& params);

    // Audio thread. Whether an analysis frame finished since the last call; clears that.
    bool consumeMetersFresh();

    // Audio thread. The last frame's meter values.
    const MeterBlock& meters() const;

    // The prepared engine's latency N + L in samples.
    int currentLatency() const;

    // Any thread. The channel count and Quality of the last prepare, so the processor can
    // tell whether a new activation needs another.
    int channelCount() const;
    int qualityMode() const;

    // Test seam; audio thread, between process calls. Switches the wet signal's level shaping
    // off (the resynthesised signal goes straight to the guard and limiter) or back on.
    void setWetShaping(bool enabled) { wetShaping = enabled; }

private:
    // One channel's chunk buffers and its latency-aligned dry path.
    struct ChannelState {
        std::vector<float> scratchA, scratchB, scratchWet; // maxBlockSize samples each
        std::vector<float> dryDelay;                       // N + L + 1 samples of dry A
    };

    void startAt(const EngineParams& params);
    void processChunk(const float* const* inA, const float* const* inB, int sideChannels,
                      float* const* out, int offset, int count, const EngineParams& params);
    void cleanInputs(const float* const* inA, const float* const* inB, int sideChannels, int offset,
                     int count);
    void cleanSideInput(const float* const* inB, int sideChannels, int channel, int offset,
                        int count);
    void followInputPeak(int count);
    bool wetIsFinite(int count) const;
    void silenceWet(int count);
    void mixIntoOutput(float* const* out, int offset, int count, const EngineParams& params);
    void fillRamps(int count, const EngineParams& params);
    int delayDry(ChannelState& state, int index, int count);
    void mixChannel(const float* wet, float* destination, int count) const;

    int channels = 0;
    int maxBlockSize = 0;
    int quality = 0;
    double rate = 0.0;
    StftEngine stft;
    LookaheadLimiter limiter;
    SwellGuard guard;
    WetShaper shaper;
    bool wetShaping = true;
    std::vector<ChannelState> channelStates;
    std::vector<const float*> pointersA, pointersB;
    std::vector<float*> pointersWet;
    // Per-sample values shared by all channels of a chunk, maxBlockSize each.
    std::vector<float> mixRamp, gainRamp, bypassRamp, wetShare, ceilings;
    std::vector<float> drySamples;  // one channel's latency-aligned dry chunk
    std::vector<float> sideChannel; // one of B's channels, cleaned, while a mono engine sums them
    int dryIndex = 0;
    int dryLength = 1;
    float previousMix = 1.0f;
    float previousGain = 1.0f;
    float bypassAmount = 0.0f;
    bool freshStart = true; // the next block is the first after a reset
    float bypassStep = 0.0f;
    float inputPeak = 0.0f;
    std::vector<float> decayPowers; // the peak's decay over maxBlockSize - j samples at j
};

} // namespace tav
