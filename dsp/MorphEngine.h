#pragma once

#include "dsp/EngineParams.h"
#include "dsp/FrameMeters.h"

namespace tav {

// The one DSP object the processor owns: cuts host blocks into chunks, cleans the inputs,
// runs the STFT engine and the limiter, and mixes the wet signal with the latency-aligned
// dry signal under ramped Mix, Output gain and Bypass.
class MorphEngine {
public:
    // Any thread, serialised with process; allocates. Ends in reset.
    void prepare(double sampleRate, int channels, int maxBlockSize, int quality);

    // Any thread, serialised with process; never allocates. Clears the signal memory;
    // the Mix, gain and Bypass ramps stay where they are.
    void reset();

    // Audio thread; never allocates, locks or throws. inA and out hold `channels` valid
    // pointers; inB, or any entry of it, may be null (silence on B). out may alias inA.
    void process(const float* const* inA, const float* const* inB, float* const* out,
                 int numSamples, const EngineParams& params);

    // Audio thread. Whether an analysis frame finished since the last call; clears that.
    bool consumeMetersFresh();

    // Audio thread. The last frame's meter values.
    const MeterBlock& meters() const;

    // The prepared engine's latency N + L in samples.
    int currentLatency() const;

    int channelCount() const;
    int qualityMode() const;
};

} // namespace tav
