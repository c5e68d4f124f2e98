#include "dsp/OnsetDetector.h"

#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tav {
namespace {

// 64 bins, two per band, so each band's energy is set directly.
constexpr int kBins = 64;

struct Bands {
    std::vector<int> map;
    Bands() : map(kBins) {
        for (int k = 0; k < kBins; ++k)
            map[static_cast<std::size_t>(k)] = k / 2;
    }
};

// A frame whose every band holds energy e^logEnergy (split over its two bins).
FrameAnalysis frameWithLogEnergy(double logEnergy, float weightedEnergy = 1.0f) {
    FrameAnalysis a;
    a.resize(kBins);
    const auto magnitude = static_cast<float>(std::sqrt(std::exp(logEnergy) / 2.0));
    std::fill(a.magnitude.begin(), a.magnitude.end(), magnitude);
    a.energy = weightedEnergy;
    return a;
}

FrameAnalysis silence() {
    FrameAnalysis a;
    a.resize(kBins);
    return a;
}

TEST(OnsetDetector, FirstFrameOnlyPrimesHoweverLoud) {
    Bands bands;
    OnsetDetector detector;
    EXPECT_FALSE(detector.detect(frameWithLogEnergy(40.0), kBins, bands.map.data()));
    detector.reset();
    EXPECT_FALSE(detector.detect(frameWithLogEnergy(40.0), kBins, bands.map.data()));
    // Once primed, a fresh rise over an empty history fires.
    EXPECT_TRUE(detector.detect(frameWithLogEnergy(60.0), kBins, bands.map.data()));
}

TEST(OnsetDetector, WeightedSilenceNeverFires) {
    Bands bands;
    OnsetDetector detector;
    detector.detect(silence(), kBins, bands.map.data());
    EXPECT_FALSE(detector.detect(frameWithLogEnergy(30.0, 1e-13f), kBins, bands.map.data()));
    // The silent frame's rise still went into the history and the band memory.
    EXPECT_FALSE(detector.detect(frameWithLogEnergy(30.0), kBins, bands.map.data()));
}

TEST(OnsetDetector, HoldsOffForThreeFramesAfterAnOnset) {
    Bands bands;
    OnsetDetector detector;
    detector.detect(silence(), kBins, bands.map.data());
    // Rise of ln(1e9) ~ 20.7 neper per band from silence.
    EXPECT_TRUE(detector.detect(frameWithLogEnergy(0.0), kBins, bands.map.data()));
    // Rises of 10 neper would fire on their own (threshold 0.3125 * 20.7 + 0.5 ~ 7).
    EXPECT_FALSE(detector.detect(frameWithLogEnergy(10.0), kBins, bands.map.data()));
    EXPECT_FALSE(detector.detect(frameWithLogEnergy(20.0), kBins, bands.map.data()));
    EXPECT_FALSE(detector.detect(frameWithLogEnergy(30.0), kBins, bands.map.data()));
    // History now 20.7 + 3 * 10: a rise needs more than ~16.3 to fire.
    EXPECT_FALSE(detector.detect(frameWithLogEnergy(45.0), kBins, bands.map.data()));
    EXPECT_TRUE(detector.detect(frameWithLogEnergy(80.0), kBins, bands.map.data()));
}

TEST(OnsetDetector, SteadySignalGivesNoOnsetsAndDetectNeverAllocates) {
    Bands bands;
    OnsetDetector detector;
    const FrameAnalysis steady = frameWithLogEnergy(5.0);
    detector.detect(silence(), kBins, bands.map.data());
    detector.detect(steady, kBins, bands.map.data());
    test::AllocationCounter counter;
    for (int frame = 0; frame < 20; ++frame)
        EXPECT_FALSE(detector.detect(steady, kBins, bands.map.data())) << frame;
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
} // namespace tav
