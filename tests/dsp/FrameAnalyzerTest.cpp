#include "dsp/FrameAnalyzer.h"

#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace tav {
namespace {

std::vector<float> sineFrame(int n, double bin, double phase = 0.3) {
    std::vector<float> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<std::size_t>(i)] =
            static_cast<float>(std::sin(2.0 * std::numbers::pi * bin * i / n + phase));
    return x;
}

FrameAnalysis analysisFor(const FrameAnalyzer& analyzer) {
    FrameAnalysis a;
    a.resize(analyzer.numBins());
    return a;
}

double decibels(float power) {
    return 10.0 * std::log10(power);
}

TEST(FrameAnalyzer, BinCentredFullScaleSineReadsAQuarterOfTheFrameLength) {
    for (int n : {512, 2048, 16384}) {
        SCOPED_TRACE(n);
        FrameAnalyzer analyzer;
        analyzer.prepare(48000.0, n);
        FrameAnalysis a = analysisFor(analyzer);
        const int bin = n / 16;
        analyzer.analyse(sineFrame(n, bin).data(), a, true);

        const auto k = static_cast<std::size_t>(bin);
        EXPECT_NEAR(a.magnitude[k], n / 4.0, n * 1e-5);
        // Hann leaks only into the two neighbours, each at half the peak.
        EXPECT_NEAR(a.magnitude[k + 1], n / 8.0, n * 1e-5);
        EXPECT_NEAR(a.magnitude[k + 3], 0.0, n * 1e-5);
        for (std::size_t j = k - 1; j <= k + 1; ++j)
            EXPECT_NEAR(a.frequency[j], bin, 0.01) << "bin " << j;
    }
}

TEST(FrameAnalyzer, ReassignmentFindsASineBetweenBins) {
    const int n = 2048;
    FrameAnalyzer analyzer;
    analyzer.prepare(44100.0, n);
    FrameAnalysis a = analysisFor(analyzer);
    for (double trueBin : {100.25, 100.5, 317.8, 5.4}) {
        SCOPED_TRACE(trueBin);
        analyzer.analyse(sineFrame(n, trueBin, 1.1).data(), a, true);
        const auto nearest = static_cast<std::size_t>(std::lround(trueBin));
        for (std::size_t j = nearest - 1; j <= nearest + 1; ++j)
            EXPECT_NEAR(a.frequency[j], trueBin, 0.01) << "bin " << j;
    }
}

// With reassignment the windowed spectrum comes out of the spectrum of the plain frame: it must
// match the transform of the windowed frame, the edge bins (DC and Nyquist) included.
TEST(FrameAnalyzer, ReassigningLeavesTheWindowedSpectrumAsItIs) {
    const int n = 1024;
    FrameAnalyzer analyzer;
    analyzer.prepare(48000.0, n);
    FrameAnalysis direct = analysisFor(analyzer);
    FrameAnalysis reassigned = analysisFor(analyzer);
    std::vector<float> frame = sineFrame(n, 37.3);
    unsigned noise = 1;
    for (int i = 0; i < n; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const float nyquist = i % 2 == 0 ? 0.4f : -0.4f;
        frame[static_cast<std::size_t>(i)] +=
            0.3f + nyquist + 0.5f * static_cast<float>(noise >> 8) / 16777216.0f;
    }
    analyzer.analyse(frame.data(), direct, false);
    analyzer.analyse(frame.data(), reassigned, true);
    const float tolerance = 1e-6f * n;
    for (std::size_t k = 0; k < direct.re.size(); ++k) {
        ASSERT_NEAR(reassigned.re[k], direct.re[k], tolerance) << "bin " << k;
        ASSERT_NEAR(reassigned.im[k], direct.im[k], tolerance) << "bin " << k;
    }
    EXPECT_NEAR(reassigned.energy, direct.energy, 1e-5 * direct.energy);
}

TEST(FrameAnalyzer, FrequenciesChangeOnlyWhenAskedAndWeakBinsKeepTheirIndex) {
    const int n = 1024;
    FrameAnalyzer analyzer;
    analyzer.prepare(48000.0, n);
    FrameAnalysis a = analysisFor(analyzer);
    std::fill(a.frequency.begin(), a.frequency.end(), -5.0f);
    analyzer.analyse(sineFrame(n, 40.5).data(), a, false);
    for (float f : a.frequency)
        ASSERT_EQ(f, -5.0f);

    const std::vector<float> silence(static_cast<std::size_t>(n), 0.0f);
    analyzer.analyse(silence.data(), a, true);
    for (int k = 0; k < analyzer.numBins(); ++k)
        ASSERT_EQ(a.frequency[static_cast<std::size_t>(k)], static_cast<float>(k));
    EXPECT_EQ(a.energy, 0.0f);
}

TEST(FrameAnalyzer, AWeightingFollowsTheStandardCurve) {
    // 51200 Hz over 1024 bins puts a bin every 50 Hz, on each tabulated frequency.
    FrameAnalyzer analyzer;
    analyzer.prepare(51200.0, 1024);
    const float* w = analyzer.binWeight();
    const struct {
        int hz;
        double db;
    } curve[] = {{50, -30.2}, {100, -19.1}, {1000, 0.0}, {2000, 1.2}, {10000, -2.5}, {20000, -9.3}};
    for (const auto& point : curve)
        EXPECT_NEAR(decibels(w[point.hz / 50]), point.db, 0.1) << point.hz << " Hz";
    EXPECT_LT(w[0], 1e-6f) << "DC weighs (almost) nothing";
}

TEST(FrameAnalyzer, EnergyIsTheWeightedPowerOfTheSpectrum) {
    const int n = 1024;
    FrameAnalyzer analyzer;
    analyzer.prepare(51200.0, n);
    FrameAnalysis a = analysisFor(analyzer);
    // 1 kHz (bin 20) weighs about 1: the energy is the peak and its two Hann neighbours.
    analyzer.analyse(sineFrame(n, 20).data(), a, false);
    const double expected = std::pow(n / 4.0, 2) + 2.0 * std::pow(n / 8.0, 2);
    EXPECT_NEAR(a.energy / expected, 1.0, 0.01);
}

TEST(FrameAnalyzer, BandTablesCoverTheirRanges) {
    // 64 Hz per bin at 65536 Hz and N = 1024.
    FrameAnalyzer analyzer;
    analyzer.prepare(65536.0, 1024);
    const int* display = analyzer.displayBand();
    const int* third = analyzer.thirdOctaveBand();
    EXPECT_EQ(display[0], -1) << "below 70 Hz";
    EXPECT_EQ(display[1], -1) << "64 Hz";
    EXPECT_EQ(display[2], 15) << "128 Hz: floor(ln(128/70) * 128/ln(9500/70))";
    EXPECT_EQ(display[148], 127) << "9472 Hz";
    EXPECT_EQ(display[149], -1) << "9536 Hz";
    for (int k = 2; k < 148; ++k)
        ASSERT_LE(display[k], display[k + 1]);

    EXPECT_EQ(third[0], 0);
    EXPECT_EQ(third[1], 2) << "64 Hz: 3 * log2(1.6)";
    EXPECT_EQ(third[5], 9) << "320 Hz is three octaves above 40 Hz";
    EXPECT_EQ(third[512], 29) << "32768 Hz: 3 * log2(819.2)";

    // Everything from 40 * 2^(31/3) Hz (about 51.6 kHz) up shares the top band.
    analyzer.prepare(131072.0, 1024);
    EXPECT_EQ(analyzer.thirdOctaveBand()[400], 30) << "51200 Hz";
    EXPECT_EQ(analyzer.thirdOctaveBand()[404], 31) << "51712 Hz";
    EXPECT_EQ(analyzer.thirdOctaveBand()[512], 31) << "65536 Hz";
}

TEST(FrameAnalyzer, AnalysisTimesSynthesisWindowSumsToOneOverFourFrames) {
    for (int n : {1024, 16384}) {
        FrameAnalyzer analyzer;
        analyzer.prepare(48000.0, n);
        const int hop = analyzer.hopSize();
        for (int i = 0; i < hop; ++i) {
            double sum = 0.0;
            for (int frame = 0; frame < 4; ++frame) {
                const int j = i + frame * hop;
                sum += static_cast<double>(analyzer.analysisWindow()[j]) *
                       analyzer.synthesisWindow()[j];
            }
            ASSERT_NEAR(sum, 1.0, 1e-6) << "n " << n << " i " << i;
        }
    }
}

TEST(FrameAnalyzer, AnalyseNeverAllocates) {
    FrameAnalyzer analyzer;
    analyzer.prepare(48000.0, 2048);
    FrameAnalysis a = analysisFor(analyzer);
    const std::vector<float> x = sineFrame(2048, 33.3);
    test::AllocationCounter counter;
    analyzer.analyse(x.data(), a, true);
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
} // namespace tav
