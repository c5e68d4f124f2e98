#pragma once

#include "algorithms/Algorithm.h"
#include "dsp/FrameAnalyzer.h"
#include "dsp/FrameMeters.h"
#include "dsp/OnsetDetector.h"
#include "engine/LoudnessLaw.h"

#include <array>
#include <memory>
#include <vector>

namespace tav {

// Everything one channel carries from frame to frame: input history, overlap-add sum,
// this frame's analyses, the onset memories and the channel's own algorithm objects.
struct StftChannel {
    std::vector<float> fifoA, fifoB;      // the last N input samples of A and of B
    std::vector<float> outputAccumulator; // overlap-add sum; its first H samples are next out
    FrameAnalysis analysisA, analysisB;
    OnsetDetector onsetA, onsetB;
    std::array<std::unique_ptr<Algorithm>, kAlgorithmCount> algorithms;
    float outputGain = 1.0f;           // last loudness-matching gain
    loudness::SlowLevel<double> level; // the loudness law's slow averages
};

// Short-time Fourier engine: frames A and B every H = N/4 samples, lets the selected
// algorithm build the output spectrum, matches its loudness and resynthesises it by
// overlap-add. The output is delayed by exactly N samples.
class StftEngine {
public:
    // Number of frames over which a newly selected algorithm fades in.
    static constexpr int kCrossfadeFrames = 6;

    // Any thread, serialised with process; allocates. fftSize <= 0 takes fftSizeForRate.
    // Builds new algorithm objects for every channel; ends in reset.
    void prepare(double sampleRate, int channels, int fftSize);

    // Any thread, serialised with process; never allocates. Clears FIFOs, overlap-add,
    // onset memories, loudness gains and algorithm histories; the requested algorithm is in
    // use at once. The Morph line keeps its last value.
    void reset();

    // Audio thread; never allocates. The switch happens at the next frame.
    void requestAlgorithm(int index);

    // Audio thread; never allocates, locks or throws. inA/inB (or any entry) may be null:
    // silence. out holds `channels` valid pointers and may alias neither input. wetShare, if
    // given, receives numSamples values: how far each output sample stands from the edge
    // blends, 0 exactly where every frame sounding there was an input's own spectrum (Morph
    // exactly 0 or 1), 1 where none was blended, ramped across each hop so it never jumps.
    void process(const float* const* inA, const float* const* inB, float* const* out,
                 int numSamples, float morph, float* wetShare = nullptr);

    // Audio thread. Whether the last frame was skipped because both inputs were exactly zero
    // throughout it (meters and onset memories still moved on).
    bool idling() const { return idle; }

    // Audio thread. Whether a frame finished since the last call; clears that.
    bool consumeMetersFresh() { return meterBlock.consumeFresh(); }

    // Audio thread. The last frame's meter values.
    const MeterBlock& meters() const { return meterBlock.block(); }

    // Any thread. Whole-plug-in latency N + L for a rate and Quality.
    static int latencySamples(double sampleRate, int quality);

    int fftSize() const { return frameSize; }
    int hopSize() const { return hop; }
    int numBins() const { return bins; }
    int channelCount() const { return static_cast<int>(channelStates.size()); }
    double sampleRate() const { return rate; }
    int activeAlgorithm() const { return currentAlgorithm; }

    // Test seam; any thread, serialised with process; allocates. Puts `algorithm` in slot
    // `index` of one channel, prepared for the current geometry.
    void replaceAlgorithm(int channel, int index, std::unique_ptr<Algorithm> algorithm);

private:
    void copyBlockRun(const float* const* inA, const float* const* inB, float* const* out,
                      int offset, int count);
    void fillWetShare(float* wetShare, int count) const;
    void recordFrameShare(float morph);
    void processFrame(float morph);
    void switchAlgorithmIfRequested();
    bool reassignmentWanted() const;
    void analyseAllChannels(bool reassign, bool& onsetA, bool& onsetB);
    void buildOutputSpectrum(StftChannel& channel, const MorphContext& context, float fade);
    float matchLoudness(StftChannel& channel, double wetEnergy, float morph, bool onset);
    double loudnessTarget(StftChannel& channel, float morph) const;
    void applyGainAndEdgeBlend(const StftChannel& channel, float gain, double wetEnergy,
                               float morph);
    void keepBlendEnergy(double wetEnergy, double sourceEnergy, float weight);
    void overlapAdd(StftChannel& channel);
    void advanceInputs(StftChannel& channel);
    void processSilentFrame();
    void resumeAfterSilence();
    void shiftOutputByAHop(StftChannel& channel);

    double rate = 0.0;
    int frameSize = 0;
    int hop = 0;
    int bins = 0;
    int hopPosition = 0;
    float previousMorph = 0.0f;
    int currentAlgorithm = 0;
    int requestedAlgorithm = 0;
    int previousAlgorithm = 0;
    int crossfadeFrames = 0;
    // Unblended share of the last three frames, newest first, and the ramp of the current hop.
    std::array<float, 3> frameShares{};
    float shareFrom = 0.0f;
    float shareTo = 0.0f;
    // Per-frame step of the slow energy averages.
    double slowEnergyStep = 0.0;
    // Idle frames: both inputs exactly zero on every channel for a whole frame.
    bool hopSilent = true; // the hop being filled has held only zeros so far
    int silentHops = 0;    // consecutive hops of nothing but zeros, counted up to a frame
    bool idle = false;     // the last frame was silent and skipped

    FrameAnalyzer analyzer;
    std::vector<float> timeBuffer;
    std::vector<float> outRe, outIm;
    std::vector<float> fadeRe, fadeIm;
    std::vector<StftChannel> channelStates;
    std::vector<const FrameAnalysis*> analysesA, analysesB;
    FrameMeters meterBlock;
};

} // namespace tav
