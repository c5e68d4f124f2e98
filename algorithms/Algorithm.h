#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace tav {

// One input's analysis of one frame and channel, filled by the engine; algorithms only read it.
struct FrameAnalysis {
    std::vector<float> re, im;    // the windowed frame's spectrum, numBins entries
    std::vector<float> magnitude; // sqrt(re^2 + im^2)
    std::vector<float>
        frequency;       // reassigned frequency in bins; kept from the last frame that asked
    float energy = 0.0f; // A-weighted energy; below 1e-12 the input counts as silent
    bool onset = false;  // an onset fired for this input in this frame (any channel)

    // Any thread; allocates. Sizes every array to numBins zeros.
    void resize(int numBins);
};

// Everything an algorithm sees of one frame; built on the stack for every frame and channel.
struct MorphContext {
    const FrameAnalysis* a = nullptr;
    const FrameAnalysis* b = nullptr;
    float morph = 0.0f; // 0 = all A, 1 = all B
    int32_t fftSize = 0;
    int32_t numBins = 0;
    int32_t hopSize = 0;
    double sampleRate = 0.0;
};

// A morph algorithm: turns one frame of A and one of B into one output spectrum.
// Lifecycle prepare -> reset -> process; only prepare allocates.
class Algorithm {
public:
    virtual ~Algorithm();

    // Any thread, serialised with process; allocates. Sizes all per-bin state for fftSize/2 + 1
    // bins.
    virtual void prepare(int fftSize, int hopSize, double sampleRate) = 0;

    // Audio thread; never allocates. Forgets the history that ties one frame to the next.
    virtual void reset() = 0;

    // Audio thread; never allocates. Writes all ctx.numBins entries of outRe and outIm.
    virtual void process(const MorphContext& ctx, float* outRe, float* outIm) = 0;

    // Audio thread; whether FrameAnalysis::frequency must be measured for this algorithm.
    virtual bool needsReassignedFrequencies() const;
};

// Number of algorithms, in the order of the "Algorithm" parameter's list.
inline constexpr int kAlgorithmCount = 4;

// Any thread; allocates. New, unprepared algorithm for a list index:
// 0 Transport, 1 Partials, 2 Imprint, 3 Diffuse; null for any other index.
std::unique_ptr<Algorithm> createAlgorithm(int index);

} // namespace tav
