#include "dsp/LookaheadLimiter.h"

#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace tav {
namespace {

// Runs a whole multichannel signal through the limiter in blocks of the given size.
void runInBlocks(LookaheadLimiter& limiter, std::vector<std::vector<float>>& channels,
                 int blockSize, float inputPeak) {
    const int length = static_cast<int>(channels[0].size());
    std::vector<float*> pointers(channels.size());
    for (int start = 0; start < length; start += blockSize) {
        for (std::size_t c = 0; c < channels.size(); ++c)
            pointers[c] = channels[c].data() + start;
        limiter.process(pointers.data(), std::min(blockSize, length - start), inputPeak);
    }
}

TEST(LookaheadLimiter, LookaheadIsOnePointFiveMillisecondsAndAtLeastSixteen) {
    LookaheadLimiter limiter;
    limiter.prepare(48000.0, 2);
    EXPECT_EQ(limiter.lookahead(), 72);
    limiter.prepare(8000.0, 1);
    EXPECT_EQ(limiter.lookahead(), 16);
    limiter.prepare(44100.0, 1);
    EXPECT_EQ(limiter.lookahead(), 66);
}

TEST(LookaheadLimiter, SignalUnderTheCeilingPassesUnchangedDelayedByTheLookahead) {
    for (double rate : {8000.0, 44100.0, 48000.0, 96000.0}) {
        SCOPED_TRACE(rate);
        LookaheadLimiter limiter;
        limiter.prepare(rate, 2);
        const int lookahead = limiter.lookahead();
        std::mt19937 rng(11);
        std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
        std::vector<std::vector<float>> in(2, std::vector<float>(3000));
        for (auto& channel : in)
            std::generate(channel.begin(), channel.end(), [&] { return dist(rng); });
        auto out = in;
        runInBlocks(limiter, out, 97, 0.0f);
        for (std::size_t c = 0; c < 2; ++c) {
            for (int i = 0; i < lookahead; ++i)
                ASSERT_EQ(out[c][static_cast<std::size_t>(i)], 0.0f);
            for (std::size_t i = static_cast<std::size_t>(lookahead); i < in[c].size(); ++i)
                ASSERT_EQ(out[c][i], in[c][i - static_cast<std::size_t>(lookahead)]) << i;
        }
    }
}

// The release takes a second or more to creep back to exactly 1; once everything has passed and
// only silence is left the gain rests at once, so a sound after the silence starts unscaled.
TEST(LookaheadLimiter, SoundAfterSilenceStartsAtUnityGain) {
    LookaheadLimiter limiter;
    limiter.prepare(48000.0, 1);
    const auto lookahead = static_cast<std::size_t>(limiter.lookahead());
    std::vector<std::vector<float>> signal(1, std::vector<float>(9600, 0.0f));
    signal[0][100] = 4.0f;                                      // reduced to full scale
    std::fill(signal[0].begin() + 4800, signal[0].end(), 0.5f); // after 0.1 s of silence
    auto out = signal;
    runInBlocks(limiter, out, 256, 0.0f);
    EXPECT_LE(std::fabs(out[0][100 + lookahead]), 1.0f);
    for (std::size_t i = 4800 + lookahead; i < out[0].size(); ++i)
        ASSERT_EQ(out[0][i], 0.5f) << i;
}

TEST(LookaheadLimiter, LoneDoubleFullScaleSampleIsHalvedBehindALinearRamp) {
    LookaheadLimiter limiter;
    limiter.prepare(48000.0, 1);
    const int lookahead = limiter.lookahead();
    const float quiet = 0.25f;
    const std::size_t peakAt = 500;
    std::vector<std::vector<float>> signal(1, std::vector<float>(2000, quiet));
    signal[0][peakAt] = 2.0f;
    runInBlocks(limiter, signal, 64, 0.0f);
    const std::vector<float>& out = signal[0];
    const std::size_t peakOut = peakAt + static_cast<std::size_t>(lookahead);

    EXPECT_EQ(out[peakOut], 1.0f);
    // The L samples before it are lowered in equal steps of 0.5 / (L + 1).
    const double step = 0.5 / (lookahead + 1);
    for (int j = 1; j <= lookahead; ++j)
        EXPECT_NEAR(out[peakOut - static_cast<std::size_t>(j)] / quiet, 0.5 + j * step, 1e-6) << j;
    EXPECT_EQ(out[peakOut - static_cast<std::size_t>(lookahead) - 1], quiet);
    // Afterwards the gain recovers steadily toward unity.
    for (std::size_t i = peakOut + 1; i + 1 < out.size(); ++i)
        ASSERT_LE(out[i], out[i + 1]) << i;
    EXPECT_GT(out[peakOut + 1], 0.5f * quiet);
    EXPECT_LT(out.back(), quiet);
}

TEST(LookaheadLimiter, CeilingFollowsTheInputPeak) {
    LookaheadLimiter limiter;
    limiter.prepare(48000.0, 1);
    std::vector<std::vector<float>> signal(1, std::vector<float>(400, 0.1f));
    signal[0][100] = 1.4f;
    runInBlocks(limiter, signal, 400, 1.5f);
    EXPECT_EQ(signal[0][100 + static_cast<std::size_t>(limiter.lookahead())], 1.4f);
}

// Ceilings given sample by sample hold each sample under its own; one that is not a number
// falls back to full scale rather than silencing the signal.
TEST(LookaheadLimiter, PerSampleCeilingsHoldEachSampleAndBadOnesMeanFullScale) {
    LookaheadLimiter limiter;
    limiter.prepare(48000.0, 1);
    const int lookahead = limiter.lookahead();
    std::vector<float> signal(20000, 0.5f), ceilings(signal.size(), 0.25f);
    std::fill(ceilings.begin() + 4000, ceilings.end(), std::nanf(""));
    float* channels[] = {signal.data()};
    limiter.process(channels, static_cast<int>(signal.size()), ceilings.data());
    for (int i = lookahead; i < 4000 + lookahead; ++i)
        ASSERT_LE(signal[static_cast<std::size_t>(i)], 0.25f + 1e-6f) << i;
    EXPECT_NEAR(signal.back(), 0.5f, 1e-4f);
}

TEST(LookaheadLimiter, RandomPeaksNeverExceedTheCeilingAndGainReturnsToUnity) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_real_distribution<float> peakDb(0.0f, 40.0f);
    std::uniform_real_distribution<float> inputPeaks(0.0f, 3.0f);
    std::uniform_int_distribution<int> blockSizes(1, 300);
    for (int trial = 0; trial < 20; ++trial) {
        SCOPED_TRACE(trial);
        const double rate = trial % 2 == 0 ? 48000.0 : 8000.0 + 1000.0 * trial;
        const int channelCount = 1 + trial % 2;
        LookaheadLimiter limiter;
        limiter.prepare(rate, channelCount);
        const auto lookahead = static_cast<std::size_t>(limiter.lookahead());

        const std::size_t length = 6000;
        std::vector<std::vector<float>> signal(static_cast<std::size_t>(channelCount),
                                               std::vector<float>(length));
        for (auto& channel : signal) {
            for (float& v : channel)
                v = unit(rng) * 0.8f;
            for (int p = 0; p < 40; ++p) {
                const auto at = static_cast<std::size_t>(rng() % length);
                channel[at] = unit(rng) * std::pow(10.0f, peakDb(rng) / 20.0f);
            }
        }
        // Each input sample is judged by the ceiling of the block it arrived in.
        std::vector<float> ceilingOf(length);
        std::vector<float*> pointers(signal.size());
        const auto input = signal;
        for (std::size_t start = 0; start < length;) {
            const auto count =
                std::min<std::size_t>(static_cast<std::size_t>(blockSizes(rng)), length - start);
            const float inputPeak = inputPeaks(rng);
            std::fill_n(ceilingOf.begin() + static_cast<std::ptrdiff_t>(start), count,
                        std::max(inputPeak, 1.0f));
            for (std::size_t c = 0; c < signal.size(); ++c)
                pointers[c] = signal[c].data() + start;
            limiter.process(pointers.data(), static_cast<int>(count), inputPeak);
            start += count;
        }
        for (const auto& channel : signal)
            for (std::size_t i = lookahead; i < length; ++i)
                ASSERT_LE(std::abs(channel[i]), ceilingOf[i - lookahead] * (1.0f + 1e-6f)) << i;

        // Two seconds of quiet signal later the gain is exactly unity again.
        std::vector<std::vector<float>> tail(
            signal.size(), std::vector<float>(static_cast<std::size_t>(rate * 2), 0.5f));
        runInBlocks(limiter, tail, 256, 0.0f);
        for (const auto& channel : tail)
            EXPECT_EQ(channel.back(), 0.5f);
    }
}

TEST(LookaheadLimiter, ResetForgetsPeaksAndProcessNeverAllocates) {
    LookaheadLimiter limiter;
    std::vector<float> untouched(8, 5.0f);
    float* unpreparedChannels[1] = {untouched.data()};
    limiter.process(unpreparedChannels, 8, 0.0f);
    EXPECT_EQ(untouched, std::vector<float>(8, 5.0f)) << "an unprepared limiter leaves the block";

    limiter.prepare(48000.0, 2);
    std::vector<std::vector<float>> signal(2, std::vector<float>(512, 30.0f));
    std::vector<float*> pointers{signal[0].data(), signal[1].data()};
    {
        test::AllocationCounter counter;
        limiter.process(pointers.data(), 512, 0.0f);
        EXPECT_EQ(counter.count(), 0u);
    }
    limiter.reset();
    std::vector<std::vector<float>> quiet(2, std::vector<float>(200, 0.5f));
    runInBlocks(limiter, quiet, 200, 0.0f);
    EXPECT_EQ(quiet[0][71], 0.0f) << "the delay line starts empty";
    EXPECT_EQ(quiet[1][72], 0.5f);
    EXPECT_EQ(quiet[0][199], 0.5f);
}

} // namespace
} // namespace tav
