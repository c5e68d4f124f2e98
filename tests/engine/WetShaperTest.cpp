#include "engine/WetShaper.h"
#include "engine/MorphEngine.h"

#include "dsp/DenormalGuard.h"
#include "dsp/FrameGeometry.h"
#include "dsp/RealFft.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <vector>

// The wet signal's level shaping, measured on the whole engine: energy smeared ahead of hits,
// loudness across the Morph range, and no modulation of steady sounds. Each probe renders with
// the shaping switched off too and prints both tables, so the figures can be compared.
namespace tav {
namespace {

using Signal = std::vector<float>;

constexpr double kRate = 48000.0;
constexpr int kBlock = 512;
const char* const kAlgorithmNames[] = {"Transport", "Partials", "Imprint", "Diffuse"};
const char* const kQualityNames[] = {"Standard", "High"};

// Mono render through a fresh engine with every ramp settled at the parameters.
Signal render(int quality, int algorithm, float morph, const Signal& a, const Signal& b,
              bool shaping) {
    MorphEngine engine;
    engine.prepare(kRate, 1, kBlock, quality);
    engine.setWetShaping(shaping);
    EngineParams p;
    p.morph = morph;
    p.algorithm = algorithm;
    const float zero = 0.0f;
    float scratch = 0.0f;
    const float* silentIn[] = {&zero};
    float* scratchOut[] = {&scratch};
    engine.process(silentIn, silentIn, scratchOut, 1, p);
    engine.reset();
    Signal out(a.size());
    for (std::size_t start = 0; start < a.size(); start += kBlock) {
        const int n = static_cast<int>(std::min<std::size_t>(kBlock, a.size() - start));
        const float* inA[] = {a.data() + start};
        const float* inB[] = {b.data() + start};
        float* outs[] = {out.data() + start};
        engine.process(inA, inB, outs, n, p);
    }
    return out;
}

double meanSquare(const Signal& x, long from, long to) {
    double sum = 0.0;
    for (long n = from; n < to; ++n)
        sum += static_cast<double>(x[n]) * x[n];
    return sum / static_cast<double>(to - from);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : 0.5 * (values[middle - 1] + values[middle]);
}

void printTable(const char* title, const std::vector<std::string>& rows,
                const std::vector<std::vector<double>>& off,
                const std::vector<std::vector<double>>& on) {
    std::printf("\n%s (shaping off -> on)\n| %-26s |", title, "");
    for (const char* name : kAlgorithmNames)
        std::printf(" %-15s |", name);
    std::printf("\n");
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::printf("| %-26s |", rows[r].c_str());
        for (std::size_t c = 0; c < on[r].size(); ++c)
            std::printf(" %+5.1f -> %+5.1f  |", off[r][c], on[r][c]);
        std::printf("\n");
    }
}

// ---------------------------------------------------------------------------------------------
// Pre-echo: noise hits over a quiet chord.

constexpr double kFirstHitSeconds = 0.5;
constexpr double kHitSpacingSeconds = 0.5;
constexpr int kHitCount = 7;

// When hit h starts, in seconds.
double hitSeconds(int h) {
    return kFirstHitSeconds + h * kHitSpacingSeconds;
}

Signal hits(int length) {
    Signal out(static_cast<std::size_t>(length), 0.0f);
    std::mt19937 random(13);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const int hitLength = static_cast<int>(0.08 * kRate);
    for (int h = 0; h < kHitCount; ++h) {
        const int start = static_cast<int>(hitSeconds(h) * kRate);
        for (int i = 0; i < hitLength; ++i)
            out[start + i] =
                0.8f * unit(random) * static_cast<float>(std::exp(-i / (0.015 * kRate)));
    }
    return out;
}

Signal bedChord(int length) {
    Signal out(static_cast<std::size_t>(length), 0.0f);
    for (double hz : {220.0, 277.0, 330.0}) {
        const Signal tone = test::sine(hz, kRate, length, 0.05f);
        for (int n = 0; n < length; ++n)
            out[n] += tone[n];
    }
    return out;
}

// Median over the hits of the output's power 25..5 ms before each hit over its power
// 200..100 ms before it, in dB.
double preEchoDb(const Signal& out, int latency) {
    auto at = [&](double hitSeconds, double msBefore) {
        return static_cast<long>(std::lround(hitSeconds * kRate - msBefore * 0.001 * kRate)) +
               latency;
    };
    std::vector<double> ratios;
    for (int h = 0; h < kHitCount; ++h) {
        const double hit = hitSeconds(h);
        const double ahead = meanSquare(out, at(hit, 25.0), at(hit, 5.0));
        const double bed = meanSquare(out, at(hit, 200.0), at(hit, 100.0));
        ratios.push_back(10.0 * std::log10(ahead / bed));
    }
    return median(ratios);
}

// One row of a pre-echo table: every algorithm with the shaping off and on; shaped, the hits
// may cast at most 3 dB ahead of themselves.
struct PreEchoTable {
    std::vector<std::string> rows;
    std::vector<std::vector<double>> off, on;

    void addRow(const std::string& row, int quality, float morph, const Signal& a,
                const Signal& b) {
        const int latency = latencySamples(kRate, quality);
        rows.push_back(row);
        off.emplace_back();
        on.emplace_back();
        for (int algorithm = 0; algorithm < kAlgorithmCount; ++algorithm) {
            off.back().push_back(
                preEchoDb(render(quality, algorithm, morph, a, b, false), latency));
            on.back().push_back(preEchoDb(render(quality, algorithm, morph, a, b, true), latency));
            EXPECT_LE(on.back().back(), 3.0) << row << ", " << kAlgorithmNames[algorithm];
        }
    }
};

TEST(WetShaper, HitsCastAtMostThreeDecibelsAheadOfThemselves) {
    const int length = static_cast<int>(4.0 * kRate);
    const Signal drums = hits(length);
    const Signal chord = bedChord(length);
    PreEchoTable table;
    for (int quality : {kQualityStandard, kQualityHigh}) {
        for (bool hitsInA : {true, false}) {
            for (float morph : {0.3f, 0.7f}) {
                char row[64];
                std::snprintf(row, sizeof row, "%s, hits in %s, %.1f", kQualityNames[quality],
                              hitsInA ? "A" : "B", morph);
                table.addRow(row, quality, morph, hitsInA ? drums : chord, hitsInA ? chord : drums);
            }
        }
    }
    printTable("Pre-echo, dB over the bed 25..5 ms before each hit", table.rows, table.off,
               table.on);
}

// A kick: a falling low tone under a short click. Its smear lies mostly below the loudness
// weighting's reach, yet is heard as a swell into the hit.
Signal kicks(int length) {
    Signal out(static_cast<std::size_t>(length), 0.0f);
    std::mt19937 random(29);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const int kickLength = static_cast<int>(0.3 * kRate);
    for (int h = 0; h < kHitCount; ++h) {
        const int start = static_cast<int>(hitSeconds(h) * kRate);
        double phase = 0.0;
        for (int i = 0; i < kickLength; ++i) {
            const double t = i / kRate;
            phase += 2.0 * std::numbers::pi * (50.0 + 80.0 * std::exp(-t / 0.02)) / kRate;
            const double click = t < 0.002 ? 0.3 * unit(random) : 0.0;
            out[start + i] =
                static_cast<float>((0.8 * std::sin(phase) + click) * std::exp(-t / 0.05));
        }
    }
    return out;
}

TEST(WetShaper, KicksCastAtMostThreeDecibelsAheadOfThemselvesNearTheMorphEnd) {
    const int length = static_cast<int>(4.0 * kRate);
    const Signal drums = kicks(length);
    const Signal chord = bedChord(length);
    PreEchoTable table;
    for (int quality : {kQualityStandard, kQualityHigh})
        table.addRow(kQualityNames[quality], quality, 0.02f, drums, chord);
    printTable("Kick pre-echo at Morph 0.02, dB over the bed 25..5 ms before each kick", table.rows,
               table.off, table.on);
}

// Near the Morph ends the wet signal is mostly the input's own frame: the suppression ahead of
// a hit must let the hit itself through whole, in every algorithm.
TEST(WetShaper, HitsComeThroughWholeNearTheMorphEnd) {
    const int length = static_cast<int>(4.0 * kRate);
    const Signal drums = hits(length);
    const Signal chord = bedChord(length);
    const int latency = latencySamples(kRate, kQualityStandard);
    const auto hitPower = [&](const Signal& out) {
        double sum = 0.0;
        for (int h = 0; h < kHitCount; ++h) {
            const long start = std::lround(hitSeconds(h) * kRate) + latency;
            sum += meanSquare(out, start, start + static_cast<long>(0.02 * kRate));
        }
        return sum;
    };
    for (int algorithm = 0; algorithm < kAlgorithmCount; ++algorithm) {
        const double off =
            hitPower(render(kQualityStandard, algorithm, 0.05f, drums, chord, false));
        const double on = hitPower(render(kQualityStandard, algorithm, 0.05f, drums, chord, true));
        EXPECT_GT(10.0 * std::log10(on / off), -1.0) << kAlgorithmNames[algorithm];
    }
}

// ---------------------------------------------------------------------------------------------
// Loudness on steady material.

TEST(WetShaper, LoudnessFollowsTheMorphWeightedLoudnessWithinHalfADecibel) {
    const int length = static_cast<int>(3.0 * kRate);
    Signal tones(static_cast<std::size_t>(length), 0.0f);
    for (double f0 : {196.0, 247.0, 294.0}) {
        const Signal tone = test::harmonicTone(f0, 12, kRate, length, 0.1f);
        for (int n = 0; n < length; ++n)
            tones[n] += tone[n];
    }
    // Uniform noise of RMS 0.03.
    const Signal noise = test::noise(length, 0.03f * std::sqrt(3.0f), 41);
    const auto settled = static_cast<std::size_t>(kRate);
    const double powerA = test::aWeightedPower(tones, settled, length, kRate);
    const double powerB = test::aWeightedPower(noise, settled, length, kRate);
    std::vector<std::string> rows;
    std::vector<std::vector<double>> off, on;
    for (int quality : {kQualityStandard, kQualityHigh}) {
        const auto latency = static_cast<std::size_t>(latencySamples(kRate, quality));
        for (float morph : {0.1f, 0.3f, 0.5f, 0.7f, 0.9f}) {
            char row[64];
            std::snprintf(row, sizeof row, "%s, Morph %.1f", kQualityNames[quality], morph);
            rows.emplace_back(row);
            off.emplace_back();
            on.emplace_back();
            // Steady inputs: the level settles on the Morph-weighted mix of heard loudness,
            // which grows as power to the 0.3.
            const double target = std::pow(
                (1.0 - morph) * std::pow(powerA, 0.3) + morph * std::pow(powerB, 0.3), 1.0 / 0.3);
            for (int algorithm = 0; algorithm < kAlgorithmCount; ++algorithm) {
                for (bool shaping : {false, true}) {
                    const Signal out = render(quality, algorithm, morph, tones, noise, shaping);
                    const double measured =
                        test::aWeightedPower(out, settled + latency, length, kRate);
                    (shaping ? on : off).back().push_back(10.0 * std::log10(measured / target));
                }
                EXPECT_NEAR(on.back().back(), 0.0, 0.5)
                    << row << ", " << kAlgorithmNames[algorithm];
            }
        }
    }
    printTable("Loudness, dB against the Morph-weighted loudness of the inputs", rows, off, on);
}

// ---------------------------------------------------------------------------------------------
// Steady sounds keep their envelope.

// Largest minus smallest 10 ms RMS level from `from` on, in dB.
double envelopeSpreadDb(const Signal& x, std::size_t from) {
    const std::size_t window = static_cast<std::size_t>(0.01 * kRate);
    double lowest = 1e300, highest = 0.0;
    for (std::size_t start = from; start + window <= x.size(); start += window) {
        const double power =
            meanSquare(x, static_cast<long>(start), static_cast<long>(start + window));
        lowest = std::min(lowest, power);
        highest = std::max(highest, power);
    }
    return 10.0 * std::log10(highest / lowest);
}

TEST(WetShaper, SteadySineMorphsGainNoModulation) {
    const int length = static_cast<int>(3.5 * kRate);
    const Signal a = test::sine(440.0, kRate, length, 0.3f);
    const Signal b = test::sine(659.3, kRate, length, 0.2f);
    const auto settled = static_cast<std::size_t>(2.0 * kRate);
    for (int algorithm = 0; algorithm < kAlgorithmCount; ++algorithm)
        for (float morph : {0.2f, 0.5f, 0.8f}) {
            const double without =
                envelopeSpreadDb(render(kQualityStandard, algorithm, morph, a, b, false), settled);
            const double with =
                envelopeSpreadDb(render(kQualityStandard, algorithm, morph, a, b, true), settled);
            EXPECT_LT(with - without, 0.1)
                << kAlgorithmNames[algorithm] << " at Morph " << morph << ": " << without
                << " dB without, " << with << " dB with";
        }
}

// With denormals flushed, a decaying filter can circle just above the smallest normal float
// instead of reaching zero; the filters must still come to rest once the sound has stopped, and
// not before.
TEST(WetShaper, FiltersComeToRestAfterTheSoundStops) {
    WetShaper shaper;
    shaper.prepare(kRate, 1, 2048);
    Signal a = test::noise(static_cast<int>(kRate), 0.3f, 3);
    Signal wet = a;
    const Signal share(a.size(), 1.0f);
    DenormalGuard flushDenormals;
    const float* inputs[] = {a.data()};
    float* wets[] = {wet.data()};
    shaper.process(inputs, inputs, wets, share.data(), static_cast<int>(a.size()), 0.5f);
    EXPECT_FALSE(shaper.filtersAtRest());
    std::fill(a.begin(), a.end(), 0.0f);
    std::fill(wet.begin(), wet.end(), 0.0f);
    shaper.process(inputs, inputs, wets, share.data(), static_cast<int>(a.size() / 2), 0.5f);
    EXPECT_TRUE(shaper.filtersAtRest());
}

} // namespace
} // namespace tav
