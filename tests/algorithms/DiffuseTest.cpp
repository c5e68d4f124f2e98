#include "algorithms/Algorithm.h"
#include "support/AllocationCounter.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace tav {
namespace {

using test::analyseFrame;
using test::analyseFrames;
using test::contextFor;

constexpr double kRate = 48000.0;
constexpr int kSize = 2048;
constexpr int kHop = kSize / 4;
constexpr int kBins = kSize / 2 + 1;
constexpr int kDiffuse = 3;
constexpr double kPi = std::numbers::pi;

std::unique_ptr<Algorithm> preparedDiffuse() {
    auto diffuse = createAlgorithm(kDiffuse);
    diffuse->prepare(kSize, kHop, kRate);
    return diffuse;
}

struct Spectrum {
    std::vector<float> re = std::vector<float>(kBins), im = std::vector<float>(kBins);
    double magnitude(int k) const { return std::hypot(re[std::size_t(k)], im[std::size_t(k)]); }
    double phase(int k) const { return std::atan2(im[std::size_t(k)], re[std::size_t(k)]); }
};

Spectrum run(Algorithm& algorithm, const FrameAnalysis& a, const FrameAnalysis& b, float morph) {
    Spectrum out;
    algorithm.process(contextFor(a, b, morph, kSize, kRate), out.re.data(), out.im.data());
    return out;
}

double phaseOf(const FrameAnalysis& frame, int k) {
    return std::atan2(frame.im[std::size_t(k)], frame.re[std::size_t(k)]);
}

double wrapped(double angle) {
    return angle - 2.0 * kPi * std::round(angle / (2.0 * kPi));
}

double hzOfBin(double bin) {
    return test::hzOfBin(bin, kRate, kSize);
}

std::vector<float> signalOfFrames(int frames) {
    return std::vector<float>(kSize + kHop * frames);
}

// A steady sine at a fractional bin, enough samples for the given number of frames.
std::vector<FrameAnalysis> steadySine(double bin, int frames, double phase = 0.0) {
    const auto length = static_cast<int>(signalOfFrames(frames).size());
    return analyseFrames(test::sine(hzOfBin(bin), kRate, length, 0.5f, phase), kRate, kSize, kHop,
                         false);
}

void expectMagnitudes(const Spectrum& out, const std::vector<float>& expected, double tolerance) {
    for (int k = 0; k < kBins; ++k)
        ASSERT_NEAR(out.magnitude(k), expected[std::size_t(k)],
                    tolerance * expected[std::size_t(k)] + 1e-12)
            << "bin " << k;
}

class DiffuseFrames : public ::testing::Test {
protected:
    static constexpr int kFrames = 6;
    int length = static_cast<int>(signalOfFrames(kFrames).size());
    // A: a chord-like texture with a quiet floor; B: brighter noise.
    std::vector<FrameAnalysis> a =
        analyseFrames(test::mix(test::harmonicTone(220.0, 12, kRate, length, 0.3f),
                                test::noise(length, 1e-3f, 3)),
                      kRate, kSize, kHop, false);
    std::vector<FrameAnalysis> b =
        analyseFrames(test::noise(length, 0.2f, 11), kRate, kSize, kHop, false);
    FrameAnalysis silent = test::silentFrame(kSize);
};

TEST_F(DiffuseFrames, DoesNotAskForReassignedFrequencies) {
    EXPECT_FALSE(preparedDiffuse()->needsReassignedFrequencies());
}

TEST_F(DiffuseFrames, MorphEndsAndSilentInputsGiveTheOtherInputsMagnitudes) {
    auto atZero = preparedDiffuse();
    auto atOne = preparedDiffuse();
    auto silentB = preparedDiffuse();
    auto silentA = preparedDiffuse();
    for (int f = 0; f < kFrames; ++f) {
        const auto& fa = a[std::size_t(f)];
        const auto& fb = b[std::size_t(f)];
        expectMagnitudes(run(*atZero, fa, fb, 0.0f), fa.magnitude, 1e-5);
        expectMagnitudes(run(*atOne, fa, fb, 1.0f), fb.magnitude, 1e-5);
        expectMagnitudes(run(*silentB, fa, silent, 0.6f), fa.magnitude, 1e-5);
        expectMagnitudes(run(*silentA, silent, fb, 0.3f), fb.magnitude, 1e-5);
    }
}

TEST_F(DiffuseFrames, IdenticalInputsAreNeverBlurred) {
    for (float morph : {0.25f, 0.5f, 0.75f}) {
        auto diffuse = preparedDiffuse();
        for (const auto& frame : a)
            expectMagnitudes(run(*diffuse, frame, frame, morph), frame.magnitude, 1e-5);
    }
}

// RMS over the window i - h .. i + h, summed directly.
std::vector<double> naiveBlur(const std::vector<float>& m, double octaves) {
    std::vector<double> out(m.size());
    const double halfWidthPerBin = (std::exp2(octaves) - 1.0) * 0.5;
    for (int i = 0; i < kBins; ++i) {
        const int h = static_cast<int>(halfWidthPerBin * i);
        const int lo = std::max(i - h, 0), hi = std::min(i + h, kBins - 1);
        double sum = 0.0;
        for (int j = lo; j <= hi; ++j)
            sum += double(m[std::size_t(j)]) * m[std::size_t(j)];
        out[std::size_t(i)] = std::sqrt(sum / (hi - lo + 1));
    }
    return out;
}

TEST_F(DiffuseFrames, HalfwayBlursBothBySixthOfTheirShapeDifferenceInOctaves) {
    const auto& fa = a[0];
    const auto& fb = b[0];
    double sumA = 0.0, sumB = 0.0;
    for (int k = 0; k < kBins; ++k) {
        sumA += fa.magnitude[std::size_t(k)];
        sumB += fb.magnitude[std::size_t(k)];
    }
    double difference = 0.0;
    for (int k = 0; k < kBins; ++k)
        difference +=
            std::fabs(fa.magnitude[std::size_t(k)] / sumA - fb.magnitude[std::size_t(k)] / sumB);
    const double d = 0.5 * difference;
    ASSERT_GT(d, 0.5); // a tone against noise: very different shapes
    const double octaves = d / 6.0;
    const auto blurredA = naiveBlur(fa.magnitude, octaves);
    const auto blurredB = naiveBlur(fb.magnitude, octaves);

    const Spectrum out = run(*preparedDiffuse(), fa, fb, 0.5f);
    const double halfWidthPerBin = (std::exp2(octaves) - 1.0) * 0.5;
    int blurredBins = 0;
    for (int k = 0; k < kBins; ++k) {
        const double width = halfWidthPerBin * k;
        if (std::fabs(width - std::round(width)) < 1e-3)
            continue; // a window edge too close to call
        const double root =
            0.5 * (std::sqrt(blurredA[std::size_t(k)]) + std::sqrt(blurredB[std::size_t(k)]));
        EXPECT_NEAR(out.magnitude(k), root * root, 1e-4 * root * root + 1e-9) << k;
        blurredBins += width >= 1.0;
    }
    EXPECT_GT(blurredBins, 800);
}

TEST(Diffuse, IntegrationKeepsASteadySineAdvancingAtItsFrequency) {
    constexpr int kFrames = 10;
    const FrameAnalysis silent = test::silentFrame(kSize);
    // On both sides of a bin centre: the loudest bin must lead, whichever neighbour is louder.
    for (double offset : {-0.4, -0.25, -0.1, 0.05, 0.1, 0.25, 0.4}) {
        const double bin = 100.0 + offset;
        const auto frames = steadySine(bin, kFrames);
        auto diffuse = preparedDiffuse();
        // True advance per hop of the sine, as a phase: 2 pi * bin * H / N.
        const double advance = wrapped(2.0 * kPi * bin * kHop / kSize);

        Spectrum previous = run(*diffuse, frames[0], silent, 0.3f);
        for (int f = 1; f < kFrames; ++f) {
            const Spectrum out = run(*diffuse, frames[std::size_t(f)], silent, 0.3f);
            for (int k = 99; k <= 101; ++k)
                EXPECT_NEAR(wrapped(out.phase(k) - previous.phase(k)), advance, 0.05)
                    << "sine at bin " << bin << ", frame " << f << ", bin " << k;
            previous = out;
        }
        // Nine hops later the reconstructed phase is still close to the sine's own.
        EXPECT_NEAR(wrapped(previous.phase(100) - phaseOf(frames[kFrames - 1], 100)), 0.0, 0.3)
            << bin;
    }
}

// The phases the algorithm draws for quiet bins: xorshift32 from its fixed seed.
class PhaseSequence {
public:
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return wrapped(state * (2.0 * kPi / 4294967296.0));
    }

private:
    std::uint32_t state = 0x2545F491u;
};

TEST(Diffuse, BinsHundredDecibelsUnderThePeakGetTheRandomPhasesInOrder) {
    // A sine on a bin centre: three loud bins, everything else rounding noise far below -100 dB.
    const auto frames = steadySine(64.0, 3);
    const auto& first = frames[0];
    const double peak = std::log(*std::max_element(first.magnitude.begin(), first.magnitude.end()));
    const double threshold = peak - 100.0 / 20.0 * std::numbers::ln10;

    auto diffuse = preparedDiffuse();
    PhaseSequence random;
    run(*diffuse, first, first, 0.0f); // no history yet: phases come from the input
    int quietBins = 0;
    for (std::size_t f = 1; f < frames.size(); ++f) {
        const Spectrum out = run(*diffuse, frames[f], frames[f], 0.0f);
        for (int k = 0; k < kBins; ++k) {
            const double level = std::log(std::max(frames[f].magnitude[std::size_t(k)], 1e-20f));
            ASSERT_GT(std::fabs(level - threshold), 0.05) << "bin " << k << " too close to call";
            if (level > threshold)
                continue;
            const double expected = random.next();
            ++quietBins;
            if (out.magnitude(k) > 1e-30) {
                ASSERT_NEAR(wrapped(out.phase(k) - expected), 0.0, 1e-4)
                    << "frame " << f << " bin " << k;
            }
        }
    }
    EXPECT_GT(quietBins, 2 * (kBins - 10));
}

TEST(Diffuse, OnsetAndSilenceTakeThePhasesOfTheLouderInput) {
    const auto tonesA = steadySine(50.0, 1);
    const auto tonesB = steadySine(120.0, 1);
    // B jumps by a quarter turn in the second frame: continuing the phase would miss it.
    const auto jumpedB = steadySine(120.0, 1, kPi / 2.0);
    const FrameAnalysis& a = tonesA[1];
    const FrameAnalysis silent = test::silentFrame(kSize);
    FrameAnalysis onsetA = a;
    onsetA.onset = true;

    auto continuing = preparedDiffuse();
    auto withOnset = preparedDiffuse();
    auto afterSilence = preparedDiffuse();
    run(*continuing, tonesA[0], tonesB[0], 0.5f);
    run(*withOnset, tonesA[0], tonesB[0], 0.5f);
    run(*afterSilence, tonesA[0], tonesB[0], 0.5f);
    const Spectrum quiet = run(*afterSilence, silent, silent, 0.5f);
    for (int k = 0; k < kBins; ++k)
        ASSERT_EQ(quiet.magnitude(k), 0.0) << k;

    const Spectrum onset = run(*withOnset, onsetA, jumpedB[1], 0.5f);
    const Spectrum restart = run(*afterSilence, a, jumpedB[1], 0.5f);
    const Spectrum integrated = run(*continuing, a, jumpedB[1], 0.5f);
    for (const Spectrum* out : {&onset, &restart}) {
        EXPECT_NEAR(wrapped(out->phase(50) - phaseOf(a, 50)), 0.0, 1e-5);
        EXPECT_NEAR(wrapped(out->phase(120) - phaseOf(jumpedB[1], 120)), 0.0, 1e-5);
    }
    EXPECT_GT(std::fabs(wrapped(integrated.phase(120) - phaseOf(jumpedB[1], 120))), 1.0);
}

TEST_F(DiffuseFrames, ResetRepeatsTheSameFramesRandomPhasesIncludedWithoutAllocating) {
    // Texture frames, then a lone sine whose quiet bins draw random phases.
    const auto sine = steadySine(64.0, 3);
    std::vector<MorphContext> frames;
    for (int f = 0; f < kFrames; ++f)
        frames.push_back(contextFor(a[std::size_t(f)], b[std::size_t(f)], 0.4f, kSize, kRate));
    for (const auto& frame : sine)
        frames.push_back(contextFor(frame, silent, 0.4f, kSize, kRate));

    auto runAll = [&](Algorithm& algorithm) {
        std::vector<Spectrum> outs(frames.size());
        for (std::size_t f = 0; f < frames.size(); ++f)
            algorithm.process(frames[f], outs[f].re.data(), outs[f].im.data());
        return outs;
    };
    auto diffuse = preparedDiffuse();
    const auto first = runAll(*diffuse);
    diffuse->reset();
    std::vector<Spectrum> again;
    {
        std::vector<Spectrum> outs(frames.size()); // allocated outside the counted scope
        test::AllocationCounter allocations;
        for (std::size_t f = 0; f < frames.size(); ++f)
            diffuse->process(frames[f], outs[f].re.data(), outs[f].im.data());
        EXPECT_EQ(allocations.count(), 0u);
        again = std::move(outs);
    }
    const auto fresh = runAll(*preparedDiffuse());
    for (std::size_t f = 0; f < frames.size(); ++f) {
        EXPECT_EQ(again[f].re, first[f].re) << f;
        EXPECT_EQ(again[f].im, first[f].im) << f;
        EXPECT_EQ(fresh[f].re, first[f].re) << f;
        EXPECT_EQ(fresh[f].im, first[f].im) << f;
        for (int k = 0; k < kBins; ++k)
            ASSERT_TRUE(std::isfinite(first[f].re[std::size_t(k)]) &&
                        std::isfinite(first[f].im[std::size_t(k)]));
    }
}

} // namespace
} // namespace tav
