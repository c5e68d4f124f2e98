#pragma once

#include "algorithms/Algorithm.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Test signals and the analysis of a signal into frames, shared by the DSP and algorithm tests.
namespace tav::test {

// amplitude * sin(2 pi f n / rate + phase) for n = 0..length-1.
std::vector<float> sine(double frequencyHz, double sampleRate, int length, float amplitude = 1.0f,
                        double phase = 0.0);

// Sum of harmonics 1..count of f0 (those below Nyquist), harmonic h at amplitude / h.
std::vector<float> harmonicTone(double f0Hz, int count, double sampleRate, int length,
                                float amplitude = 1.0f);

// Uniform white noise in -amplitude..amplitude, reproducible from the seed.
std::vector<float> noise(int length, float amplitude, std::uint32_t seed = 1);

// Element-wise sum of two signals (the result has the longer length).
std::vector<float> mix(const std::vector<float>& x, const std::vector<float>& y);

// Frequency in Hz of a (fractional) bin, and the bin of a frequency.
double hzOfBin(double bin, double sampleRate, int fftSize);
double binOfHz(double hz, double sampleRate, int fftSize);

// Analysis of the frames that start at 0, hop, 2*hop, ... and fit in the signal, each made by
// the engine's frame analyser (Hann window, centre-referenced phases, reassigned frequencies).
std::vector<FrameAnalysis> analyseFrames(const std::vector<float>& signal, double sampleRate,
                                         int fftSize, int hop, bool reassign = true);

// Analysis of the one frame that starts at the given sample.
FrameAnalysis analyseFrame(const std::vector<float>& signal, double sampleRate, int fftSize,
                           int start = 0, bool reassign = true);

// The standard A-weighting curve (IEC 61672) as a power gain, 1 at 1 kHz.
double aWeightingPower(double hz);

// Mean A-weighted power of x over [from, to), from Hann-windowed 4096-point periodograms.
double aWeightedPower(const std::vector<float>& x, std::size_t from, std::size_t to,
                      double sampleRate);

// A silent frame: every array numBins zeros, energy 0.
FrameAnalysis silentFrame(int fftSize);

// The context an engine would build for one frame.
MorphContext contextFor(const FrameAnalysis& a, const FrameAnalysis& b, float morph, int fftSize,
                        double sampleRate);

// One algorithm output frame, with the few measurements the tests take of it.
struct OutputFrame {
    std::vector<float> re, im;
    float magnitude(int bin) const;
    float phase(int bin) const;
    int peakBin() const; // the first bin of the largest magnitude
};

// Runs one frame through an algorithm (allocates the output; not for allocation checks).
OutputFrame processFrame(Algorithm& algorithm, const FrameAnalysis& a, const FrameAnalysis& b,
                         float morph, int fftSize, double sampleRate);

// Largest distance between an output frame and an input's own spectrum, relative to the input's
// largest magnitude.
double relativeDeviation(const OutputFrame& out, const FrameAnalysis& x);

// Difference of two angles wrapped into -pi..pi.
double angleDifference(double x, double y);

} // namespace tav::test
