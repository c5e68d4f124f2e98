#include "engine/WeightingFilters.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <random>
#include <vector>

namespace tav {
namespace {

// Two channels run side by side in AVX lanes end exactly where each run alone ends: the same
// memories and powers, bit for bit, over runs of any length.
TEST(WeightingFilters, PairRunMatchesEachChannelRunAlone) {
    const weighting::PairRun pairRun = weighting::avxPairRun();
    if (pairRun == nullptr)
        GTEST_SKIP() << "no AVX on this processor";
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<std::vector<float>> signals(6, std::vector<float>(200));
    for (auto& signal : signals)
        for (float& sample : signal)
            sample = unit(random);
    const WeightingCoefficients coefficients{1.89f, -0.89f, 0.3f, 0.41f, -0.042f};

    WeightingFilters pairFirst, pairSecond, aloneFirst, aloneSecond;
    int start = 0;
    for (int count : {32, 7, 1, 64, 96}) {
        const WeightingInputs first{&signals[0][start], &signals[1][start], &signals[2][start]};
        const WeightingInputs second{&signals[3][start], &signals[4][start], &signals[5][start]};
        pairRun(pairFirst, pairSecond, first, second, count, coefficients);
        weighting::run(aloneFirst, first, count, coefficients);
        weighting::run(aloneSecond, second, count, coefficients);
        start += count;
    }
    // The memories and powers, up to the rest flag and its padding.
    constexpr std::size_t kFilterBytes = offsetof(WeightingFilters, resting);
    EXPECT_EQ(std::memcmp(&pairFirst, &aloneFirst, kFilterBytes), 0);
    EXPECT_EQ(std::memcmp(&pairSecond, &aloneSecond, kFilterBytes), 0);
    EXPECT_NE(aloneFirst.power[0], 0.0f);
}

} // namespace
} // namespace tav
