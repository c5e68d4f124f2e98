#include "algorithms/Algorithm.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tav {
namespace {

TEST(AlgorithmFactory, CreatesTheFourAlgorithmsOfTheListAndNothingElse) {
    for (int index = 0; index < kAlgorithmCount; ++index)
        EXPECT_NE(createAlgorithm(index), nullptr) << index;
    EXPECT_EQ(createAlgorithm(-1), nullptr);
    EXPECT_EQ(createAlgorithm(kAlgorithmCount), nullptr);

    // Only the two that track partials measure reassigned frequencies.
    EXPECT_TRUE(createAlgorithm(0)->needsReassignedFrequencies());
    EXPECT_TRUE(createAlgorithm(1)->needsReassignedFrequencies());
    EXPECT_FALSE(createAlgorithm(2)->needsReassignedFrequencies());
    EXPECT_FALSE(createAlgorithm(3)->needsReassignedFrequencies());
}

// Every algorithm, prepared at each frame length the engine uses at 44.1 and 96 kHz, runs on
// the same frames: a chord against noise, silences, onsets, Morph sweeping the whole range.
// Under the sanitizers this also proves that none reads or writes outside its arrays.
TEST(AlgorithmFactory, EveryAlgorithmRunsOnTheSameFramesWithFiniteOutput) {
    struct Geometry {
        int size;
        double rate;
    };
    for (const Geometry geometry :
         {Geometry{1024, 22050.0}, Geometry{2048, 44100.0}, Geometry{8192, 96000.0}}) {
        const int n = geometry.size;
        const int hop = n / 4;
        const int frames = 8;
        const int length = n + hop * (frames - 1);
        const auto a = test::analyseFrames(
            test::harmonicTone(196.0, 20, geometry.rate, length, 0.4f), geometry.rate, n, hop);
        const auto b = test::analyseFrames(test::noise(length, 0.3f, 5), geometry.rate, n, hop);
        const FrameAnalysis silent = test::silentFrame(n);
        ASSERT_EQ(a.size(), std::size_t(frames));

        for (int index = 0; index < kAlgorithmCount; ++index) {
            auto algorithm = createAlgorithm(index);
            algorithm->prepare(n, hop, geometry.rate);
            std::vector<float> re(std::size_t(n / 2 + 1)), im(re.size());
            for (int f = 0; f < frames; ++f) {
                FrameAnalysis fa = a[std::size_t(f)];
                fa.onset = f == 3;
                const FrameAnalysis& fb = f == 5 ? silent : b[std::size_t(f)];
                const float morph = static_cast<float>(f) / (frames - 1);
                algorithm->process(test::contextFor(fa, fb, morph, n, geometry.rate), re.data(),
                                   im.data());
                for (std::size_t k = 0; k < re.size(); ++k)
                    ASSERT_TRUE(std::isfinite(re[k]) && std::isfinite(im[k]))
                        << "algorithm " << index << " size " << n << " frame " << f;
            }
            // Both inputs silent: an all-zero frame from every algorithm.
            std::fill(re.begin(), re.end(), 1.0f);
            std::fill(im.begin(), im.end(), 1.0f);
            algorithm->process(test::contextFor(silent, silent, 0.5f, n, geometry.rate), re.data(),
                               im.data());
            for (std::size_t k = 0; k < re.size(); ++k)
                ASSERT_TRUE(re[k] == 0.0f && im[k] == 0.0f) << "algorithm " << index;
        }
    }
}

} // namespace
} // namespace tav
