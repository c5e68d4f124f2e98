#include "dsp/SwellGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace tav {
namespace {

constexpr double kRate = 48000.0;
constexpr int kFrame = 2048;

// The guard's ceilings for every wet sample of a mono A and B, fed in chunks of chunkSize.
std::vector<float> ceilingsOf(const std::vector<float>& a, const std::vector<float>& b,
                              int chunkSize, float fullScale) {
    SwellGuard guard;
    guard.prepare(kRate, 1, kFrame, chunkSize);
    std::vector<float> ceilings(a.size());
    for (std::size_t start = 0; start < a.size(); start += static_cast<std::size_t>(chunkSize)) {
        const int count = static_cast<int>(std::min(a.size() - start, std::size_t(chunkSize)));
        const float* inA[] = {a.data() + start};
        const float* inB[] = {b.data() + start};
        guard.takeInputs(inA, inB, count);
        guard.ceilings(count, fullScale, ceilings.data() + start);
    }
    return ceilings;
}

// A lone sample in A, a louder one in B later: each raises the ceiling one frame after it came
// in, a little over its own size, for a few tens of milliseconds and never before it.
TEST(SwellGuard, CeilingFollowsTheLouderInputOneFrameLaterAndHoldsBriefly) {
    std::vector<float> a(12000, 0.0f), b(12000, 0.0f);
    a[1000] = 0.5f;
    b[6000] = -0.8f;
    const std::vector<float> ceilings = ceilingsOf(a, b, 100, 1.0f);

    const auto at = [&](int inputSample, int after) {
        return ceilings[static_cast<std::size_t>(inputSample + kFrame + after)];
    };
    for (const auto& [sample, size] : {std::pair{1000, 0.5f}, std::pair{6000, 0.8f}}) {
        EXPECT_GT(at(sample, 0), size * 1.2f) << sample;
        EXPECT_LT(at(sample, 0), size * 1.5f) << sample;
        EXPECT_EQ(at(sample, 960), at(sample, 0)) << sample; // 20 ms on
        EXPECT_LT(at(sample, -16), 1e-4f) << sample;         // a block before it
        EXPECT_LT(at(sample, 1400), 1e-4f) << sample;        // 29 ms on
        EXPECT_GT(at(sample, 1400), 0.0f) << sample;         // never quite zero
    }

    // Full scale caps it, and the host's block size changes nothing.
    EXPECT_EQ(ceilingsOf(a, b, 100, 0.6f)[6000 + kFrame], 0.6f);
    EXPECT_EQ(ceilingsOf(a, b, 512, 1.0f), ceilings);
}

// Sounds that rise and fall at random, steeply and slowly: every ceiling stands the same factor
// over the largest input sample of the 16-sample blocks it holds, the wet sample's own block and
// the 25 ms before it, as a search through all of them finds it.
TEST(SwellGuard, CeilingIsTheLargestPeakOfTheHeldBlocks) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<float> a(72000), b(72000);
    float level = 0.1f, decay = 1.0f;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (random() % 1500 == 0) {
            level = std::exp(4.0f * unit(random)) * 0.02f;
            decay = 1.0f - 0.001f * std::abs(unit(random));
        }
        level *= decay;
        a[i] = level * unit(random);
        b[i] = 0.3f * level * unit(random);
    }
    const std::vector<float> ceilings = ceilingsOf(a, b, 333, 1.0f);

    constexpr int kBlock = 16, kHeldBlocks = 75; // ceil(25 ms / 16 samples) at 48 kHz
    for (std::size_t wet = kFrame; wet < a.size(); wet += 5) {
        const std::size_t block = (wet - kFrame) / kBlock;
        const std::size_t first = block >= kHeldBlocks ? (block - kHeldBlocks) * kBlock : 0;
        float largest = 0.0f;
        for (std::size_t i = first; i < (block + 1) * kBlock; ++i)
            largest = std::max({largest, std::abs(a[i]), std::abs(b[i])});
        if (largest > 1e-3f && largest < 0.5f) {
            ASSERT_FLOAT_EQ(ceilings[wet] / largest, 1.333f) << wet;
        }
    }
}

} // namespace
} // namespace tav
