#pragma once

#include "dsp/FrameRecords.h"

namespace tav {

// Decides once per frame whether one input of one channel has just started a new sound:
// positive log-energy flux over 32 third-octave bands against its own recent history,
// with a hold-off of three frames after each detection.
class OnsetDetector {
public:
    static constexpr int kBands = 32;
    static constexpr int kHistory = 8;
    static constexpr int kHoldOffFrames = 3;

    // Audio thread; never allocates. Zeroes the whole state; the next frame only primes.
    void reset();

    // Audio thread; never allocates. bandMap gives each of the numBins bins its band 0..31.
    bool detect(const FrameAnalysis& analysis, int numBins, const int* bandMap);

    // Audio thread; never allocates. Exactly what detect does for an analysis of zeros (a
    // silent frame), without reading one.
    bool detectSilence();

private:
    bool decide(const float (&bandEnergy)[kBands], float energy);

    float previousLogEnergy[kBands] = {};
    float fluxHistory[kHistory] = {};
    int historyPosition = 0;
    int holdFrames = 0;
    bool primed = false;
};

} // namespace tav
