#pragma once

#include "dsp/FrameAnalyzer.h"
#include "dsp/FrameRecords.h"

#include <array>
#include <vector>

namespace tav {

// What one channel carries from frame to frame: both inputs' history, the overlap-add sum and
// this frame's analyses of A and B.
struct StftChannelFrames {
    std::vector<float> fifoA, fifoB;      // the last N input samples of A and of B
    std::vector<float> outputAccumulator; // overlap-add sum; its first H samples are next out
    FrameAnalysis analysisA, analysisB;
};

// Short-time Fourier framing of two inputs: every H = N/4 samples it analyses the last N samples
// of A and of B in every channel (Hann window, centre-referenced phases), hands the frame to
// one per-frame hook, and overlap-adds the spectra the hook gives back under the synthesis
// window. It knows nothing of what the hook makes of the frames. The output is delayed by
// exactly N samples. Frames whose inputs held exact zeros throughout are neither analysed nor
// resynthesised: the hook hears of them apart, and the output moves on by a hop.
class StftFramework {
public:
    // What the framework asks of the hook before a frame.
    struct FramePlan {
        bool reassign = false; // analyse with reassigned frequencies
        // A value the framework follows for the caller: for each output sample, the largest
        // value among the frames sounding there, moving linearly across each hop.
        float weight = 0.0f;
    };

    // The per-frame hook.
    class FrameStep {
    public:
        virtual ~FrameStep() = default;
        // Audio thread; never allocates. The hop that ends `samplesDone` samples into this
        // process call is complete; a frame follows.
        virtual FramePlan beginFrame(int samplesDone) = 0;
        // Audio thread; never allocates. Both inputs of every channel are analysed: hand one
        // output spectrum per channel to resynthesise(). `afterSilence`: the frames before
        // this one were silent ones.
        virtual void processFrame(StftFramework& frames, bool afterSilence) = 0;
        // Audio thread; never allocates. Both inputs held exact zeros for the whole frame; the
        // analyses hold those of zeros.
        virtual void processSilentFrame(StftFramework& frames) = 0;
    };

    // Any thread, serialised with process; allocates. Ends in reset.
    void prepare(double sampleRate, int channels, int fftSize);

    // Any thread, serialised with process; never allocates. Clears the inputs' history, the
    // overlap-add sums and the hop position.
    void reset();

    // Audio thread; never allocates, locks or throws. inA/inB (or any entry) may be null:
    // silence. out holds `channels` valid pointers and may alias neither input. weights, if
    // given, receives numSamples values of the frames' followed weight.
    void process(const float* const* inA, const float* const* inB, float* const* out,
                 int numSamples, FrameStep& step, float* weights = nullptr);

    // Audio thread; never allocates. Inside processFrame: the output spectrum of one channel,
    // inverse transformed and added under the synthesis window.
    void resynthesise(int channel, const float* re, const float* im);

    StftChannelFrames& channel(int index) { return channelStates[static_cast<size_t>(index)]; }
    const FrameAnalyzer& analyzer() const { return frameAnalyzer; }
    int fftSize() const { return frameSize; }
    int hopSize() const { return hop; }
    int numBins() const { return bins; }
    int channelCount() const { return static_cast<int>(channelStates.size()); }
    double sampleRate() const { return rate; }
    // Whether the last frame was a silent one.
    bool idling() const { return idle; }

private:
    void copyRun(const float* const* inA, const float* const* inB, float* const* out, int offset,
                 int count);
    void fillWeights(float* weights, int count) const;
    void followWeight(float weight);
    void runFrame(FrameStep& step, int samplesDone);
    void analyseAllChannels(bool reassign);
    void shiftOutputByAHop(StftChannelFrames& channel);
    void advanceInputs(StftChannelFrames& channel);

    double rate = 0.0;
    int frameSize = 0;
    int hop = 0;
    int bins = 0;
    int hopPosition = 0;
    // Weights of the last three frames, newest first, and the ramp across the current hop.
    std::array<float, 3> frameWeights{};
    float weightFrom = 0.0f;
    float weightTo = 0.0f;
    // Silent frames: both inputs exactly zero on every channel for a whole frame.
    bool hopSilent = true; // the hop being filled has held only zeros so far
    int silentHops = 0;    // consecutive hops of nothing but zeros, counted up to a frame
    bool idle = false;     // the last frame was silent

    FrameAnalyzer frameAnalyzer;
    std::vector<float> timeBuffer;
    std::vector<StftChannelFrames> channelStates;
};

} // namespace tav
