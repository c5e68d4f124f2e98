#include "engine/StftEngine.h"

#include "support/AllocationCounter.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace tav {
namespace {

constexpr double kRate = 48000.0;
constexpr int kFrame = 512;
constexpr int kHop = kFrame / 4;
constexpr int kBins = kFrame / 2 + 1;

// What a test double saw and wrote in its last call.
struct Observation {
    int calls = 0;
    int resets = 0;
    const float* writtenRe = nullptr; // where it wrote; after the frame, the engine's result
    const float* writtenIm = nullptr;
    float inputRe = 0.0f; // A's spectrum at the observed bin
    float frequencyA = 0.0f;
    bool onsetA = false;
};

constexpr int kObservedBin = 20;

// Writes a spectrum that is a fixed complex constant, or a scaled copy of A's spectrum.
class ScriptedAlgorithm final : public Algorithm {
public:
    enum class Mode { Constant, ScaledA };

    ScriptedAlgorithm(Observation& seen, Mode mode, float re, float im, bool reassign = true)
        : seen(seen), mode(mode), re(re), im(im), reassign(reassign) {}

    void prepare(int, int, double) override {}
    void reset() override { ++seen.resets; }
    void process(const MorphContext& ctx, float* outRe, float* outIm) override {
        ++seen.calls;
        seen.writtenRe = outRe;
        seen.writtenIm = outIm;
        seen.inputRe = ctx.a->re[kObservedBin];
        seen.frequencyA = ctx.a->frequency[kObservedBin];
        seen.onsetA = ctx.a->onset;
        for (int k = 0; k < ctx.numBins; ++k) {
            outRe[k] = mode == Mode::Constant ? re : re * ctx.a->re[k];
            outIm[k] = mode == Mode::Constant ? im : re * ctx.a->im[k];
        }
    }
    bool needsReassignedFrequencies() const override { return reassign; }

private:
    Observation& seen;
    Mode mode;
    float re, im;
    bool reassign;
};

struct Harness {
    StftEngine engine;
    Observation seen[kAlgorithmCount];

    explicit Harness(int channels = 1) { engine.prepare(kRate, channels, kFrame); }

    void install(int index, ScriptedAlgorithm::Mode mode, float re, float im, bool reassign = true,
                 int channel = 0) {
        engine.replaceAlgorithm(
            channel, index,
            std::make_unique<ScriptedAlgorithm>(seen[index], mode, re, im, reassign));
    }

    // Runs the signals through in blocks of `block`, returning the output of channel 0.
    std::vector<float> run(const std::vector<float>& a, const std::vector<float>& b, float morph,
                           int block) {
        std::vector<float> out(a.size());
        for (std::size_t p = 0; p < a.size(); p += static_cast<std::size_t>(block)) {
            const int n = static_cast<int>(std::min(a.size() - p, static_cast<std::size_t>(block)));
            const float* inA[] = {a.data() + p};
            const float* inB[] = {b.data() + p};
            float* outs[] = {out.data() + p};
            engine.process(inA, inB, outs, n, morph);
        }
        return out;
    }
};

// Share of the newly selected constant (0, 1) in a result built from the old (1, 0).
float newShare(const Observation& current) {
    const float re = current.writtenRe[kObservedBin];
    const float im = current.writtenIm[kObservedBin];
    return im / (re + im);
}

TEST(StftEngine, FirstFrameIsSilentAndMorphZeroReturnsAExactlyOneFrameLater) {
    Harness h;
    const auto a = test::noise(6 * kFrame, 0.5f, 3);
    const auto b = test::sine(3000.0, kRate, 6 * kFrame, 0.5f);
    const auto out = h.run(a, b, 0.0f, 100);
    for (int n = 0; n < kFrame; ++n)
        ASSERT_NEAR(out[n], 0.0f, 1e-6f) << n;
    for (std::size_t n = kFrame; n < out.size(); ++n)
        ASSERT_NEAR(out[n], a[n - kFrame], 2e-6f) << n;
}

TEST(StftEngine, BlocksShorterThanAHopProduceOutputButNoFrame) {
    Harness h;
    h.install(0, ScriptedAlgorithm::Mode::Constant, 1.0f, 0.0f);
    const float a[kHop] = {0.25f};
    std::vector<float> out(kHop, NAN);
    const float* inA[] = {a};
    float* outs[] = {out.data()};
    h.engine.process(inA, nullptr, outs, kHop - 1, 0.5f);
    EXPECT_EQ(h.seen[0].calls, 0);
    EXPECT_FALSE(h.engine.consumeMetersFresh());
    for (int n = 0; n < kHop - 1; ++n)
        EXPECT_EQ(out[n], 0.0f);
    h.engine.process(inA, nullptr, outs, 1, 0.5f);
    EXPECT_EQ(h.seen[0].calls, 1);
    EXPECT_TRUE(h.engine.consumeMetersFresh());
    EXPECT_FALSE(h.engine.consumeMetersFresh());
}

TEST(StftEngine, EdgeBlendMixesInAsOwnSpectrumNearMorphZero) {
    // The blend weighs powers: a silent algorithm leaves A's own spectrum at the blended share
    // of its power, 1 - 0.02 * 33.3 = 1/3, so at the amplitude sqrt(1/3).
    Harness h;
    for (int i = 0; i < kAlgorithmCount; ++i)
        h.install(i, ScriptedAlgorithm::Mode::Constant, 0.0f, 0.0f);
    const auto a = test::noise(5 * kFrame, 0.5f, 7);
    h.run({0.0f}, {0.0f}, 0.02f, 1); // settles the Morph line without a frame
    const auto out = h.run(a, a, 0.02f, 77);
    for (std::size_t n = kFrame; n < out.size(); ++n)
        ASSERT_NEAR(out[n], a[n - kFrame] * std::sqrt(1.0f / 3.0f), 2e-6f) << n;
}

TEST(StftEngine, WetShareFollowsTheFramesAwayFromTheMorphEnds) {
    // One block per hop, so each block ends in a frame at the block's Morph. A frame made at
    // the end of block j sounds through blocks j + 1 .. j + 4, entering with a window of 0.
    Harness h;
    const auto a = test::noise(kHop, 0.5f, 5);
    std::vector<float> out(kHop), share(kHop);
    const float* inA[] = {a.data()};
    float* outs[] = {out.data()};
    auto block = [&](float morph) {
        h.engine.process(inA, inA, outs, kHop, morph, share.data());
        return share;
    };
    for (int j = 0; j < 8; ++j)
        for (float value : block(0.0f))
            ASSERT_EQ(value, 0.0f) << j;
    block(0.5f); // frame 8 is the only one away from Morph 0
    const auto entering = block(0.0f);
    for (int i = 0; i < kHop; ++i)
        EXPECT_NEAR(entering[i], static_cast<float>(i) / kHop, 1e-6f) << i;
    for (int j = 10; j < 12; ++j)
        for (float value : block(0.0f))
            EXPECT_EQ(value, 1.0f) << j;
    const auto leaving = block(0.0f);
    for (int i = 0; i < kHop; ++i)
        EXPECT_NEAR(leaving[i], 1.0f - static_cast<float>(i) / kHop, 1e-6f) << i;
    for (int j = 13; j < 16; ++j)
        for (float value : block(0.0f))
            ASSERT_EQ(value, 0.0f) << j;
    // Inside the blend zone the share is what the edge blend leaves: 1 - 0.015 * 33.3 = 0.5.
    for (int j = 0; j < 5; ++j)
        block(0.985f);
    for (float value : block(0.985f))
        EXPECT_NEAR(value, 0.5f, 1e-5f);
}

TEST(StftEngine, LoudnessMatchingScalesTheOutputToTheMorphWeightedInputEnergy) {
    // The algorithm doubles A; with B = A the target is A's energy, so the gain settles at 1/2.
    Harness h;
    h.install(0, ScriptedAlgorithm::Mode::ScaledA, 2.0f, 0.0f);
    const auto a = test::sine(1500.0, kRate, 40 * kFrame, 0.3f);
    const auto out = h.run(a, a, 0.5f, kHop);
    for (std::size_t n = 30 * kFrame; n < out.size(); ++n)
        ASSERT_NEAR(out[n], a[n - kFrame], 1e-4f) << n;
}

TEST(StftEngine, LoudnessGainIsLimitedTo30Decibels) {
    Harness h;
    h.install(0, ScriptedAlgorithm::Mode::ScaledA, 1e-3f, 0.0f);
    const auto a = test::sine(1500.0, kRate, 40 * kFrame, 0.3f);
    const auto out = h.run(a, a, 0.5f, kHop);
    for (std::size_t n = 30 * kFrame; n < out.size(); ++n)
        ASSERT_NEAR(out[n], a[n - kFrame] * 31.622777f * 1e-3f, 1e-5f) << n;
}

TEST(StftEngine, GainJumpsAtAnOnsetInsteadOfGliding) {
    // After silence the smoothed gain is near 0; the frame that sees the attack must take the
    // full matching gain 1/2 at once rather than halfway (1/4).
    Harness h;
    h.install(0, ScriptedAlgorithm::Mode::ScaledA, 2.0f, 0.0f);
    std::vector<float> a(12 * kFrame, 0.0f);
    const auto tone = test::sine(1500.0, kRate, 6 * kFrame, 0.3f);
    std::copy(tone.begin(), tone.end(), a.begin() + 6 * kFrame);
    std::vector<float> gains;
    for (std::size_t p = 0; p < a.size(); p += kHop) {
        const std::vector<float> block(a.begin() + p, a.begin() + p + kHop);
        h.run(block, block, 0.5f, kHop);
        const Observation& seen = h.seen[0];
        gains.push_back(seen.inputRe != 0.0f ? seen.writtenRe[kObservedBin] / (2.0f * seen.inputRe)
                                             : 0.0f);
        if (seen.onsetA) {
            EXPECT_NEAR(gains.back(), 0.5f, 1e-4f);
            return;
        }
    }
    FAIL() << "no onset seen";
}

TEST(StftEngine, OnsetInAnyChannelIsSeenByEveryChannel) {
    Harness h(2);
    Observation right;
    h.install(0, ScriptedAlgorithm::Mode::Constant, 0.0f, 0.0f);
    h.engine.replaceAlgorithm(
        1, 0,
        std::make_unique<ScriptedAlgorithm>(right, ScriptedAlgorithm::Mode::Constant, 0.0f, 0.0f));
    const std::vector<float> silence(kHop, 0.0f);
    const auto burst = test::noise(kHop, 0.8f, 5);
    bool leftSawOnset = false;
    std::vector<float> out0(kHop), out1(kHop);
    float* outs[] = {out0.data(), out1.data()};
    for (int frame = 0; frame < 12; ++frame) {
        const float* inA[] = {silence.data(), frame < 6 ? silence.data() : burst.data()};
        h.engine.process(inA, nullptr, outs, kHop, 0.5f);
        leftSawOnset = leftSawOnset || h.seen[0].onsetA;
    }
    EXPECT_TRUE(leftSawOnset);
}

TEST(StftEngine, SwitchCrossfadesOverSixFramesStartingFromTheOldAlgorithm) {
    Harness h;
    h.install(0, ScriptedAlgorithm::Mode::Constant, 1.0f, 0.0f);
    h.install(1, ScriptedAlgorithm::Mode::Constant, 0.0f, 1.0f);
    const auto a = test::noise(kHop, 0.5f, 9);
    for (int i = 0; i < 3; ++i)
        h.run(a, a, 0.5f, kHop);
    EXPECT_EQ(newShare(h.seen[0]), 0.0f);

    h.engine.requestAlgorithm(1);
    const int resetsBefore = h.seen[1].resets;
    h.run(a, a, 0.5f, kHop);
    EXPECT_EQ(h.seen[1].resets, resetsBefore + 1);
    EXPECT_EQ(newShare(h.seen[1]), 0.0f) << "switching frame is the old algorithm's";
    for (int frame = 1; frame <= 6; ++frame) {
        h.run(a, a, 0.5f, kHop);
        EXPECT_NEAR(newShare(h.seen[1]), frame / 6.0f, 1e-5f) << frame;
    }
    const int oldCalls = h.seen[0].calls;
    h.run(a, a, 0.5f, kHop);
    EXPECT_EQ(h.seen[0].calls, oldCalls) << "the old algorithm stops running";
    EXPECT_EQ(newShare(h.seen[1]), 1.0f);
}

TEST(StftEngine, RequestDuringACrossfadeWaitsForItsEnd) {
    Harness h;
    h.install(0, ScriptedAlgorithm::Mode::Constant, 1.0f, 0.0f);
    h.install(1, ScriptedAlgorithm::Mode::Constant, 0.0f, 1.0f);
    h.install(2, ScriptedAlgorithm::Mode::Constant, 1.0f, 0.0f);
    const auto a = test::noise(kHop, 0.5f, 9);
    h.engine.requestAlgorithm(1);
    h.run(a, a, 0.5f, kHop); // switching frame 0 -> 1
    h.engine.requestAlgorithm(2);
    for (int frame = 1; frame <= 5; ++frame) {
        h.run(a, a, 0.5f, kHop);
        EXPECT_EQ(h.seen[2].calls, 0);
        EXPECT_NEAR(newShare(h.seen[1]), frame / 6.0f, 1e-5f);
    }
    h.run(a, a, 0.5f, kHop); // the fade to 1 is over: now 1 -> 2 starts, still all of 1
    EXPECT_EQ(h.seen[2].calls, 1);
    EXPECT_EQ(h.engine.activeAlgorithm(), 2);
    EXPECT_EQ(h.seen[2].writtenRe[kObservedBin], 0.0f);
    EXPECT_GT(h.seen[2].writtenIm[kObservedBin], 0.0f);
}

TEST(StftEngine, ResetPutsTheRequestedAlgorithmInUseWithoutAFade) {
    Harness h;
    h.install(0, ScriptedAlgorithm::Mode::Constant, 1.0f, 0.0f);
    h.install(3, ScriptedAlgorithm::Mode::Constant, 0.0f, 1.0f);
    h.engine.requestAlgorithm(3);
    h.engine.reset();
    const auto a = test::noise(kHop, 0.5f, 9);
    h.run(a, a, 0.5f, kHop);
    EXPECT_EQ(h.seen[0].calls, 0);
    EXPECT_EQ(newShare(h.seen[3]), 1.0f);
}

TEST(StftEngine, ReassignsFrequenciesOnlyWhileARunningAlgorithmAsksForThem) {
    Harness h;
    h.install(0, ScriptedAlgorithm::Mode::Constant, 1.0f, 0.0f, false);
    h.install(1, ScriptedAlgorithm::Mode::Constant, 1.0f, 0.0f, true);
    h.install(2, ScriptedAlgorithm::Mode::Constant, 1.0f, 0.0f, false);
    // A sine a quarter bin above bin 20.
    const double hz = test::hzOfBin(kObservedBin + 0.25, kRate, kFrame);
    const auto tone = test::sine(hz, kRate, kHop * 40, 0.5f);
    auto frame = [&](int i) {
        return std::vector<float>(tone.begin() + i * kHop, tone.begin() + (i + 1) * kHop);
    };
    int i = 0;
    for (; i < 6; ++i)
        h.run(frame(i), frame(i), 0.5f, kHop);
    EXPECT_EQ(h.seen[0].frequencyA, 0.0f) << "never measured";

    h.engine.requestAlgorithm(1);
    for (; i < 13; ++i)
        h.run(frame(i), frame(i), 0.5f, kHop);
    EXPECT_NEAR(h.seen[1].frequencyA, kObservedBin + 0.25f, 0.02f);

    h.engine.requestAlgorithm(2);
    h.run(frame(i), frame(i), 0.5f, kHop); // switching frame: the fading one still asks
    ++i;
    // Once the fade is over nothing asks: a silent A leaves the last measurement in place.
    for (int k = 0; k < 5; ++k, ++i)
        h.run(frame(i), frame(i), 0.5f, kHop);
    const std::vector<float> silence(kHop, 0.0f);
    for (int k = 0; k < 6; ++k)
        h.run(silence, silence, 0.5f, kHop);
    EXPECT_NEAR(h.seen[2].frequencyA, kObservedBin + 0.25f, 0.02f);
}

TEST(StftEngine, BothInputsSilentGiveSilenceWhateverTheAlgorithmWrites) {
    Harness h;
    h.install(0, ScriptedAlgorithm::Mode::Constant, 3.0f, -2.0f);
    const std::vector<float> silence(8 * kFrame, 0.0f);
    for (float morph : {0.0f, 0.5f, 1.0f}) {
        const auto out = h.run(silence, silence, morph, 300);
        for (float y : out)
            ASSERT_EQ(y, 0.0f);
    }
}

TEST(StftEngine, WholeSilentFramesSkipTheAlgorithmWhileMetersKeepComingThenItResumesFresh) {
    Harness h;
    h.install(0, ScriptedAlgorithm::Mode::ScaledA, 1.0f, 0.0f);
    const auto sound = test::noise(4 * kFrame, 0.5f, 3);
    const std::vector<float> silence(kHop, 0.0f);
    h.run(sound, sound, 0.5f, kHop);
    const int callsWithSound = h.seen[0].calls;
    const int resetsWithSound = h.seen[0].resets;

    // The three frames after the sound still hold some of it; from the fourth on, nothing.
    for (int k = 0; k < 12; ++k) {
        h.run(silence, silence, 0.5f, kHop);
        EXPECT_TRUE(h.engine.consumeMetersFresh()) << k;
        EXPECT_EQ(h.engine.idling(), k >= 3) << k;
    }
    EXPECT_EQ(h.seen[0].calls, callsWithSound + 3);

    // One sample of sound anywhere in a frame makes it a frame like any other.
    std::vector<float> click(kHop, 0.0f);
    click[kHop - 1] = 1e-3f;
    h.run(click, silence, 0.5f, kHop);
    EXPECT_FALSE(h.engine.idling());
    EXPECT_EQ(h.seen[0].calls, callsWithSound + 4);
    EXPECT_EQ(h.seen[0].resets, resetsWithSound + 1);
}

TEST(StftEngine, ProcessNeverAllocates) {
    StftEngine engine;
    engine.prepare(kRate, 2, 0);
    ASSERT_EQ(engine.fftSize(), 2048);
    const auto a = test::noise(4096, 0.5f, 1);
    std::vector<float> out0(4096), out1(4096);
    const float* inA[] = {a.data(), a.data()};
    const float* inB[] = {nullptr, a.data()};
    float* outs[] = {out0.data(), out1.data()};
    test::AllocationCounter counter;
    for (int algorithm = 0; algorithm < kAlgorithmCount; ++algorithm) {
        engine.requestAlgorithm(algorithm);
        engine.process(inA, inB, outs, 4096, 0.25f * static_cast<float>(algorithm));
        engine.process(inA, nullptr, outs, 1000, 0.5f);
    }
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
} // namespace tav
