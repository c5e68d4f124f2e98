#include "algorithms/Algorithm.h"
#include "algorithms/PartialsInternals.h"
#include "support/AllocationCounter.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace tav::test {
namespace {

using partials::IntervalEstimator;
using partials::kMaxPartials;
using partials::Partial;
using partials::WindowKernel;

constexpr int kPartials = 1;
constexpr int kN = 2048;
constexpr int kHop = kN / 4;
constexpr int kBins = kN / 2 + 1;
constexpr double kRate = 48000.0;
constexpr double kQuarterTone = 1.0 / 24.0; // octaves

std::unique_ptr<Algorithm> preparedPartials() {
    auto algorithm = createAlgorithm(kPartials);
    algorithm->prepare(kN, kHop, kRate);
    return algorithm;
}

WindowKernel hannKernel(int fftSize = kN) {
    WindowKernel kernel;
    kernel.build(fftSize);
    return kernel;
}

std::vector<Partial> pick(const FrameAnalysis& x, const WindowKernel& kernel) {
    std::vector<Partial> candidates(x.magnitude.size()), found(kMaxPartials);
    const int count = partials::pickPartials(x, static_cast<int>(x.magnitude.size()), kernel,
                                             candidates.data(), found.data());
    found.resize(static_cast<std::size_t>(count));
    return found;
}

TEST(PartialsKernel, FollowsTheHannMainLobe) {
    const auto kernel = hannKernel();
    // The Hann window's transform: 1 at the centre, one half a bin away, zero at 2 bins.
    EXPECT_NEAR(kernel.at(0.0f), 1.0f, 1e-6f);
    EXPECT_NEAR(kernel.at(1.0f), 0.5f, 1e-5f);
    EXPECT_NEAR(kernel.at(-1.0f), 0.5f, 1e-5f);
    EXPECT_NEAR(kernel.at(2.0f), 0.0f, 1e-5f);
    EXPECT_EQ(kernel.at(4.0f), 0.0f);
    EXPECT_EQ(kernel.at(-4.5f), 0.0f);
}

TEST(PartialsKernel, FourAtOnceMatchesOneAtATime) {
    const auto kernel = hannKernel();
    std::vector<float> offsets;
    for (int i = -700; i <= 700; ++i)
        offsets.push_back(static_cast<float>(i) / 128.0f + 0.0013f * static_cast<float>(i % 7));
    for (const float edge : {-4.0f, 4.0f, 0.0f})
        offsets.insert(offsets.end(),
                       {std::nextafter(edge, -9.0f), edge, std::nextafter(edge, 9.0f)});
    offsets.insert(offsets.end(), {std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity(), -1e30f});
    while (offsets.size() % 4 != 0)
        offsets.push_back(0.5f);
    for (std::size_t i = 0; i < offsets.size(); i += 4) {
        alignas(16) float four[4];
        _mm_store_ps(four, kernel.at4(_mm_loadu_ps(&offsets[i])));
        for (std::size_t k = 0; k < 4; ++k)
            EXPECT_EQ(four[k], kernel.at(offsets[i + k])) << offsets[i + k];
    }
}

TEST(PartialsPicking, KeepsTheNinetySixStrongestOfMoreThanNinetySixPeaks) {
    // 120 sines on bin centres 8 bins apart (no side lobes there), all amplitudes different.
    std::vector<float> signal(kN, 0.0f);
    std::vector<std::pair<float, int>> byAmplitude;
    for (int i = 0; i < 120; ++i) {
        const int bin = 8 * (i + 1);
        const float amplitude = 0.01f * static_cast<float>(1 + (i * 37) % 120);
        signal = mix(signal, sine(hzOfBin(bin, kRate, kN), kRate, kN, amplitude));
        byAmplitude.push_back({amplitude, bin});
    }
    std::sort(byAmplitude.rbegin(), byAmplitude.rend());
    std::vector<int> expected;
    for (int i = 0; i < kMaxPartials; ++i)
        expected.push_back(byAmplitude[static_cast<std::size_t>(i)].second);
    std::sort(expected.begin(), expected.end());

    const auto found = pick(analyseFrame(signal, kRate, kN), hannKernel());
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < found.size(); ++i)
        EXPECT_NEAR(found[i].frequency, expected[i], 0.01) << i;
}

TEST(PartialsPicking, APeakReassignedMoreThanOneBinAwayIsNoPartial) {
    const auto signal = mix(sine(hzOfBin(100.0, kRate, kN), kRate, kN),
                            sine(hzOfBin(200.3, kRate, kN), kRate, kN, 0.5f));
    auto x = analyseFrame(signal, kRate, kN);
    const auto kernel = hannKernel();
    const auto both = pick(x, kernel);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_NEAR(both[0].frequency, 100.0f, 0.01f);
    EXPECT_NEAR(both[1].frequency, 200.3f, 0.01f);
    // The amplitude is the peak magnitude corrected by the main lobe: half the window sum.
    EXPECT_NEAR(both[1].amplitude, 0.5f * kN / 4.0f, 0.01f * kN / 4.0f);

    x.frequency[100] = 101.2f;
    const auto one = pick(x, kernel);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_NEAR(one[0].frequency, 200.3f, 0.01f);
}

TEST(PartialsResidual, SubtractingASinePartialLowersItsBinsByTwentyDecibels) {
    for (const double bin : {100.0, 57.37, 300.5}) {
        SCOPED_TRACE(bin);
        const auto x = analyseFrame(sine(hzOfBin(bin, kRate, kN), kRate, kN), kRate, kN);
        const auto kernel = hannKernel();
        const auto found = pick(x, kernel);
        ASSERT_EQ(found.size(), 1u);
        auto re = x.re;
        auto im = x.im;
        partials::subtractPartials(found.data(), 1, kernel, kBins, re.data(), im.data());
        double before = 0.0, after = 0.0;
        const double f = found[0].frequency;
        for (int k = static_cast<int>(std::ceil(f)) - 4; k <= static_cast<int>(f) + 4; ++k) {
            before += x.magnitude[k] * x.magnitude[k];
            after += re[k] * re[k] + im[k] * im[k];
        }
        EXPECT_LT(10.0 * std::log10(after / before), -20.0);
    }
}

TEST(PartialsInterval, TwoTonesAFifthApartAreFoundAFifthApart) {
    const int length = 8 * kN;
    const auto framesA = analyseFrames(harmonicTone(220.0, 10, kRate, length), kRate, kN, kHop);
    const auto framesB = analyseFrames(
        harmonicTone(220.0 * std::pow(2.0, 7.0 / 12.0), 10, kRate, length), kRate, kN, kHop);
    const auto kernel = hannKernel();
    IntervalEstimator estimator;
    estimator.reset();
    for (std::size_t f = 0; f < 5; ++f) {
        const auto a = pick(framesA[f], kernel);
        const auto b = pick(framesB[f], kernel);
        estimator.update(a.data(), static_cast<int>(a.size()), b.data(),
                         static_cast<int>(b.size()));
    }
    ASSERT_TRUE(estimator.hasInterval());
    EXPECT_NEAR(estimator.interval(), 7.0 / 12.0, 0.5 * kQuarterTone);
}

Partial at(double frequency, float amplitude) {
    return {static_cast<float>(frequency), amplitude, 0.0f};
}

TEST(PartialsInterval, PrefersThePreviousEstimateWhenTheNewOneIsNear) {
    const double base = 40.0;
    const Partial a[] = {at(base, 1.0f)};
    // B votes 1.0 for 17 quarter tones and 0.9 for 14.
    const Partial b[] = {at(base * std::pow(2.0, 14.0 / 24.0), 0.81f),
                         at(base * std::pow(2.0, 17.0 / 24.0), 1.0f)};
    IntervalEstimator fresh;
    fresh.reset();
    fresh.update(a, 1, b, 2);
    EXPECT_NEAR(fresh.interval(), 17.0 / 24.0, 1e-6);

    // Having heard 14 quarter tones, the boost of 1.25 keeps it (0.9 * 1.25 > 1.0).
    IntervalEstimator settled;
    settled.reset();
    settled.update(a, 1, b, 1);
    EXPECT_NEAR(settled.interval(), 14.0 / 24.0, 1e-6);
    settled.update(a, 1, b, 2);
    EXPECT_NEAR(settled.interval(), 14.0 / 24.0, 1e-6);

    // A new estimate one quarter tone up is near: it moves only 30 % of the way.
    const Partial up[] = {at(base * std::pow(2.0, 15.0 / 24.0), 1.0f)};
    settled.update(a, 1, up, 1);
    EXPECT_NEAR(settled.interval(), (0.3 * 15.0 + 0.7 * 14.0) / 24.0, 1e-6);
}

TEST(PartialsInterval, VotesLikeTheRoundedQuotientRightAtQuarterToneBoundaries) {
    // Ratios a few float steps either side of every half quarter tone (the rounding boundaries)
    // must vote for the step that rounding 24 log2(b / a) as written gives.
    int votes = 0;
    for (const double base : {1.0, 3.7, 40.0, 211.3, 1000.1}) {
        for (int half = -99; half <= 99; half += 2) {
            const auto boundary = static_cast<float>(base * std::pow(2.0, half / 48.0));
            float b = boundary;
            for (int i = 0; i < 4; ++i)
                b = std::nextafter(b, 0.0f);
            for (int nudge = -4; nudge <= 4; ++nudge, b = std::nextafter(b, 1e9f)) {
                const Partial a[] = {at(base, 1.0f)};
                const Partial c[] = {{b, 1.0f, 0.0f}};
                const long step = std::lroundf(24.0f * std::log2(b / a[0].frequency));
                IntervalEstimator estimator;
                estimator.reset();
                estimator.update(a, 1, c, 1);
                // Partials below one bin do not vote.
                if (b < 1.0f || step < -48 || step > 48) {
                    EXPECT_FALSE(estimator.hasInterval()) << base << " " << b;
                    continue;
                }
                ++votes;
                ASSERT_TRUE(estimator.hasInterval()) << base << " " << b;
                EXPECT_EQ(estimator.interval(), static_cast<float>(step) / 24.0f)
                    << base << " " << b;
            }
        }
    }
    EXPECT_GT(votes, 3000);
}

TEST(PartialsInterval, AStrongerLatePartialReplacesTheEarliestOfTheWeakestVoters) {
    // 32 voters fill the slots; two share the lowest amplitude (slots 3 and 10). A 33rd, stronger
    // than them, takes slot 3, so 200 Hz (an octave below B) votes and 300 Hz (ten quarter tones
    // below B, which would win a tie) does not. Every other partial lies more than two octaves
    // from B and votes for nothing.
    std::vector<Partial> a;
    for (int slot = 0; slot < 32; ++slot) {
        const double frequency = slot == 3 ? 300.0 : slot == 10 ? 200.0 : 10.0 + slot;
        a.push_back(at(frequency, slot == 3 || slot == 10 ? 0.5f : 1.0f));
    }
    a.push_back(at(50.0, 0.7f));
    const Partial b[] = {at(400.0, 1.0f)};
    IntervalEstimator estimator;
    estimator.reset();
    estimator.update(a.data(), static_cast<int>(a.size()), b, 1);
    ASSERT_TRUE(estimator.hasInterval());
    EXPECT_NEAR(estimator.interval(), 1.0, 1e-6);
}

TEST(PartialsInterval, KeepsItsEstimateWhenNothingVotes) {
    // Partials below one bin do not vote; an empty histogram is no evidence of any interval.
    const Partial a[] = {at(0.6, 1.0f)};
    const Partial b[] = {at(0.9, 1.0f)};
    IntervalEstimator estimator;
    estimator.reset();
    estimator.update(a, 1, b, 1);
    EXPECT_FALSE(estimator.hasInterval());
    const Partial c[] = {at(10.0, 1.0f)};
    const Partial d[] = {at(20.0, 1.0f)};
    estimator.update(c, 1, d, 1);
    estimator.update(a, 1, b, 1);
    EXPECT_NEAR(estimator.interval(), 1.0, 1e-6);
}

TEST(Partials, MorphZeroAndOneSilentInputGiveTheSoundItself) {
    // At Morph 0 paired partials sit on A's frequencies with A's amplitudes and phases, B's
    // unpaired partials vanish and the residual is A's: the frame is A's spectrum again.
    const auto a =
        analyseFrame(mix(harmonicTone(220.0, 12, kRate, kN), noise(kN, 0.01f, 5)), kRate, kN);
    const auto b =
        analyseFrame(mix(harmonicTone(330.0, 9, kRate, kN), noise(kN, 0.02f, 6)), kRate, kN);
    const auto silent = silentFrame(kN);
    auto algorithm = preparedPartials();
    EXPECT_LT(relativeDeviation(processFrame(*algorithm, a, b, 0.0f, kN, kRate), a), 1e-4);
    algorithm = preparedPartials();
    EXPECT_LT(relativeDeviation(processFrame(*algorithm, a, silent, 0.6f, kN, kRate), a), 1e-4);
    algorithm = preparedPartials();
    EXPECT_LT(relativeDeviation(processFrame(*algorithm, silent, b, 0.2f, kN, kRate), b), 1e-4);
}

TEST(Partials, ResidualsCrossfadeWithEqualPowerAtInterpolatedBandEnergies) {
    // A click at the frame centre has a flat spectrum: no peaks, all residual.
    auto click = [](float level) {
        std::vector<float> x(kN, 0.0f);
        x[kN / 2] = level;
        return analyseFrame(x, kRate, kN);
    };
    const auto a = click(1.0f);
    auto algorithm = preparedPartials();
    // Bands meet at sqrt(1 * 16) = 4 times the unit level; equal power adds sqrt(0.5) twice.
    auto out = processFrame(*algorithm, a, click(16.0f), 0.5f, kN, kRate);
    for (int k = 0; k < kBins; k += 37)
        EXPECT_NEAR(out.re[k], std::sqrt(2.0f) * 4.0f, 1e-3f) << k;
    // A band gain stops at 8: A would need 100 times to meet B at 1e4.
    out = processFrame(*algorithm, a, click(1e4f), 0.5f, kN, kRate);
    for (int k = 0; k < kBins; k += 37)
        EXPECT_NEAR(out.re[k], std::sqrt(0.5f) * (8.0f + 100.0f), 1e-2f) << k;
}

TEST(Partials, BothSilentGivesSilenceAndForgetsThePreviousPartials) {
    const double hz = 1000.0;
    const auto frames = analyseFrames(sine(hz, kRate, 8 * kN), kRate, kN, kHop);
    const auto other = analyseFrames(sine(1200.0, kRate, 8 * kN), kRate, kN, kHop);
    const auto silent = silentFrame(kN);
    auto algorithm = preparedPartials();
    for (std::size_t f = 0; f < 4; ++f)
        processFrame(*algorithm, frames[f], other[f], 0.0f, kN, kRate);
    const auto quiet = processFrame(*algorithm, silent, silent, 0.0f, kN, kRate);
    for (int k = 0; k < kBins; ++k)
        ASSERT_EQ(quiet.magnitude(k), 0.0f) << k;
    // Frame 9 is not one hop after frame 3: a remembered phase would be off, a forgotten one
    // gives A's own frame back.
    const auto out = processFrame(*algorithm, frames[9], other[9], 0.0f, kN, kRate);
    EXPECT_LT(relativeDeviation(out, frames[9]), 1e-4);
}

TEST(Partials, PairedPartialRunsOnByTheHopAndAnOnsetTakesBsPhaseAtHalfway) {
    const double fA = 1000.0;
    const double fB = 1000.0 * std::pow(2.0, 2.0 / 12.0);
    auto framesA = analyseFrames(sine(fA, kRate, 9 * kN), kRate, kN, kHop);
    const auto framesB = analyseFrames(sine(fB, kRate, 9 * kN, 0.5f), kRate, kN, kHop);
    const double middle = std::sqrt(binOfHz(fA, kRate, kN) * binOfHz(fB, kRate, kN));
    const double stepPerHop = 2.0 * std::numbers::pi * middle * kHop / kN;
    const int bin = static_cast<int>(std::lround(middle));

    auto algorithm = preparedPartials();
    double lastPhase = processFrame(*algorithm, framesA[0], framesB[0], 0.5f, kN, kRate).phase(bin);
    for (std::size_t f = 1; f < 6; ++f) {
        const auto out = processFrame(*algorithm, framesA[f], framesB[f], 0.5f, kN, kRate);
        EXPECT_NEAR(angleDifference(out.phase(bin), lastPhase + stepPerHop), 0.0, 0.03) << f;
        lastPhase = out.phase(bin);
    }
    framesA[6].onset = true;
    const auto out = processFrame(*algorithm, framesA[6], framesB[6], 0.5f, kN, kRate);
    const int peakB = std::lround(binOfHz(fB, kRate, kN));
    const float own = std::atan2(framesB[6].im[peakB], framesB[6].re[peakB]);
    EXPECT_NEAR(angleDifference(out.phase(bin), own), 0.0, 0.03);
}

TEST(Partials, ResetMatchesAFreshlyPreparedObject) {
    const auto framesA = analyseFrames(harmonicTone(200.0, 8, kRate, 6 * kN), kRate, kN, kHop);
    const auto framesB = analyseFrames(harmonicTone(300.0, 8, kRate, 6 * kN), kRate, kN, kHop);
    auto used = preparedPartials();
    for (std::size_t f = 0; f < 5; ++f)
        processFrame(*used, framesA[f], framesB[f], 0.4f, kN, kRate);
    used->reset();
    auto fresh = preparedPartials();
    const auto afterReset = processFrame(*used, framesA[7], framesB[7], 0.4f, kN, kRate);
    const auto first = processFrame(*fresh, framesA[7], framesB[7], 0.4f, kN, kRate);
    EXPECT_EQ(afterReset.re, first.re);
    EXPECT_EQ(afterReset.im, first.im);
}

TEST(Partials, ProcessNeverAllocatesEvenWithMoreThanNinetySixPeaks) {
    const auto dense =
        analyseFrame(mix(harmonicTone(120.0, 190, kRate, kN), noise(kN, 0.05f, 9)), kRate, kN);
    const auto tone = analyseFrame(harmonicTone(97.0, 200, kRate, kN), kRate, kN);
    ASSERT_EQ(pick(dense, hannKernel()).size(), static_cast<std::size_t>(kMaxPartials));
    auto algorithm = preparedPartials();
    std::vector<float> re(kBins), im(kBins);
    const auto ctx = contextFor(dense, tone, 0.5f, kN, kRate);
    AllocationCounter counter;
    for (int f = 0; f < 3; ++f)
        algorithm->process(ctx, re.data(), im.data());
    algorithm->reset();
    EXPECT_EQ(counter.count(), 0u);
    for (int k = 0; k < kBins; ++k)
        ASSERT_TRUE(std::isfinite(re[k]) && std::isfinite(im[k]));
}

TEST(Partials, DamagedAnalysesGiveAFiniteFrameWithoutHanging) {
    auto a = analyseFrame(harmonicTone(300.0, 5, kRate, kN), kRate, kN);
    auto b = analyseFrame(noise(kN, 0.3f, 2), kRate, kN);
    a.magnitude[40] = std::numeric_limits<float>::infinity();
    a.frequency[26] = std::numeric_limits<float>::quiet_NaN();
    b.magnitude[7] = std::numeric_limits<float>::quiet_NaN();
    b.frequency[300] = -1e30f;
    auto algorithm = preparedPartials();
    for (const float t : {0.0f, 0.5f, 1.0f}) {
        for (const auto& out : {processFrame(*algorithm, a, b, t, kN, kRate),
                                processFrame(*algorithm, b, a, t, kN, kRate)}) {
            ASSERT_EQ(out.re.size(), static_cast<size_t>(kBins));
            for (int k = 0; k < kBins; ++k)
                EXPECT_TRUE(std::isfinite(out.re[k]) && std::isfinite(out.im[k])) << t << " " << k;
        }
    }
}

} // namespace
} // namespace tav::test
