#pragma once

#include "dsp/FrameRecords.h"
#include "dsp/RealFft.h"

#include <memory>
#include <vector>

namespace tav {

// Turns the last N samples of one input into a FrameAnalysis: Hann window, rotation of the
// frame centre to index 0, forward transform, magnitudes, A-weighted energy and, when asked,
// reassigned frequencies from the spectrum under the derivative window.
// Also holds the per-bin tables the engine derives from the same geometry.
class FrameAnalyzer {
public:
    // Any thread; allocates. Builds the transform, the two windows and the per-bin tables.
    void prepare(double sampleRate, int fftSize);

    // Audio thread; never allocates. frame holds N samples, oldest first; fills out's arrays
    // (sized to numBins by the caller), and out.frequency only when reassign is true.
    void analyse(const float* frame, FrameAnalysis& out, bool reassign);

    int fftSize() const { return n; }
    int hopSize() const { return n / 4; }
    int numBins() const { return n / 2 + 1; }
    double sampleRate() const { return rate; }

    // The engine's transform, shared for resynthesis (one caller at a time).
    RealFft& fft() { return *transform; }

    const float* analysisWindow() const { return window.data(); }
    // Scaled Hann whose product with the analysis window sums to 1 over four overlapping frames.
    const float* synthesisWindow() const { return synthesis.data(); }
    // A-weighting power per bin, 1 kHz weighing about 1.
    const float* binWeight() const { return weight.data(); }
    // Meter band 0..127 (70 Hz .. 9.5 kHz, logarithmic) of each bin, -1 for none.
    const int* displayBand() const { return display.data(); }
    // Third-octave onset band 0..31 of each bin, counted from 40 Hz.
    const int* thirdOctaveBand() const { return thirdOctave.data(); }

private:
    void windowAndRotate(const float* frame, const float* shape);
    void rotate(const float* frame);

    double rate = 0.0;
    int n = 0;
    std::unique_ptr<RealFft> transform;
    std::vector<float> window, synthesis;
    std::vector<float> weight;
    std::vector<int> display, thirdOctave;
    std::vector<float> frameBuffer;
    std::vector<float> plainRe, plainIm; // the unwindowed spectrum, when reassigning
};

} // namespace tav
