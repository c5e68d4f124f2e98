#include "algorithms/Algorithm.h"
#include "algorithms/ImprintInternals.h"
#include "support/AllocationCounter.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace tav {
namespace {

using namespace imprint;
using test::analyseFrame;
using test::contextFor;

constexpr double kRate = 48000.0;
constexpr int kSize = 2048;
constexpr int kBins = kSize / 2 + 1;
constexpr int kImprint = 2;
constexpr double kNepersToDb = 20.0 / std::numbers::ln10;

// A smooth "vocal tract": three formant bumps (in dB) on a falling slope.
double formantGainDb(double hz) {
    auto bump = [hz](double centre, double width, double height) {
        const double z = (hz - centre) / width;
        return height * std::exp(-0.5 * z * z);
    };
    return bump(700.0, 250.0, 20.0) + bump(1800.0, 350.0, 14.0) + bump(3000.0, 450.0, 10.0) -
           3.0 * hz / 1000.0;
}

// Harmonics of f0 up to 8 kHz, each at the filter's gain, i.e. a pulse train through the filter.
std::vector<float> filteredHarmonics(double f0, double (*gainDb)(double), float level = 0.02f) {
    std::vector<float> out(kSize, 0.0f);
    for (int h = 1; h * f0 < 8000.0; ++h) {
        const float amplitude = level * static_cast<float>(std::pow(10.0, gainDb(h * f0) / 20.0));
        const auto partial = test::sine(h * f0, kRate, kSize, amplitude, 0.7 * h);
        for (int n = 0; n < kSize; ++n)
            out[static_cast<std::size_t>(n)] += partial[static_cast<std::size_t>(n)];
    }
    return out;
}

double flatGainDb(double) {
    return 0.0;
}

std::unique_ptr<Algorithm> preparedImprint() {
    auto imprint = createAlgorithm(kImprint);
    imprint->prepare(kSize, kSize / 4, kRate);
    return imprint;
}

struct Spectrum {
    std::vector<float> re = std::vector<float>(kBins), im = std::vector<float>(kBins);
    float magnitude(int k) const { return std::hypot(re[std::size_t(k)], im[std::size_t(k)]); }
};

Spectrum run(Algorithm& algorithm, const FrameAnalysis& a, const FrameAnalysis& b, float morph) {
    Spectrum out;
    algorithm.process(contextFor(a, b, morph, kSize, kRate), out.re.data(), out.im.data());
    return out;
}

// Sine of the angle between output and input bin: 0 when the output is the input times a real.
double phaseMismatch(const Spectrum& out, const FrameAnalysis& in, int k) {
    const auto p = static_cast<std::size_t>(k);
    const double cross = double(out.re[p]) * in.im[p] - double(out.im[p]) * in.re[p];
    return std::fabs(cross) / (double(out.magnitude(k)) * in.magnitude[p] + 1e-30);
}

TEST(ImprintLifter, KeepsAboutOneCoefficientPerKilohertzWithATaperedTail) {
    EXPECT_EQ(lifterLengthFor(44100.0), 44);
    EXPECT_EQ(lifterLengthFor(48000.0), 48);
    EXPECT_EQ(lifterLengthFor(96000.0), 96);
    EXPECT_EQ(lifterLengthFor(4000.0), 8);
    EXPECT_EQ(lifterLengthFor(384000.0), 255);

    EnvelopeEstimator estimator;
    estimator.prepare(kSize, kRate);
    const auto& lifter = estimator.lifter();
    EXPECT_EQ(lifter[0], 1.0f);
    EXPECT_EQ(lifter[35], 1.0f); // 35/49 < 0.75: still flat
    EXPECT_LT(lifter[48], 0.05f);
    EXPECT_GT(lifter[48], 0.0f);
    for (int i = 49; i <= kCepstrumSize - 49; ++i)
        EXPECT_EQ(lifter[std::size_t(i)], 0.0f) << i;
    for (int i = 1; i <= 48; ++i)
        EXPECT_EQ(lifter[std::size_t(i)], lifter[std::size_t(kCepstrumSize - i)]) << i;
}

TEST(ImprintEnvelope, RestsOnTheHarmonicsOfAFilteredTone) {
    // f0 = 8 bins exactly, so every harmonic sits on a bin centre with Hann peak amplitude * N/4.
    const double f0 = 8.0 * kRate / kSize;
    const float level = 0.02f;
    const auto frame = analyseFrame(filteredHarmonics(f0, formantGainDb, level), kRate, kSize);

    EnvelopeEstimator estimator;
    estimator.prepare(kSize, kRate);
    LogCurve envelope{};
    estimator.estimate(frame.magnitude.data(), envelope);

    const int decimation = kSize / 512;
    const double binDb = 20.0 * std::log10(level * kSize / 4.0);
    for (int h = 1; h * f0 < 7000.0; ++h) {
        const double expectedDb = binDb + formantGainDb(h * f0);
        const int point = h * 8 / decimation;
        EXPECT_NEAR(envelope[std::size_t(point)] * kNepersToDb, expectedDb, 3.0)
            << "harmonic " << h;
        // Between the harmonics the spectrum is empty (80 dB down), yet five passes lift the
        // envelope to within a few dB of the filter there.
        const double betweenDb = binDb + formantGainDb((h + 0.5) * f0);
        EXPECT_NEAR(envelope[std::size_t(point + 1)] * kNepersToDb, betweenDb, 6.0)
            << "between " << h << " and " << h + 1;
    }
}

TEST(ImprintLandmarks, AFlatEnvelopeCrowdsItsLandmarksAtLowPoints) {
    LogCurve flat;
    flat.fill(-3.0f);
    LogCurve cumulative{};
    Landmarks landmarks;
    findLandmarks(flat, cumulative, landmarks);

    // Weight 1/(j + 4) per point: the area up to p is about ln((p + 4.5) / 3.5), so the
    // landmarks sit on a geometric progression of (p + 4.5).
    const double total = std::log(260.5 / 3.5);
    for (int k = 0; k < kLandmarkCount; ++k) {
        const double area = (k + 0.5) / kLandmarkCount * total;
        const double expected = std::max(3.5 * std::exp(area) - 4.5, 0.0);
        EXPECT_NEAR(landmarks.position[std::size_t(k)], expected, 0.75) << k;
        EXPECT_FLOAT_EQ(landmarks.value[std::size_t(k)], -3.0f);
    }
    for (int k = 8; k < kLandmarkCount; ++k)
        EXPECT_GE(landmarks.position[std::size_t(k)] - landmarks.position[std::size_t(k - 1)],
                  landmarks.position[std::size_t(k - 1)] - landmarks.position[std::size_t(k - 2)] -
                      0.05f)
            << k;
    EXPECT_LT(landmarks.position[10] - landmarks.position[9], 1.0f);
    EXPECT_GT(landmarks.position[95] - landmarks.position[94], 8.0f);
    EXPECT_LE(landmarks.position[95], 256.0f);
}

// A Gaussian formant (in nepers) of the given height over a flat base.
LogCurve bumpAt(double centre, float base, float height) {
    LogCurve curve;
    for (int j = 0; j < kEnvelopePoints; ++j) {
        const double z = (j - centre) / 6.0;
        curve[std::size_t(j)] = static_cast<float>(base + height * std::exp(-0.5 * z * z));
    }
    return curve;
}

int peakPoint(const LogCurve& curve) {
    return static_cast<int>(std::max_element(curve.begin(), curve.end()) - curve.begin());
}

TEST(ImprintLandmarks, RebuildASmoothEnvelope) {
    const LogCurve smooth = bumpAt(40.0, -5.0f, 4.0f);
    LogCurve cumulative{}, rebuilt{};
    Landmarks landmarks, same;
    findLandmarks(smooth, cumulative, landmarks);
    morphLandmarks(landmarks, landmarks, 0.7f, same);
    resampleLandmarks(same, rebuilt);
    for (int j = 0; j < kEnvelopePoints; ++j)
        EXPECT_NEAR(rebuilt[std::size_t(j)], smooth[std::size_t(j)], 0.15) << j;
}

TEST(ImprintLandmarks, MoveADominantFormantInsteadOfFadingIt) {
    // Formants 80 dB over their floor carry nearly all of the landmarks.
    const LogCurve a = bumpAt(40.0, -10.0f, 9.5f), b = bumpAt(100.0, -10.0f, 9.5f);
    LogCurve cumulative{}, curve{};
    Landmarks la, lb, lm;
    findLandmarks(a, cumulative, la);
    findLandmarks(b, cumulative, lb);

    // Halfway, one formant of nearly full height stands between the two, near the geometric
    // mean of (point + 4): sqrt(44 * 104) - 4 = 63.6. A crossfade would leave two half bumps.
    morphLandmarks(la, lb, 0.5f, lm);
    resampleLandmarks(lm, curve);
    const int peak = peakPoint(curve);
    EXPECT_NEAR(peak, 63.6, 3.0);
    EXPECT_GT(curve[std::size_t(peak)], -1.0f);
    EXPECT_LT(curve[40], -5.0f);
    EXPECT_LT(curve[100], -5.0f);

    morphLandmarks(la, lb, 1.0f, lm);
    resampleLandmarks(lm, curve);
    EXPECT_NEAR(peakPoint(curve), 100, 1);
}

TEST(ImprintExpansion, TheTopBinMapsExactlyToTheLastPoint) {
    LogCurve curve{};
    curve[256] = 1.0f;
    for (int size : {1024, 2048, 16384}) {
        const int bins = size / 2 + 1;
        const int decimation = size / 512;
        std::vector<float> envelope(std::size_t(bins), 0.0f);
        expandToBins(curve, decimation, bins, envelope.data());
        EXPECT_FLOAT_EQ(envelope[std::size_t(bins - 1)], std::exp(1.0f)) << size;
        // One bin below the top lies 1/decimation of a point below it, on the straight line.
        EXPECT_NEAR(envelope[std::size_t(bins - 2)], std::exp(1.0f - 1.0f / decimation), 1e-5)
            << size;
        EXPECT_FLOAT_EQ(envelope[std::size_t(bins - 1 - decimation)], 1.0f) << size;
    }
}

TEST(ImprintSchedule, EnvelopeTravelsFirstFineStructureLast) {
    const Schedule start = scheduleFor(0.0f);
    EXPECT_EQ(start.envelopeWeight, 0.0f);
    EXPECT_EQ(start.crossfadeAngle, 0.0f);

    const Schedule early = scheduleFor(0.4f);
    EXPECT_EQ(early.crossfadeAngle, 0.0f);
    EXPECT_NEAR(early.envelopeWeight, 20.0 / 27.0, 1e-5); // smoothstep(2/3)

    const Schedule late = scheduleFor(0.6f);
    EXPECT_NEAR(late.envelopeWeight, 1.0, 1e-6);
    EXPECT_NEAR(late.crossfadeAngle, std::numbers::pi / 2.0 * 7.0 / 27.0, 1e-5); // 0.259

    const Schedule end = scheduleFor(1.0f);
    EXPECT_EQ(end.envelopeWeight, 1.0f);
    EXPECT_NEAR(end.crossfadeAngle, std::numbers::pi / 2.0, 1e-6);
}

class ImprintFrames : public ::testing::Test {
protected:
    // A: low voice on a formant filter; B: a higher voice, flat, at other harmonics.
    FrameAnalysis a =
        analyseFrame(filteredHarmonics(8.0 * kRate / kSize, formantGainDb), kRate, kSize);
    FrameAnalysis b =
        analyseFrame(filteredHarmonics(11.0 * kRate / kSize, flatGainDb), kRate, kSize);
    FrameAnalysis silent = test::silentFrame(kSize);
};

TEST_F(ImprintFrames, DoesNotAskForReassignedFrequencies) {
    EXPECT_FALSE(preparedImprint()->needsReassignedFrequencies());
}

TEST_F(ImprintFrames, BothSilentGivesZeroAndOneSilentInputHandsOverToTheOther) {
    auto imprint = preparedImprint();
    const Spectrum quiet = run(*imprint, silent, silent, 0.5f);
    for (int k = 0; k < kBins; ++k)
        ASSERT_EQ(quiet.magnitude(k), 0.0f) << k;

    // B silent: only A contributes, whatever B holds below the silence threshold.
    FrameAnalysis whisper = silent;
    for (int k = 0; k < kBins; ++k)
        whisper.re[std::size_t(k)] = whisper.magnitude[std::size_t(k)] = 1e-9f;
    const Spectrum fromA = run(*imprint, a, silent, 0.8f);
    const Spectrum fromAWithWhisper = run(*imprint, a, whisper, 0.8f);
    EXPECT_EQ(fromA.re, fromAWithWhisper.re);
    EXPECT_EQ(fromA.im, fromAWithWhisper.im);

    // A silent: the output is B, recoloured only by B's envelope rebuilt from its landmarks.
    const Spectrum fromB = run(*imprint, silent, b, 0.2f);
    for (int h = 1; h * 11 < 300; ++h) {
        const int k = 11 * h;
        EXPECT_NEAR(20.0 * std::log10(fromB.magnitude(k) / b.magnitude[std::size_t(k)]), 0.0, 2.0)
            << k;
        EXPECT_LT(phaseMismatch(fromB, b, k), 1e-3) << k;
    }
}

TEST_F(ImprintFrames, MorphZeroIgnoresBAndKeepsA) {
    auto imprint = preparedImprint();
    const FrameAnalysis other = analyseFrame(test::noise(kSize, 0.1f, 7), kRate, kSize);
    const Spectrum withB = run(*imprint, a, b, 0.0f);
    const Spectrum withOther = run(*imprint, a, other, 0.0f);
    EXPECT_EQ(withB.re, withOther.re);
    EXPECT_EQ(withB.im, withOther.im);
    for (int h = 1; h * 8 < 300; ++h) {
        const int k = 8 * h;
        EXPECT_NEAR(20.0 * std::log10(withB.magnitude(k) / a.magnitude[std::size_t(k)]), 0.0, 2.0)
            << k;
        EXPECT_LT(phaseMismatch(withB, a, k), 1e-4) << k;
    }
}

TEST_F(ImprintFrames, AtMorphPointFourBsEnvelopeSitsOnAsHarmonics) {
    auto imprint = preparedImprint();
    const Spectrum out = run(*imprint, a, b, 0.4f);
    // Still A's fine structure: every bin is A's bin times a real, positive gain.
    for (int k = 1; k < 400; ++k) {
        if (a.magnitude[std::size_t(k)] > 1e-3f) {
            EXPECT_LT(phaseMismatch(out, a, k), 1e-4) << k;
            const auto p = std::size_t(k);
            EXPECT_GT(double(out.re[p]) * a.re[p] + double(out.im[p]) * a.im[p], 0.0) << k;
        }
    }
    // B's harmonics that fall between A's (bin 44 lies between 40 and 48) stay absent.
    EXPECT_LT(out.magnitude(44), 1e-3f * out.magnitude(40));
    // The envelope has moved most of the way toward B's flat one: A's 20 dB formant at 700 Hz
    // (bin 30) over its 4.7 kHz region (bin 200) is largely flattened.
    const double formantA = 20.0 * std::log10(a.magnitude[32] / a.magnitude[200]);
    const double formantOut = 20.0 * std::log10(out.magnitude(32) / out.magnitude(200));
    EXPECT_GT(formantA, 25.0);
    EXPECT_LT(formantOut, 0.5 * formantA);
}

TEST_F(ImprintFrames, MorphOneGivesB) {
    auto imprint = preparedImprint();
    const Spectrum out = run(*imprint, a, b, 1.0f);
    for (int h = 1; h * 11 < 300; ++h) {
        const int k = 11 * h;
        EXPECT_NEAR(20.0 * std::log10(out.magnitude(k) / b.magnitude[std::size_t(k)]), 0.0, 2.0)
            << k;
        EXPECT_LT(phaseMismatch(out, b, k), 1e-3) << k;
    }
    // A's harmonic at bin 40, between B's 33 and 44, is gone.
    EXPECT_LT(out.magnitude(40), 1e-3f * out.magnitude(44));
}

TEST_F(ImprintFrames, ResetAndFreshPrepareGiveTheSameFrameAndProcessNeverAllocates) {
    auto used = preparedImprint();
    run(*used, b, a, 0.3f);
    run(*used, a, silent, 0.9f);
    used->reset();
    Spectrum again;
    {
        test::AllocationCounter allocations;
        used->process(contextFor(a, b, 0.55f, kSize, kRate), again.re.data(), again.im.data());
        EXPECT_EQ(allocations.count(), 0u);
    }
    const Spectrum fresh = run(*preparedImprint(), a, b, 0.55f);
    EXPECT_EQ(again.re, fresh.re);
    EXPECT_EQ(again.im, fresh.im);
    for (int k = 0; k < kBins; ++k)
        ASSERT_TRUE(std::isfinite(again.re[std::size_t(k)]) &&
                    std::isfinite(again.im[std::size_t(k)]));
}

} // namespace
} // namespace tav
