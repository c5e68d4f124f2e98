#include "SoundMeasures.h"
#include "SoundLab.h"

#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>

// The instrument itself, on signals whose figures follow from first principles.
namespace tav::lab {
namespace {

constexpr int kLength = 96000; // 2 s

Stereo both(const std::vector<float>& x) {
    return {x, x};
}

Stereo scaled(Stereo x, float gain) {
    for (auto& channel : x)
        for (float& v : channel)
            v *= gain;
    return x;
}

Stereo sine(double hz, float amplitude) {
    return both(test::sine(hz, kRate, kLength, amplitude));
}

double weightedLevelDb(double hz) {
    const Stereo weighted = aWeighted(sine(hz, 1.0f));
    double sum = 0.0;
    for (int n = kLength / 4; n < 3 * kLength / 4; ++n)
        sum += static_cast<double>(weighted[0][n]) * weighted[0][n];
    // Against the unweighted sine's mean square of 1/2.
    return 10.0 * std::log10(sum / (kLength / 2) / 0.5);
}

TEST(SoundMeasures, KnownSignalsGiveKnownFigures) {
    // Swells: an output sine at twice the louder input's amplitude stands 6.02 dB over it in
    // every window; inputs under -40 dBFS are not judged at all.
    const Swells swells =
        measureSwells(sine(440.0, 0.1f), sine(660.0, 0.05f), sine(550.0, 0.2f), 0);
    EXPECT_NEAR(swells.worstDb, 6.02, 0.05);
    EXPECT_EQ(swells.fractionOver, 1.0);
    EXPECT_EQ(measureSwells(sine(440.0, 0.009f), sine(660.0, 0.009f), sine(550.0, 0.5f), 0).windows,
              0);

    // A-weighting, against the standard's table: 0 dB at 1 kHz, -19.1 at 100 Hz, -2.5 at 10 kHz.
    EXPECT_NEAR(weightedLevelDb(1000.0), 0.0, 0.05);
    EXPECT_NEAR(weightedLevelDb(100.0), -19.1, 0.1);
    EXPECT_NEAR(weightedLevelDb(10000.0), -2.5, 0.1);

    // Loudness where both inputs sound alike: T2 is their power, so 2 dB over A reads +2 dB.
    const Stereo a = sine(1000.0, 0.1f);
    const Stereo weightedA = aWeighted(a);
    const Loudness alike =
        measureLoudness(weightedA, weightedA, aWeighted(scaled(a, 1.2589f)), 0.3, 0);
    EXPECT_NEAR(alike.medianDb, 2.0, 0.02);
    EXPECT_NEAR(alike.p95AbsDb, 2.0, 0.02);

    // Where B pauses at Morph 0.5, T1 is A's power -3.01 dB and T2 A's power -10.03 dB
    // (0.5 to the power 1/0.3): an output 6.02 dB under A sits inside the band, A itself
    // stands 3.01 dB over T1, and A at -20 dB falls 9.97 dB under T2.
    const Stereo silence = both(std::vector<float>(kLength, 0.0f));
    const Stereo weightedSilence = aWeighted(silence);
    const auto pause = [&](float gain) {
        return measureLoudness(weightedA, weightedSilence, aWeighted(scaled(a, gain)), 0.5, 0);
    };
    EXPECT_EQ(pause(0.5f).pauseViolations, 0);
    EXPECT_GT(pause(0.5f).pauseWindows, 10);
    EXPECT_NEAR(pause(1.0f).highestDb, 3.01, 0.02);
    EXPECT_EQ(pause(1.0f).pauseViolations, pause(1.0f).pauseWindows);
    EXPECT_NEAR(pause(0.1f).lowestDb, -9.97, 0.02);

    // Pre-echo: an output equal to the crossfade has none; one with the 25..5 ms ahead of each
    // hit raised 3.01 dB has exactly that. Ducking: an output 6.02 dB under T2 ducks by that.
    const Stereo bed = both(test::noise(kLength, 0.01f, 7));
    const std::vector<std::size_t> hits = {48000, 72000};
    Stereo raised = bed;
    for (std::size_t hit : hits)
        for (auto& channel : raised)
            for (std::size_t n = hit - 1200; n < hit - 240; ++n)
                channel[n] *= std::sqrt(2.0f);
    EXPECT_EQ(measurePreEcho(bed, bed, hits, 0).medianDb, 0.0);
    const HitFigures echo = measurePreEcho(raised, bed, hits, 0);
    EXPECT_EQ(echo.hits, 2);
    EXPECT_NEAR(echo.medianDb, 3.01, 0.01);
    const Stereo weightedBed = aWeighted(bed);
    EXPECT_NEAR(measureDucking(weightedBed, weightedBed, aWeighted(scaled(bed, 0.5f)), 0.4, hits, 0)
                    .medianDb,
                -6.02, 0.01);
}

// At Morph 0 the engine returns A delayed by its latency: the lab's render must take exactly that
// delay off, or every measure would compare the output with the wrong moment of the inputs.
TEST(SoundLab, RendersLineUpWithTheInputsToTheSample) {
    Case c;
    c.a = {test::noise(kLength, 0.3f, 3), test::harmonicTone(220.0, 8, kRate, kLength, 0.2f)};
    c.b = both(test::noise(kLength, 0.3f, 4));
    c.stopCase = true;
    for (int quality : {0, 1}) {
        const Stereo y = render(c, {0, quality, 0.0f});
        double error = 0.0;
        for (int ch = 0; ch < kChannels; ++ch)
            for (std::size_t n = 0; n < c.length(); ++n)
                error = std::max(error, static_cast<double>(std::fabs(y[ch][n] - c.a[ch][n])));
        EXPECT_LT(error, 1e-5) << "Quality " << quality;
    }
}

} // namespace
} // namespace tav::lab
