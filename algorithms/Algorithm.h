#pragma once

#include "dsp/FrameRecords.h"

#include <memory>

namespace tav {

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
