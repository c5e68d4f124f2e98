#pragma once

#include "dsp/RealFft.h"

#include <array>
#include <memory>

// The building blocks of the Imprint algorithm: a true-envelope estimate on a fixed 257-point
// log-magnitude curve, and the landmark alignment that lets formants travel instead of fade.
// They live here, apart from the algorithm class, so that they can be checked one by one.
namespace tav::imprint {

// Envelope points 0..256; point i stands for bin i * decimation, point 256 for Nyquist.
inline constexpr int kEnvelopePoints = 257;
inline constexpr int kCepstrumSize = 512;
inline constexpr int kLandmarkCount = 96;

// About 80 dB: how far below its peak an envelope is allowed to fall.
inline constexpr float kEnvelopeRangeNepers = 9.2f;

using LogCurve = std::array<float, kEnvelopePoints>;

// Equal-area landmarks of one log envelope: point positions (fractional) and log values.
struct Landmarks {
    std::array<float, kLandmarkCount> position{};
    std::array<float, kLandmarkCount> value{};
};

// How far Morph has carried each part: the envelope's weight x toward B (0..1), and the
// equal-power crossfade angle theta of the fine structure (0 = all A, pi/2 = all B).
struct Schedule {
    float envelopeWeight = 0.0f;
    float crossfadeAngle = 0.0f;
};

// Any thread; never allocates. The envelope moves over the first 60 % of the range, the fine
// structure over the last 60 %, both along a smoothstep.
Schedule scheduleFor(float morph);

// Any thread; never allocates. Cepstral coefficients kept: about one per kHz of sample rate.
int lifterLengthFor(double sampleRate);

// Any thread; never allocates. Envelope points per bin for a frame length (at least 1).
int decimationFor(int fftSize);

// Iterated cepstral smoothing (a true-envelope estimate) of one magnitude spectrum.
class EnvelopeEstimator {
public:
    // Any thread; allocates. Builds the 512-point transform and the lifter for this geometry.
    void prepare(int fftSize, double sampleRate);

    // Audio thread; never allocates. Natural-log envelope of numBins magnitudes at the 257 points.
    void estimate(const float* magnitude, LogCurve& logEnvelope);

    int decimation() const { return pointsDecimation; }
    int numBins() const { return bins; }
    int lifterLength() const { return keptCoefficients; }
    const std::array<float, kCepstrumSize>& lifter() const { return lifterWindow; }

private:
    void peakHoldDecimate(const float* magnitude);
    void floorToRange();
    void smooth();

    int bins = 0;
    int pointsDecimation = 1;
    int keptCoefficients = 8;
    std::unique_ptr<RealFft> cepstrumFft;
    std::array<float, kCepstrumSize> lifterWindow{};
    LogCurve base{}, iterate{}, smoothed{}, zeros{}, discard{};
    std::array<float, kCepstrumSize> cepstrum{};
};

// Any thread; never allocates. The 96 landmarks that cut the envelope's weighted area
// (level above a floor 80 dB under its peak, divided by point + 4) into equal parts.
// cumulative is scratch for the running sums.
void findLandmarks(const LogCurve& logEnvelope, LogCurve& cumulative, Landmarks& out);

// Any thread; never allocates. Positions moved geometrically (on point + 4), values linearly.
void morphLandmarks(const Landmarks& a, const Landmarks& b, float weight, Landmarks& out);

// Any thread; never allocates. Piecewise-linear curve through the landmarks at the 257 points.
void resampleLandmarks(const Landmarks& landmarks, LogCurve& logEnvelope);

// Any thread; never allocates. Linear magnitude per bin, interpolated between envelope points.
void expandToBins(const LogCurve& logEnvelope, int decimation, int numBins, float* envelope);

} // namespace tav::imprint
