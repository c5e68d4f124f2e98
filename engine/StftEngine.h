#pragma once

#include "algorithms/Algorithm.h"
#include "dsp/FrameMeters.h"
#include "dsp/OnsetDetector.h"
#include "dsp/StftFramework.h"
#include "engine/LoudnessLaw.h"
#include "engine/MorphLine.h"

#include <array>
#include <memory>
#include <vector>

namespace tav {

// What the morph carries per channel from frame to frame: the onset memories, the channel's own
// algorithm objects, its last loudness gain and the loudness law's slow averages.
struct StftChannel {
    OnsetDetector onsetA, onsetB;
    std::array<std::unique_ptr<Algorithm>, kAlgorithmCount> algorithms;
    float outputGain = 1.0f;           // last loudness-matching gain
    loudness::SlowLevel<double> level; // the loudness law's slow averages
    double target = 0.0;               // this frame's loudness target
};

// The morph's frame step on the short-time Fourier framework: per frame it lets the selected
// algorithm build the output spectrum from A's and B's analyses (crossfading a switch over six
// frames), matches its loudness, blends toward A or B near the ends of the Morph range, and hands
// it back for overlap-add. The output is delayed by exactly N samples.
class StftEngine : private StftFramework::FrameStep {
public:
    // Number of frames over which a newly selected algorithm fades in.
    static constexpr int kCrossfadeFrames = 6;

    // Any thread, serialised with process; allocates. fftSize <= 0 takes fftSizeForRate.
    // Builds new algorithm objects for every channel; ends in reset.
    void prepare(double sampleRate, int channels, int fftSize);

    // Any thread, serialised with process; never allocates. Clears FIFOs, overlap-add,
    // onset memories, loudness gains and algorithm histories; the requested algorithm is in
    // use at once. The Morph line keeps its last value until startAt.
    void reset();

    // Audio thread; never allocates. The switch happens at the next frame.
    void requestAlgorithm(int index);

    // Audio thread; never allocates. The first block after a reset starts where its parameters
    // are: the Morph line at morph, the algorithm in use at once, with no crossfade.
    void startAt(float morph, int algorithm);

    // Audio thread; never allocates, locks or throws. inA/inB (or any entry) may be null:
    // silence. out holds `channels` valid pointers and may alias neither input. wetShare, if
    // given, receives numSamples values: how far each output sample stands from the edge
    // blends, 0 exactly where every frame sounding there was an input's own spectrum (Morph
    // exactly 0 or 1), 1 where none was blended, ramped across each hop so it never jumps.
    void process(const float* const* inA, const float* const* inB, float* const* out,
                 int numSamples, float morph, float* wetShare = nullptr);

    // Audio thread. Whether the last frame was skipped because both inputs were exactly zero
    // throughout it (meters and onset memories still moved on).
    bool idling() const { return frames.idling(); }

    // Audio thread. Whether a frame finished since the last call; clears that.
    bool consumeMetersFresh() { return meterBlock.consumeFresh(); }

    // Audio thread. The last frame's meter values.
    const MeterBlock& meters() const { return meterBlock.block(); }

    // Any thread. Whole-plug-in latency N + L for a rate and Quality.
    static int latencySamples(double sampleRate, int quality);

    int fftSize() const { return frames.fftSize(); }
    int hopSize() const { return frames.hopSize(); }
    int numBins() const { return frames.numBins(); }
    int channelCount() const { return static_cast<int>(channelStates.size()); }
    double sampleRate() const { return frames.sampleRate(); }
    int activeAlgorithm() const { return currentAlgorithm; }

    // Test seam; any thread, serialised with process; allocates. Puts `algorithm` in slot
    // `index` of one channel, prepared for the current geometry.
    void replaceAlgorithm(int channel, int index, std::unique_ptr<Algorithm> algorithm);

private:
    StftFramework::FramePlan beginFrame(int samplesDone) override;
    void processFrame(StftFramework& framework, bool afterSilence) override;
    void processSilentFrame(StftFramework& framework) override;

    void switchAlgorithmIfRequested();
    bool reassignmentWanted() const;
    void detectOnsets(bool& onsetA, bool& onsetB);
    void buildOutputSpectrum(StftChannel& channel, const MorphContext& context, float fade);
    float matchLoudness(StftChannel& channel, double wetEnergy, bool onset);
    // Every channel's loudness target for this frame, two channels' laws at a time.
    void workOutLoudnessTargets(StftFramework& framework, float morph);
    // One channel's target from its energy mix and the perceived mixes of its slow averages and
    // of the frame (both read only for a Morph strictly between 0 and 1).
    double lawTarget(loudness::SlowLevel<double>& level, double mix, float morph,
                     double slowPerceived, double framePerceived) const;
    void applyGainAndEdgeBlend(const StftChannelFrames& analyses, float gain, double wetEnergy,
                               float morph);
    void keepBlendEnergy(double wetEnergy, double sourceEnergy, float weight);

    StftFramework frames;
    MorphLine morphLine;
    float frameMorph = 0.0f; // Morph of the frame in hand
    int currentAlgorithm = 0;
    int requestedAlgorithm = 0;
    int previousAlgorithm = 0;
    int crossfadeFrames = 0;
    // Per-frame step of the loudness law's slow averages.
    double slowEnergyStep = 0.0;

    std::vector<float> outRe, outIm;
    std::vector<float> fadeRe, fadeIm;
    std::vector<StftChannel> channelStates;
    std::vector<const FrameAnalysis*> analysesA, analysesB;
    FrameMeters meterBlock;
};

} // namespace tav
