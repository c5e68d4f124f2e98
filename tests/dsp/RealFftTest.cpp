#include "dsp/RealFft.h"

#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace tav {
namespace {

struct Spectrum {
    std::vector<float> re, im;
    explicit Spectrum(int n)
        : re(static_cast<std::size_t>(n / 2 + 1)), im(static_cast<std::size_t>(n / 2 + 1)) {}
};

std::vector<float> randomSignal(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(static_cast<std::size_t>(n));
    for (float& v : x)
        v = dist(rng);
    return x;
}

double log2Of(int n) {
    return std::log2(static_cast<double>(n));
}

double euclideanNorm(const std::vector<float>& x) {
    double sum = 0.0;
    for (float v : x)
        sum += static_cast<double>(v) * v;
    return std::sqrt(sum);
}

// Expected spectrum of a signal whose transform is the same real value c in every listed bin.
void expectSpectrum(const Spectrum& s, int n, auto expectedRe, double tolerance) {
    for (int k = 0; k <= n / 2; ++k) {
        EXPECT_NEAR(s.re[static_cast<std::size_t>(k)], expectedRe(k), tolerance) << "bin " << k;
        EXPECT_NEAR(s.im[static_cast<std::size_t>(k)], 0.0, tolerance) << "bin " << k;
    }
}

TEST(RealFft, ImpulseConstantAndAlternatingGiveTheirTextbookSpectra) {
    for (int n = 8; n <= 4096; n *= 2) {
        SCOPED_TRACE(n);
        RealFft fft(n);
        Spectrum s(n);
        const double tolerance = 4.0 * FLT_EPSILON * log2Of(n) * n;

        std::vector<float> impulse(static_cast<std::size_t>(n), 0.0f);
        impulse[0] = 1.0f;
        fft.forward(impulse.data(), s.re.data(), s.im.data());
        expectSpectrum(
            s, n, [](int) { return 1.0; }, 4.0 * FLT_EPSILON * log2Of(n));

        std::vector<float> constant(static_cast<std::size_t>(n), 1.0f);
        fft.forward(constant.data(), s.re.data(), s.im.data());
        expectSpectrum(
            s, n, [n](int k) { return k == 0 ? n : 0.0; }, tolerance);

        std::vector<float> alternating(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            alternating[static_cast<std::size_t>(i)] = i % 2 == 0 ? 1.0f : -1.0f;
        fft.forward(alternating.data(), s.re.data(), s.im.data());
        expectSpectrum(
            s, n, [n](int k) { return k == n / 2 ? n : 0.0; }, tolerance);
        EXPECT_EQ(s.im[0], 0.0f);
        EXPECT_EQ(s.im[static_cast<std::size_t>(n / 2)], 0.0f);
    }
}

TEST(RealFft, ForwardAgreesWithANaiveDoubleDft) {
    // Sizes cover every code path: the smallest transforms, one and several register groups,
    // and more than one cache slice.
    for (int n : {8, 16, 32, 64, 512, 4096}) {
        SCOPED_TRACE(n);
        RealFft fft(n);
        Spectrum s(n);
        const std::vector<float> x = randomSignal(n, static_cast<unsigned>(n));
        const std::vector<float> copy = x;
        fft.forward(x.data(), s.re.data(), s.im.data());
        EXPECT_EQ(x, copy) << "forward must not modify its input";

        std::vector<double> cosines(static_cast<std::size_t>(n)), sines(cosines.size());
        for (int j = 0; j < n; ++j) {
            cosines[static_cast<std::size_t>(j)] = std::cos(2.0 * std::numbers::pi * j / n);
            sines[static_cast<std::size_t>(j)] = -std::sin(2.0 * std::numbers::pi * j / n);
        }
        // Float FFT error grows with log2 N times the signal's energy norm.
        const double bound = 2.0 * FLT_EPSILON * log2Of(n) * euclideanNorm(x);
        double worst = 0.0;
        for (int k = 0; k <= n / 2; ++k) {
            double re = 0.0, im = 0.0;
            for (int i = 0; i < n; ++i) {
                const auto phase = static_cast<std::size_t>((static_cast<long>(k) * i) % n);
                re += x[static_cast<std::size_t>(i)] * cosines[phase];
                im += x[static_cast<std::size_t>(i)] * sines[phase];
            }
            const auto bin = static_cast<std::size_t>(k);
            worst = std::max({worst, std::abs(s.re[bin] - re), std::abs(s.im[bin] - im)});
        }
        EXPECT_LE(worst, bound);
    }
}

TEST(RealFft, InverseOfForwardReturnsTheInputForEverySize) {
    for (int n = 8; n <= 16384; n *= 2) {
        SCOPED_TRACE(n);
        RealFft fft(n);
        Spectrum s(n);
        const std::vector<float> x = randomSignal(n, 7u + static_cast<unsigned>(n));
        std::vector<float> y(static_cast<std::size_t>(n));
        fft.forward(x.data(), s.re.data(), s.im.data());
        fft.inverse(s.re.data(), s.im.data(), y.data());

        // Samples lie in [-1, 1]: the round trip keeps each within a few ulps per stage.
        const double bound = 2.0 * FLT_EPSILON * log2Of(n);
        double worst = 0.0;
        for (std::size_t i = 0; i < x.size(); ++i)
            worst = std::max(worst, static_cast<double>(std::abs(y[i] - x[i])));
        EXPECT_LE(worst, bound);
    }
}

TEST(RealFft, InverseIgnoresTheImaginaryPartsOfTheRealBins) {
    const int n = 256;
    RealFft fft(n);
    Spectrum s(n);
    const std::vector<float> x = randomSignal(n, 3u);
    std::vector<float> clean(static_cast<std::size_t>(n)), dirty(static_cast<std::size_t>(n));
    fft.forward(x.data(), s.re.data(), s.im.data());
    fft.inverse(s.re.data(), s.im.data(), clean.data());
    s.im[0] = 123.0f;
    s.im[static_cast<std::size_t>(n / 2)] = -77.0f;
    fft.inverse(s.re.data(), s.im.data(), dirty.data());
    EXPECT_EQ(clean, dirty);
}

TEST(RealFft, WiderVectorsGiveTheBaselinesResultsToTheBit) {
    if (RealFft(1024).vectorWidth() == RealFft(1024, RealFft::VectorPath::Baseline).vectorWidth())
        GTEST_SKIP() << "this processor offers no wider vectors than the baseline";
    for (int n = 8; n <= 16384; n *= 2) {
        RealFft widest(n);
        RealFft baseline(n, RealFft::VectorPath::Baseline);
        const std::vector<float> x = randomSignal(n, static_cast<unsigned>(n) + 7);
        Spectrum a(n), b(n);
        widest.forward(x.data(), a.re.data(), a.im.data());
        baseline.forward(x.data(), b.re.data(), b.im.data());
        EXPECT_EQ(a.re, b.re) << n;
        EXPECT_EQ(a.im, b.im) << n;
        std::vector<float> ya(static_cast<std::size_t>(n)), yb(ya.size());
        widest.inverse(a.re.data(), a.im.data(), ya.data());
        baseline.inverse(a.re.data(), a.im.data(), yb.data());
        EXPECT_EQ(ya, yb) << n;
    }
}

TEST(RealFft, TransformsNeverAllocate) {
    const int n = 4096;
    RealFft fft(n);
    Spectrum s(n);
    const std::vector<float> x = randomSignal(n, 5u);
    std::vector<float> y(static_cast<std::size_t>(n));
    test::AllocationCounter counter;
    fft.forward(x.data(), s.re.data(), s.im.data());
    fft.inverse(s.re.data(), s.im.data(), y.data());
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
} // namespace tav
