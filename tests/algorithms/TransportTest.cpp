#include "algorithms/Algorithm.h"
#include "support/AllocationCounter.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

namespace tav::test {
namespace {

constexpr int kTransport = 0;
constexpr int kN = 2048;
constexpr int kHop = kN / 4;
constexpr int kBins = kN / 2 + 1;
// 440 Hz falls on bin 16 exactly at this rate, 880 Hz on bin 32.
constexpr double kBinExactRate = 440.0 * kN / 16.0;
constexpr double kRate = 48000.0;

std::unique_ptr<Algorithm> preparedTransport(int fftSize = kN, double rate = kRate) {
    auto transport = createAlgorithm(kTransport);
    transport->prepare(fftSize, fftSize / 4, rate);
    return transport;
}

TEST(Transport, PeakFollowsTheGeometricInterpolationOfTheTwoSines) {
    for (const double rate : {kBinExactRate, kRate}) {
        SCOPED_TRACE(rate);
        const auto a = analyseFrame(sine(440.0, rate, kN), rate, kN);
        const auto b = analyseFrame(sine(880.0, rate, kN), rate, kN);
        const double binA = binOfHz(440.0, rate, kN);
        const double binB = binOfHz(880.0, rate, kN);
        int lastPeak = 0;
        for (int step = 0; step <= 20; ++step) {
            const double t = step / 20.0;
            auto transport = preparedTransport(kN, rate);
            const int peak =
                processFrame(*transport, a, b, static_cast<float>(t), kN, rate).peakBin();
            const double expected = std::exp((1.0 - t) * std::log(binA) + t * std::log(binB));
            // Within a hair of a half bin either neighbour is a fair rounding.
            if (std::fabs(expected - std::floor(expected) - 0.5) > 0.01) {
                EXPECT_EQ(peak, std::lround(expected)) << "t = " << t;
            }
            EXPECT_GE(peak, lastPeak) << "t = " << t;
            lastPeak = peak;
        }
    }
}

TEST(Transport, MorphZeroAndOneSilentInputRedrawTheSoundAtItsOwnPlace) {
    // Clean tones, so that every region's peak frequency rounds to its own peak bin.
    const auto a = analyseFrame(harmonicTone(220.0, 12, kRate, kN), kRate, kN);
    const auto b = analyseFrame(harmonicTone(311.0, 8, kRate, kN), kRate, kN);
    // Noise cuts B into many small regions, so A's regions are split over many pairs.
    const auto noisyB =
        analyseFrame(mix(harmonicTone(311.0, 8, kRate, kN), noise(kN, 0.05f, 3)), kRate, kN);
    const auto silent = silentFrame(kN);

    // Every region of A lands once, in full, on its own bin with its own phase.
    auto transport = preparedTransport();
    EXPECT_LT(relativeDeviation(processFrame(*transport, a, noisyB, 0.0f, kN, kRate), a), 1e-5);
    transport = preparedTransport();
    EXPECT_LT(relativeDeviation(processFrame(*transport, a, silent, 0.7f, kN, kRate), a), 1e-5);
    transport = preparedTransport();
    EXPECT_LT(relativeDeviation(processFrame(*transport, silent, b, 0.3f, kN, kRate), b), 1e-5);
}

TEST(Transport, BothSilentGivesSilenceAndForgetsThePhaseHistory) {
    const auto tone = sine(1000.0, kRate, 8 * kN);
    const auto other = sine(1500.0, kRate, 8 * kN);
    const auto framesA = analyseFrames(tone, kRate, kN, kHop);
    const auto framesB = analyseFrames(other, kRate, kN, kHop);
    const auto silent = silentFrame(kN);
    auto transport = preparedTransport();
    for (int f = 0; f < 4; ++f)
        processFrame(*transport, framesA[f], framesB[f], 0.5f, kN, kRate);

    const auto quiet = processFrame(*transport, silent, silent, 0.5f, kN, kRate);
    for (int k = 0; k < kBins; ++k)
        ASSERT_EQ(quiet.magnitude(k), 0.0f) << k;

    // Frame 9 is not one hop after frame 3, so a remembered phase would be off; after the
    // silence the drawn phase is A's own at its peak.
    const auto out = processFrame(*transport, framesA[9], framesB[9], 0.5f, kN, kRate);
    const int peakA = std::lround(binOfHz(1000.0, kRate, kN));
    const float own = std::atan2(framesA[9].im[peakA], framesA[9].re[peakA]);
    EXPECT_NEAR(angleDifference(out.phase(out.peakBin()), own), 0.0, 1e-4);
}

TEST(Transport, ResetMatchesAFreshlyPreparedObject) {
    const auto framesA = analyseFrames(harmonicTone(200.0, 6, kRate, 6 * kN), kRate, kN, kHop);
    const auto framesB = analyseFrames(harmonicTone(290.0, 6, kRate, 6 * kN), kRate, kN, kHop);
    auto used = preparedTransport();
    for (int f = 0; f < 5; ++f)
        processFrame(*used, framesA[f], framesB[f], 0.4f, kN, kRate);
    used->reset();
    auto fresh = preparedTransport();
    const auto afterReset = processFrame(*used, framesA[7], framesB[7], 0.4f, kN, kRate);
    const auto first = processFrame(*fresh, framesA[7], framesB[7], 0.4f, kN, kRate);
    EXPECT_EQ(afterReset.re, first.re);
    EXPECT_EQ(afterReset.im, first.im);
}

TEST(Transport, SteadySineAdvancesItsPhaseByTheHopAndAnOnsetResetsIt) {
    const double fA = 700.0;
    const double fB = 1100.0;
    auto framesA = analyseFrames(sine(fA, kRate, 9 * kN), kRate, kN, kHop);
    const auto framesB = analyseFrames(sine(fB, kRate, 9 * kN), kRate, kN, kHop);
    const float t = 0.3f;
    const double target = std::exp((1.0 - t) * std::log(binOfHz(fA, kRate, kN)) +
                                   t * std::log(binOfHz(fB, kRate, kN)));
    const double stepPerHop = 2.0 * std::numbers::pi * target * kHop / kN;

    auto transport = preparedTransport();
    const int bin = static_cast<int>(std::lround(target));
    double lastPhase = processFrame(*transport, framesA[0], framesB[0], t, kN, kRate).phase(bin);
    for (int f = 1; f < 6; ++f) {
        const auto out = processFrame(*transport, framesA[f], framesB[f], t, kN, kRate);
        ASSERT_EQ(out.peakBin(), bin);
        EXPECT_NEAR(angleDifference(out.phase(bin), lastPhase + stepPerHop), 0.0, 0.01) << f;
        lastPhase = out.phase(bin);
    }
    // A is the dominant side at this Morph: its own peak phase comes back at the onset.
    framesA[6].onset = true;
    const auto out = processFrame(*transport, framesA[6], framesB[6], t, kN, kRate);
    const int peakA = std::lround(binOfHz(fA, kRate, kN));
    const float own = std::atan2(framesA[6].im[peakA], framesA[6].re[peakA]);
    EXPECT_NEAR(angleDifference(out.phase(bin), own), 0.0, 1e-4);
}

// A made-up analysis of one region: magnitudes on [from, to), all bins reassigned to `peak`.
FrameAnalysis region(int fftSize, int from, int to, int peak, float (*shape)(int offset)) {
    FrameAnalysis x = silentFrame(fftSize);
    for (int k = from; k < to; ++k) {
        const auto i = static_cast<std::size_t>(k);
        x.magnitude[i] = shape(k - peak);
        x.re[i] = x.magnitude[i] * std::cos(0.3f * k);
        x.im[i] = x.magnitude[i] * std::sin(0.3f * k);
        x.frequency[i] = static_cast<float>(peak);
    }
    x.energy = 1.0f;
    return x;
}

float narrow(int offset) {
    return 1.0f / (1.0f + std::abs(offset));
}
float wideBelow(int offset) {
    return 2.0f + 0.001f * offset;
} // largest at the peak (offset 0)
float wideAbove(int offset) {
    return 2.0f - 0.001f * offset;
}

TEST(Transport, DrawsBothRegionsShiftedOntoTheTargetAndTurnedToOnePhase) {
    // One region per side covering every bin (all reassigned to its peak), phases all different.
    const int n = 128;
    const int bins = n / 2 + 1;
    auto spread = [&](int peak, float twist) {
        FrameAnalysis x = silentFrame(n);
        for (int k = 0; k < bins; ++k) {
            const auto i = static_cast<std::size_t>(k);
            x.magnitude[i] = 1.0f / (1.0f + 0.2f * std::abs(k - peak));
            x.re[i] = x.magnitude[i] * std::cos(twist * k);
            x.im[i] = x.magnitude[i] * std::sin(twist * k);
            x.frequency[i] = static_cast<float>(peak);
        }
        x.energy = 1.0f;
        return x;
    };
    const auto a = spread(20, 0.4f);
    const auto b = spread(45, -0.9f);
    auto transport = preparedTransport(n);
    const auto out = processFrame(*transport, a, b, 0.5f, n, kRate);

    // Target sqrt(20 * 45) = 30; equal weights 1/2, so A (side 1) sets the phase: its own.
    const double phase = std::atan2(a.im[20], a.re[20]);
    for (int d = 0; d < bins; ++d) {
        std::complex<double> expected = 0.0;
        for (const auto& [x, peak] : {std::pair{&a, 20}, std::pair{&b, 45}}) {
            const int k = d - 30 + peak;
            if (k < 0 || k >= bins)
                continue;
            const std::complex<double> peakValue(x->re[peak], x->im[peak]);
            const auto turn = std::polar(1.0, phase - std::arg(peakValue));
            expected += 0.5 * turn * std::complex<double>(x->re[k], x->im[k]);
        }
        EXPECT_NEAR(out.re[d], expected.real(), 1e-5) << d;
        EXPECT_NEAR(out.im[d], expected.imag(), 1e-5) << d;
    }
}

TEST(Transport, RegionsMovedPastEitherEndAreCutNotWrapped) {
    // A's region runs from bin 100 to the top; B's is narrow around 400. At Morph 0.5 both land
    // on bin 200: A's top 100 bins fall off the end, and nothing may reappear at the bottom.
    {
        const auto a = region(kN, 100, kBins, 100, wideAbove);
        const auto b = region(kN, 390, 411, 400, narrow);
        auto transport = preparedTransport();
        const auto out = processFrame(*transport, a, b, 0.5f, kN, kRate);
        for (int k = 0; k < 190; ++k)
            ASSERT_EQ(out.magnitude(k), 0.0f) << k;
        EXPECT_NEAR(out.magnitude(kBins - 1), 0.5f * a.magnitude[kBins - 101], 1e-5f);
    }
    // A's region rises from bin 0 to its peak at 300; B's is narrow around 50: they meet on
    // bin 122, A's lowest 178 bins fall below bin 0, and nothing may reappear at the top.
    {
        const auto a = region(kN, 0, 301, 300, wideBelow);
        const auto b = region(kN, 45, 56, 50, narrow);
        auto transport = preparedTransport();
        const auto out = processFrame(*transport, a, b, 0.5f, kN, kRate);
        for (int k = 128; k < kBins; ++k)
            ASSERT_EQ(out.magnitude(k), 0.0f) << k;
        EXPECT_NEAR(out.magnitude(0), 0.5f * a.magnitude[178], 1e-5f);
    }
}

TEST(Transport, EqualClaimsKeepTheEarlierPair) {
    const int n = 128;
    // A: two identical regions (peaks 10 and 30) of exactly half the mass each; B: one narrow
    // region at 20. At Morph 0.5 the pairs land on bins 14 and 24 with equal shares and
    // overlapping claims; bin 24 stays with the first pair (14.1 bins), too far to lend its
    // phase, so the second pair starts over from A's own phase at bin 30 in the next frame.
    FrameAnalysis a = silentFrame(n);
    for (int k = 0; k < 40; ++k) {
        const int peak = k < 20 ? 10 : 30;
        const auto i = static_cast<std::size_t>(k);
        a.magnitude[i] = narrow(k - peak);
        a.re[i] = a.magnitude[i] * std::cos(0.7f * k);
        a.im[i] = a.magnitude[i] * std::sin(0.7f * k);
        a.frequency[i] = static_cast<float>(peak);
    }
    a.energy = 1.0f;
    const auto b = region(n, 15, 26, 20, narrow);
    auto transport = preparedTransport(n);
    processFrame(*transport, a, b, 0.5f, n, kRate);
    const auto out = processFrame(*transport, a, b, 0.5f, n, kRate);
    EXPECT_NEAR(angleDifference(out.phase(24), std::atan2(a.im[30], a.re[30])), 0.0, 1e-5);
}

TEST(Transport, ProcessNeverAllocatesEvenWithARegionAtEveryOtherBin) {
    auto jagged = analyseFrame(noise(kN, 0.5f, 7), kRate, kN);
    for (int k = 0; k < kBins; ++k)
        jagged.frequency[k] = k + (k % 2 == 0 ? 0.5f : -0.5f);
    const auto tone = analyseFrame(harmonicTone(150.0, 20, kRate, kN), kRate, kN);
    auto transport = preparedTransport();
    std::vector<float> re(kBins), im(kBins);
    const auto ctx = contextFor(jagged, tone, 0.5f, kN, kRate);
    const auto reversed = contextFor(tone, jagged, 0.5f, kN, kRate);
    AllocationCounter counter;
    for (int f = 0; f < 3; ++f) {
        transport->process(ctx, re.data(), im.data());
        transport->process(reversed, re.data(), im.data());
    }
    transport->reset();
    EXPECT_EQ(counter.count(), 0u);
    for (int k = 0; k < kBins; ++k)
        ASSERT_TRUE(std::isfinite(re[k]) && std::isfinite(im[k]));
}

TEST(Transport, DamagedAnalysesGiveAFiniteFrameWithoutHanging) {
    auto a = analyseFrame(harmonicTone(300.0, 5, kRate, kN), kRate, kN);
    auto b = analyseFrame(noise(kN, 0.3f, 2), kRate, kN);
    a.magnitude[40] = std::numeric_limits<float>::infinity();
    a.frequency[41] = std::numeric_limits<float>::quiet_NaN();
    b.magnitude[7] = std::numeric_limits<float>::quiet_NaN();
    b.frequency[300] = 1e30f;
    auto transport = preparedTransport();
    for (const float t : {0.0f, 0.5f, 1.0f}) {
        for (const auto& out : {processFrame(*transport, a, b, t, kN, kRate),
                                processFrame(*transport, b, a, t, kN, kRate)}) {
            ASSERT_EQ(out.re.size(), static_cast<size_t>(kBins));
            for (int k = 0; k < kBins; ++k)
                EXPECT_TRUE(std::isfinite(out.re[k]) && std::isfinite(out.im[k])) << t << " " << k;
        }
    }
}

} // namespace
} // namespace tav::test
