#include "dsp/SwellGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        guard.process(inA, inB, count, fullScale, ceilings.data() + start);
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

} // namespace
} // namespace tav
