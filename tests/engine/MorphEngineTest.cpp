#include "engine/MorphEngine.h"

#include "dsp/FrameGeometry.h"
#include "dsp/RealFft.h"
#include "support/AllocationCounter.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace tav {
namespace {

using Signal = std::vector<float>;
using Stereo = std::vector<Signal>;

EngineParams paramsWith(float morph, float mix = 1.0f, float gain = 1.0f, bool bypass = false,
                        int algorithm = 0) {
    EngineParams p;
    p.morph = morph;
    p.mix = mix;
    p.outputGain = gain;
    p.bypass = bypass;
    p.algorithm = algorithm;
    return p;
}

// Feeds whole signals through the engine in host blocks of `block` samples.
Stereo runEngine(MorphEngine& engine, const Stereo& a, const Stereo* b, const EngineParams& p,
                 int block) {
    const int channels = engine.channelCount();
    const std::size_t length = a[0].size();
    Stereo out(static_cast<std::size_t>(channels), Signal(length));
    std::vector<const float*> inA(channels), inB(channels);
    std::vector<float*> outs(channels);
    for (std::size_t p0 = 0; p0 < length; p0 += static_cast<std::size_t>(block)) {
        const int n = static_cast<int>(std::min(length - p0, static_cast<std::size_t>(block)));
        for (int c = 0; c < channels; ++c) {
            inA[c] = a[c].data() + p0;
            inB[c] = b != nullptr ? (*b)[c].data() + p0 : nullptr;
            outs[c] = out[c].data() + p0;
        }
        engine.process(inA.data(), b != nullptr ? inB.data() : nullptr, outs.data(), n, p);
    }
    return out;
}

// Sets every ramp and the Morph line to the parameters with one silent sample.
void settle(MorphEngine& engine, const EngineParams& p) {
    const Stereo silence(static_cast<std::size_t>(engine.channelCount()), Signal(1, 0.0f));
    runEngine(engine, silence, &silence, p, 1);
    engine.reset();
}

// Energy of (out - reference delayed by `delay`) relative to the reference, in dB.
double residualDb(const Signal& out, const Signal& reference, int delay, std::size_t from) {
    double error = 0.0, energy = 0.0;
    for (std::size_t n = from; n < out.size(); ++n) {
        const double expected = n >= static_cast<std::size_t>(delay) ? reference[n - delay] : 0.0;
        error += (out[n] - expected) * (out[n] - expected);
        energy += expected * expected;
    }
    return 10.0 * std::log10(std::max(error, 1e-300) / energy);
}

// ---------------------------------------------------------------------------------------------
// Latency

TEST(MorphEngine, ReportedLatencyIsFrameLengthPlusLookahead) {
    struct Row {
        double rate;
        int quality;
        int latency;
    };
    const Row rows[] = {{22050.0, 0, 1057},  {44100.0, 0, 2114}, {48000.0, 0, 2120},
                        {48000.0, 1, 4168},  {96000.0, 0, 4240}, {96000.0, 1, 8336},
                        {192000.0, 0, 8480}, {8000.0, 0, 1040},  {32000.0, 0, 2096}};
    for (const Row& row : rows) {
        MorphEngine engine;
        engine.prepare(row.rate, 2, 256, row.quality);
        EXPECT_EQ(engine.currentLatency(), row.latency) << row.rate << " " << row.quality;
        EXPECT_EQ(StftEngine::latencySamples(row.rate, row.quality), row.latency);
        EXPECT_EQ(engine.qualityMode(), row.quality);
        EXPECT_EQ(engine.channelCount(), 2);
    }
}

TEST(MorphEngine, AnImpulseComesOutExactlyOneLatencyLater) {
    for (int quality : {kQualityStandard, kQualityHigh}) {
        MorphEngine engine;
        engine.prepare(44100.0, 1, 512, quality);
        for (float mix : {1.0f, 0.0f, 0.5f}) {
            engine.reset();
            settle(engine, paramsWith(0.0f, mix));
            Signal a(3 * engine.currentLatency(), 0.0f);
            a[100] = 0.5f;
            const auto out = runEngine(engine, {a}, nullptr, paramsWith(0.0f, mix), 333)[0];
            const auto peak = std::max_element(out.begin(), out.end(), [](float x, float y) {
                return std::fabs(x) < std::fabs(y);
            });
            EXPECT_EQ(peak - out.begin(), 100 + engine.currentLatency()) << mix;
            EXPECT_NEAR(*peak, 0.5f, 1e-6f);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Nulls: at the ends of the Morph range the wet path is the input's own, delayed.

TEST(MorphEngine, MorphEndsReturnTheInputsDelayedForEveryAlgorithmRateAndQuality) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        for (int quality : {kQualityStandard, kQualityHigh}) {
            MorphEngine engine;
            engine.prepare(rate, 2, 1024, quality);
            const int latency = engine.currentLatency();
            const int length = latency + fftSizeFor(rate, quality);
            const Stereo a = {test::harmonicTone(220.0, 12, rate, length, 0.3f),
                              test::noise(length, 0.4f, 11)};
            const Stereo b = {test::noise(length, 0.3f, 12),
                              test::sine(1234.5, rate, length, 0.45f)};
            for (int algorithm = 0; algorithm < kAlgorithmCount; ++algorithm) {
                for (float morph : {0.0f, 1.0f}) {
                    const EngineParams p = paramsWith(morph, 1.0f, 1.0f, false, algorithm);
                    settle(engine, p);
                    const Stereo out = runEngine(engine, a, &b, p, 1000);
                    const Stereo& source = morph == 0.0f ? a : b;
                    for (int c = 0; c < 2; ++c)
                        EXPECT_LT(residualDb(out[c], source[c], latency, 0), -100.0)
                            << rate << " Hz, quality " << quality << ", algorithm " << algorithm
                            << ", morph " << morph << ", channel " << c;
                }
            }
        }
    }
}

TEST(MorphEngine, MorphEndsStayNullThroughAndAfterASilenceTheEngineIdlesIn) {
    constexpr double rate = 48000.0;
    MorphEngine engine;
    engine.prepare(rate, 1, 512, kQualityStandard);
    const int latency = engine.currentLatency();
    const int part = 24000;
    const auto withGap = [&](Signal sound) {
        std::fill(sound.begin() + part, sound.begin() + 2 * part, 0.0f);
        return Stereo{sound};
    };
    const Stereo a = withGap(test::harmonicTone(196.0, 12, rate, 3 * part + latency, 0.3f));
    const Stereo b = withGap(test::noise(3 * part + latency, 0.3f, 21));
    for (int algorithm = 0; algorithm < kAlgorithmCount; ++algorithm) {
        for (float morph : {0.0f, 1.0f}) {
            const EngineParams p = paramsWith(morph, 1.0f, 1.0f, false, algorithm);
            settle(engine, p);
            const Stereo out = runEngine(engine, a, &b, p, 480);
            const Signal& source = morph == 0.0f ? a[0] : b[0];
            EXPECT_LT(residualDb(out[0], source, latency, 0), -100.0)
                << "algorithm " << algorithm << ", morph " << morph;
            // Past the gap's first frame only zeros are left to come out of it, then the sound.
            const std::size_t quiet = static_cast<std::size_t>(part + latency + 2048);
            EXPECT_EQ(out[0][quiet], 0.0f);
        }
    }
}

TEST(MorphEngine, MixZeroAndBypassGiveTheDryInputDelayedBitForBit) {
    MorphEngine engine;
    engine.prepare(48000.0, 2, 512, kQualityStandard);
    const int latency = engine.currentLatency();
    const int length = latency + 4000;
    const Stereo a = {test::noise(length, 0.9f, 3), test::sine(440.0, 48000.0, length, 0.7f)};
    const Stereo b = {test::noise(length, 0.9f, 4), test::noise(length, 0.9f, 5)};
    const EngineParams cases[] = {
        paramsWith(0.4f, 0.0f, 1.0f, false, 1), // Mix 0
        paramsWith(0.4f, 0.7f, 3.0f, true, 2),  // Bypass, whatever Mix and Output
        paramsWith(1.0f, 1.0f, 0.125f, true, 3),
    };
    for (const EngineParams& p : cases) {
        engine.reset();
        settle(engine, p);
        // Bypass has a 20 ms ramp; let it finish before the signal starts.
        const Stereo silence(2, Signal(960, 0.0f));
        runEngine(engine, silence, &silence, p, 480);
        engine.reset();
        const Stereo out = runEngine(engine, a, &b, p, 256);
        for (int c = 0; c < 2; ++c)
            for (int n = 0; n < length; ++n)
                ASSERT_EQ(out[c][n], n >= latency ? a[c][n - latency] : 0.0f) << c << " " << n;
    }
}

TEST(MorphEngine, BypassFadesOverTwentyMilliseconds) {
    MorphEngine engine;
    engine.prepare(48000.0, 1, 4096, kQualityStandard);
    // Constant input, Mix 0 with gain 0.5: processed output 0.5, bypassed 1.0.
    const Signal one(4000, 1.0f);
    runEngine(engine, {one}, nullptr, paramsWith(0.0f, 0.0f, 0.5f), 4000);
    const auto out = runEngine(engine, {one}, nullptr, paramsWith(0.0f, 0.0f, 0.5f, true), 2000)[0];
    for (int i = 0; i < 960; ++i)
        ASSERT_NEAR(out[i], 0.5f + 0.5f * (i + 1) / 960.0f, 1e-4f) << i;
    for (int i = 961; i < 2000; ++i)
        ASSERT_EQ(out[i], 1.0f) << i;
}

// ---------------------------------------------------------------------------------------------
// Block handling

TEST(MorphEngine, LongHostBlocksAreChunkedAndRampOnlyInTheFirstChunk) {
    MorphEngine engine;
    engine.prepare(48000.0, 1, 64, kQualityStandard);
    const int latency = engine.currentLatency();
    const Signal one(latency + 200, 1.0f);
    // Mix 0 shows the dry path alone, so the output is the gain ramp itself.
    runEngine(engine, {Signal(one.begin(), one.begin() + latency)}, nullptr,
              paramsWith(0.0f, 0.0f, 1.0f), 64);
    const Signal block(200, 1.0f);
    const auto out = runEngine(engine, {block}, nullptr, paramsWith(0.0f, 0.0f, 0.5f), 200)[0];
    for (int i = 0; i < 64; ++i)
        EXPECT_NEAR(out[i], 1.0f - 0.5f * (i + 1) / 64.0f, 1e-6f) << i;
    for (int i = 64; i < 200; ++i)
        EXPECT_EQ(out[i], 0.5f) << i;
}

TEST(MorphEngine, MixRampsFromThePreviousChunksValue) {
    // Morph 1 with silent B makes the wet path exactly 0, so the output is A·(1 - mix).
    MorphEngine engine;
    engine.prepare(48000.0, 1, 100, kQualityStandard);
    const int latency = engine.currentLatency();
    const Signal one(latency, 1.0f);
    runEngine(engine, {one}, nullptr, paramsWith(1.0f, 0.0f), 100);
    const Signal block(300, 1.0f);
    const auto out = runEngine(engine, {block}, nullptr, paramsWith(1.0f, 1.0f), 300)[0];
    for (int i = 0; i < 100; ++i)
        EXPECT_NEAR(out[i], 1.0f - (i + 1) / 100.0f, 1e-6f) << i;
    for (int i = 100; i < 300; ++i)
        EXPECT_EQ(out[i], 0.0f) << i;
}

TEST(MorphEngine, FirstBlockAfterResetStartsAtItsParametersAndLaterChangesGlide) {
    // At Morph 0 wet and dry are both A delayed, so the output shows the gain alone.
    MorphEngine engine;
    engine.prepare(48000.0, 1, 4096, kQualityStandard);
    const int latency = engine.currentLatency();
    const int n = latency + 10;
    const Signal one(n, 1.0f);
    const auto first = runEngine(engine, {one}, nullptr, paramsWith(0.0f, 0.0f, 0.25f), n)[0];
    for (int i = latency; i < n; ++i)
        ASSERT_EQ(first[i], 0.25f) << i;
    const auto gliding = runEngine(engine, {one}, nullptr, paramsWith(0.0f, 0.0f, 1.0f), n)[0];
    for (int i = 0; i < n; ++i)
        ASSERT_NEAR(gliding[i], 0.25f + 0.75f * (i + 1) / n, 1e-5f) << i;
    engine.reset();
    const auto afterReset = runEngine(engine, {one}, nullptr, paramsWith(0.0f, 0.0f, 0.5f), n)[0];
    for (int i = latency; i < n; ++i)
        ASSERT_EQ(afterReset[i], 0.5f) << i;
}

TEST(MorphEngine, OutputDoesNotDependOnHowTheInputIsCutIntoBlocks) {
    const double rate = 44100.0;
    const int length = 20000;
    const Stereo a = {test::harmonicTone(196.0, 10, rate, length, 0.25f),
                      test::noise(length, 0.3f, 21)};
    const Stereo b = {test::noise(length, 0.3f, 22),
                      test::harmonicTone(330.0, 6, rate, length, 0.3f)};
    for (int algorithm = 0; algorithm < kAlgorithmCount; ++algorithm) {
        const EngineParams p = paramsWith(0.35f, 0.8f, 0.9f, false, algorithm);
        auto runCut = [&](std::uint32_t seed) {
            MorphEngine engine;
            engine.prepare(rate, 2, 700, kQualityStandard);
            settle(engine, p);
            Stereo out(2, Signal(length));
            std::mt19937 random(seed);
            std::uniform_int_distribution<int> size(1, 2500);
            for (int p0 = 0; p0 < length;) {
                const int n = std::min(size(random), length - p0);
                const float* inA[] = {a[0].data() + p0, a[1].data() + p0};
                const float* inB[] = {b[0].data() + p0, b[1].data() + p0};
                float* outs[] = {out[0].data() + p0, out[1].data() + p0};
                engine.process(inA, inB, outs, n, p);
                p0 += n;
            }
            return out;
        };
        const Stereo first = runCut(1);
        const Stereo second = runCut(2);
        double energy = 0.0;
        for (int c = 0; c < 2; ++c)
            for (int n = 0; n < length; ++n) {
                ASSERT_EQ(first[c][n], second[c][n]) << algorithm << " " << c << " " << n;
                energy += first[c][n] * first[c][n];
            }
        EXPECT_GT(energy, 1.0) << "the wet path produced sound";
    }
}

TEST(MorphEngine, InPlaceProcessingMatchesSeparateBuffers) {
    const double rate = 48000.0;
    const int length = 9000;
    const Stereo a = {test::noise(length, 0.5f, 31),
                      test::harmonicTone(150.0, 8, rate, length, 0.3f)};
    const Stereo b = {test::harmonicTone(400.0, 5, rate, length, 0.4f),
                      test::noise(length, 0.4f, 32)};
    const EngineParams p = paramsWith(0.6f, 0.7f, 1.2f, false, 2);
    MorphEngine separate, inPlace;
    separate.prepare(rate, 2, 512, kQualityStandard);
    inPlace.prepare(rate, 2, 512, kQualityStandard);
    const Stereo expected = runEngine(separate, a, &b, p, 1500);
    Stereo buffer = a;
    for (int p0 = 0; p0 < length; p0 += 1500) {
        const int n = std::min(1500, length - p0);
        float* io[] = {buffer[0].data() + p0, buffer[1].data() + p0};
        const float* inB[] = {b[0].data() + p0, b[1].data() + p0};
        inPlace.process(io, inB, io, n, p);
    }
    EXPECT_EQ(buffer, expected);
}

TEST(MorphEngine, MetersFreshOnlyAfterAFrameCompleted) {
    MorphEngine engine;
    engine.prepare(48000.0, 2, 512, kQualityStandard);
    EXPECT_FALSE(engine.consumeMetersFresh());
    const Stereo tone(2, test::sine(1000.0, 48000.0, 2048, 1.0f));
    runEngine(engine, {Signal(tone[0].begin(), tone[0].begin() + 511), Signal(511, 0.0f)}, nullptr,
              paramsWith(0.5f), 511);
    EXPECT_FALSE(engine.consumeMetersFresh());
    runEngine(engine, tone, nullptr, paramsWith(0.5f), 2048);
    EXPECT_TRUE(engine.consumeMetersFresh());
    EXPECT_FALSE(engine.consumeMetersFresh());
    EXPECT_GT(engine.meters().levelA, 0.9f);
    EXPECT_EQ(engine.meters().levelB, 0.0f);
}

// ---------------------------------------------------------------------------------------------
// Loudness

// A noise-excited vowel: white noise through three formant resonators (an "ah").
Signal vowel(double rate, int length) {
    const Signal excitation = test::noise(length, 1.0f, 77);
    Signal out(length, 0.0f);
    const double formants[][2] = {{700.0, 110.0}, {1220.0, 120.0}, {2600.0, 160.0}};
    for (const auto& formant : formants) {
        const double r = std::exp(-std::numbers::pi * formant[1] / rate);
        const double a1 = 2.0 * r * std::cos(2.0 * std::numbers::pi * formant[0] / rate);
        const double a2 = -r * r;
        double y1 = 0.0, y2 = 0.0;
        for (int n = 0; n < length; ++n) {
            const double y = (1.0 - r) * excitation[n] + a1 * y1 + a2 * y2;
            y2 = y1;
            y1 = y;
            out[n] += static_cast<float>(y);
        }
    }
    float peak = 0.0f;
    for (float v : out)
        peak = std::max(peak, std::fabs(v));
    for (float& v : out)
        v *= 0.3f / peak;
    return out;
}

// A major chord of harmonic tones.
Signal chord(double rate, int length) {
    Signal out(length, 0.0f);
    for (double f0 : {220.0, 277.18, 329.63}) {
        const Signal tone = test::harmonicTone(f0, 10, rate, length, 0.12f);
        for (int n = 0; n < length; ++n)
            out[n] += tone[n];
    }
    return out;
}

TEST(MorphEngine, EveryAlgorithmKeepsTheMorphWeightedLoudnessOfSteadyInputs) {
    const double rate = 48000.0;
    const int length = 48000;
    MorphEngine engine;
    engine.prepare(rate, 1, 1024, kQualityStandard);
    const int latency = engine.currentLatency();
    const Signal a = chord(rate, length);
    const Signal b = vowel(rate, length);
    const std::size_t from = static_cast<std::size_t>(latency) + 9600;
    const double powerA = test::aWeightedPower(a, from - latency, length - latency, rate);
    const double powerB = test::aWeightedPower(b, from - latency, length - latency, rate);
    const char* names[] = {"Transport", "Partials", "Imprint", "Diffuse"};
    for (int algorithm = 0; algorithm < kAlgorithmCount; ++algorithm) {
        for (float morph : {0.1f, 0.3f, 0.5f, 0.7f, 0.9f}) {
            const EngineParams p = paramsWith(morph, 1.0f, 1.0f, false, algorithm);
            settle(engine, p);
            const Stereo sidechain = {b};
            const Signal out = runEngine(engine, {a}, &sidechain, p, 1024)[0];
            const double target = (1.0 - morph) * powerA + morph * powerB;
            const double measured = test::aWeightedPower(out, from, length, rate);
            EXPECT_NEAR(10.0 * std::log10(measured / target), 0.0, 1.5)
                << names[algorithm] << " at Morph " << morph;
        }
    }
}

TEST(MorphEngine, SilentInputsGiveSilenceForEveryAlgorithm) {
    MorphEngine engine;
    engine.prepare(44100.0, 2, 1024, kQualityStandard);
    const Stereo silence(2, Signal(10000, 0.0f));
    for (int algorithm = 0; algorithm < kAlgorithmCount; ++algorithm)
        for (float morph : {0.0f, 0.5f, 1.0f}) {
            const Stereo out = runEngine(engine, silence, &silence,
                                         paramsWith(morph, 1.0f, 4.0f, false, algorithm), 1024);
            for (const Signal& channel : out)
                for (float y : channel)
                    ASSERT_EQ(y, 0.0f);
        }
}

// ---------------------------------------------------------------------------------------------
// Robustness

// Fills a block with programme material spiked with the faults a host may deliver.
void hostileBlock(std::mt19937& random, float* x, int n, float& peak) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> kind(0, 9);
    const float level = std::pow(10.0f, unit(random) * 1.5f - 0.5f);
    for (int i = 0; i < n; ++i) {
        float v = unit(random) * level;
        switch (kind(random) == 0 ? std::uniform_int_distribution<int>(0, 4)(random) : -1) {
        case 0:
            v = std::numeric_limits<float>::quiet_NaN();
            break;
        case 1:
            v = unit(random) > 0 ? std::numeric_limits<float>::infinity()
                                 : -std::numeric_limits<float>::infinity();
            break;
        case 2:
            v = std::numeric_limits<float>::denorm_min() * 17.0f;
            break;
        case 3:
            v = unit(random) * 1000.0f; // +60 dB
            break;
        default:
            break;
        }
        x[i] = v;
        if (std::isfinite(v))
            peak = std::max(peak, std::fabs(v));
    }
}

TEST(MorphEngine, HostileInputAndAutomationNeverGiveNonFiniteOutputOrAllocate) {
    std::mt19937 random(2024);
    const double rates[] = {8000.0, 22050.0, 44100.0, 96000.0, 192000.0};
    for (double rate : rates) {
        const int quality = std::uniform_int_distribution<int>(0, 1)(random);
        const int channels = std::uniform_int_distribution<int>(1, 2)(random);
        MorphEngine engine;
        engine.prepare(rate, channels, 1024, quality);
        Stereo a(2, Signal(8192)), b(2, Signal(8192)), out(2, Signal(8192));
        const int total = static_cast<int>(rate * 0.4);
        std::size_t allocations = 0;
        for (int done = 0; done < total;) {
            const int n = std::uniform_int_distribution<int>(1, 8192)(random);
            float peak = 0.0f;
            for (int c = 0; c < channels; ++c) {
                hostileBlock(random, a[c].data(), n, peak);
                hostileBlock(random, b[c].data(), n, peak);
            }
            std::uniform_real_distribution<float> unit(0.0f, 1.0f);
            EngineParams p;
            p.morph = unit(random);
            p.mix = unit(random);
            p.outputGain = std::pow(10.0f, 1.8f * unit(random) - 1.2f);
            p.bypass = unit(random) < 0.2f;
            p.algorithm = std::uniform_int_distribution<int>(0, 3)(random);
            const float* inA[] = {a[0].data(), a[1].data()};
            const float* inB[] = {b[0].data(), unit(random) < 0.3f ? nullptr : b[1].data()};
            float* outs[] = {out[0].data(), out[1].data()};
            {
                test::AllocationCounter counter;
                engine.process(inA, unit(random) < 0.1f ? nullptr : inB, outs, n, p);
                allocations += counter.count();
            }
            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < n; ++i)
                    ASSERT_TRUE(std::isfinite(out[c][i])) << rate << " " << c << " " << i;
            done += n;
        }
        EXPECT_EQ(allocations, 0u) << rate;
    }
}

TEST(MorphEngine, WetOutputNeverExceedsTheInputPeakTimesTheOutputGain) {
    std::mt19937 random(77);
    for (double rate : {8000.0, 48000.0, 192000.0}) {
        MorphEngine engine;
        engine.prepare(rate, 2, 1024, kQualityStandard);
        Stereo a(2, Signal(8192)), b(2, Signal(8192)), out(2, Signal(8192));
        const int total = static_cast<int>(rate * 0.4);
        float inputPeak = 0.0f;
        float previousGain = 1.0f;
        for (int done = 0; done < total;) {
            const int n = std::uniform_int_distribution<int>(1, 8192)(random);
            for (int c = 0; c < 2; ++c) {
                hostileBlock(random, a[c].data(), n, inputPeak);
                hostileBlock(random, b[c].data(), n, inputPeak);
            }
            std::uniform_real_distribution<float> unit(0.0f, 1.0f);
            EngineParams p =
                paramsWith(unit(random), 1.0f, std::pow(10.0f, 1.8f * unit(random) - 1.2f), false,
                           std::uniform_int_distribution<int>(0, 3)(random));
            const float* inA[] = {a[0].data(), a[1].data()};
            const float* inB[] = {b[0].data(), b[1].data()};
            float* outs[] = {out[0].data(), out[1].data()};
            engine.process(inA, inB, outs, n, p);
            const float gainBound = std::max(previousGain, p.outputGain);
            const float bound = std::max(1.0f, inputPeak) * gainBound * (1.0f + 1e-5f);
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < n; ++i)
                    ASSERT_LE(std::fabs(out[c][i]), bound) << rate << " " << c << " " << i;
            previousGain = p.outputGain;
            done += n;
        }
    }
}

TEST(MorphEngine, HugeFiniteInputResetsTheWetPathInsteadOfPassingNaN) {
    MorphEngine engine;
    engine.prepare(48000.0, 1, 512, kQualityStandard);
    Signal a = test::noise(20000, 0.5f, 3);
    for (int i = 3000; i < 3100; ++i)
        a[i] = 1e30f; // squares overflow to infinity inside the analysis
    const Signal b = test::noise(20000, 0.5f, 4);
    const Stereo sidechain = {b};
    for (int algorithm = 0; algorithm < kAlgorithmCount; ++algorithm) {
        const EngineParams p = paramsWith(0.5f, 1.0f, 1.0f, false, algorithm);
        const auto out = runEngine(engine, {a}, &sidechain, p, 512)[0];
        for (float y : out)
            ASSERT_TRUE(std::isfinite(y)) << algorithm;
    }
}

TEST(MorphEngine, BrokenParameterValuesNeverReachTheSignal) {
    MorphEngine engine;
    engine.prepare(48000.0, 1, 256, kQualityStandard);
    const Signal a = test::noise(6000, 0.5f, 8);
    const Stereo sidechain = {test::noise(6000, 0.5f, 9)};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const EngineParams broken[] = {paramsWith(nan, 0.5f), paramsWith(0.5f, nan),
                                   paramsWith(0.5f, 1.0f, inf), paramsWith(-inf, -3.0f, -1.0f),
                                   paramsWith(0.5f, 1.0f, 1.0f, false, 99)};
    for (const EngineParams& p : broken) {
        const auto out = runEngine(engine, {a}, &sidechain, p, 256)[0];
        for (float y : out)
            ASSERT_TRUE(std::isfinite(y));
    }
}

TEST(MorphEngine, RestoresTheCallersFloatingPointState) {
    MorphEngine engine;
    engine.prepare(48000.0, 1, 64, kQualityStandard);
    const Signal a(64, 0.1f);
    const volatile float tiny = std::numeric_limits<float>::min();
    const volatile float half = 0.5f;
    runEngine(engine, {a}, nullptr, paramsWith(0.5f), 64);
    EXPECT_GT(tiny * half, 0.0f) << "denormals still flushed after process";
}

} // namespace
} // namespace tav
