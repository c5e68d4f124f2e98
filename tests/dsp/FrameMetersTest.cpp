#include "dsp/FrameMeters.h"

#include "dsp/FrameAnalyzer.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace tav {
namespace {

std::vector<float> sineFrame(int n, double bin, float amplitude) {
    std::vector<float> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<std::size_t>(i)] =
            amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * bin * i / n));
    return x;
}

struct Frames {
    FrameAnalysis a, b;
};

// A analyses a sine at the given bin; B stays silent.
Frames analyseSine(FrameAnalyzer& analyzer, double bin, float amplitude) {
    Frames f;
    f.a.resize(analyzer.numBins());
    f.b.resize(analyzer.numBins());
    analyzer.analyse(sineFrame(analyzer.fftSize(), bin, amplitude).data(), f.a, false);
    return f;
}

TEST(FrameMeters, FullScaleBinCentredSineReadsFullLevelForEveryFrameLength) {
    for (int n = 1024; n <= 16384; n *= 2) {
        SCOPED_TRACE(n);
        FrameAnalyzer analyzer;
        analyzer.prepare(48000.0, n);
        FrameMeters meters;
        meters.prepare(1, n, analyzer.displayBand());
        Frames f = analyseSine(analyzer, n / 32, 1.0f);
        const FrameAnalysis* a = &f.a;
        const FrameAnalysis* b = &f.b;
        meters.update(&a, &b);
        EXPECT_NEAR(meters.block().levelA, 1.0f, 1e-4f);
        EXPECT_EQ(meters.block().levelB, 0.0f) << "silence reads 0, never negative";
        EXPECT_EQ(meters.block().weightedEnergyA, f.a.energy);

        // -30 dB reads half way down the 60 dB scale.
        f = analyseSine(analyzer, n / 32, std::pow(10.0f, -1.5f));
        meters.update(&a, &b);
        EXPECT_NEAR(meters.block().levelA, 0.5f, 1e-4f);
    }
}

TEST(FrameMeters, TwoIdenticalChannelsReadLikeOne) {
    const int n = 2048;
    FrameAnalyzer analyzer;
    analyzer.prepare(44100.0, n);
    Frames f = analyseSine(analyzer, 37.3, 0.5f);
    const FrameAnalysis* a[2] = {&f.a, &f.a};
    const FrameAnalysis* b[2] = {&f.b, &f.b};

    FrameMeters mono, stereo;
    mono.prepare(1, n, analyzer.displayBand());
    stereo.prepare(2, n, analyzer.displayBand());
    mono.update(a, b);
    test::AllocationCounter counter;
    stereo.update(a, b);
    EXPECT_EQ(counter.count(), 0u);

    for (int band = 0; band < kDisplayBands; ++band)
        ASSERT_NEAR(stereo.block().bandEnergyA[band], mono.block().bandEnergyA[band],
                    1e-6f * mono.block().bandEnergyA[band]);
    EXPECT_FLOAT_EQ(stereo.block().weightedEnergyA, mono.block().weightedEnergyA);
    EXPECT_FLOAT_EQ(stereo.block().levelA, mono.block().levelA);
}

TEST(FrameMeters, BandsCoverOnlySeventyHertzToNineAndAHalfKilohertz) {
    // 64 Hz per bin: a sine at 32 Hz (bin 0.5) and one at 12.8 kHz (bin 200).
    const int n = 1024;
    FrameAnalyzer analyzer;
    analyzer.prepare(65536.0, n);
    FrameMeters meters;
    meters.prepare(1, n, analyzer.displayBand());
    for (double bin : {0.5, 200.0}) {
        Frames f = analyseSine(analyzer, bin, 1.0f);
        // Zero the bins the display bands reach so only out-of-range energy is left.
        for (int k = 0; k < analyzer.numBins(); ++k)
            if (analyzer.displayBand()[k] >= 0)
                f.a.magnitude[static_cast<std::size_t>(k)] = 0.0f;
        const FrameAnalysis* a = &f.a;
        const FrameAnalysis* b = &f.b;
        meters.update(&a, &b);
        EXPECT_GT(meters.block().levelA, 0.9f);
        for (float e : meters.block().bandEnergyA)
            ASSERT_EQ(e, 0.0f);
    }
}

} // namespace
} // namespace tav
