#include "dsp/FrameGeometry.h"

#include <gtest/gtest.h>

namespace tav {
namespace {

TEST(FrameGeometry, FrameLengthFollowsTheSampleRateAndDoublesForHighQuality) {
    EXPECT_EQ(fftSizeForRate(22050.0), 1024);
    EXPECT_EQ(fftSizeForRate(31999.0), 1024);
    EXPECT_EQ(fftSizeForRate(32000.0), 2048);
    EXPECT_EQ(fftSizeForRate(48000.0), 2048);
    EXPECT_EQ(fftSizeForRate(96000.0), 4096);
    EXPECT_EQ(fftSizeForRate(192000.0), 8192);
    EXPECT_EQ(fftSizeFor(48000.0, kQualityHigh), 4096);
    EXPECT_EQ(fftSizeFor(192000.0, kQualityHigh), 16384);
}

TEST(FrameGeometry, LatencyIsFrameLengthPlusLookahead) {
    EXPECT_EQ(latencySamples(22050.0, kQualityStandard), 1057);
    EXPECT_EQ(latencySamples(44100.0, kQualityStandard), 2114);
    EXPECT_EQ(latencySamples(48000.0, kQualityStandard), 2120);
    EXPECT_EQ(latencySamples(48000.0, kQualityHigh), 4168);
    EXPECT_EQ(latencySamples(96000.0, kQualityStandard), 4240);
    EXPECT_EQ(latencySamples(96000.0, kQualityHigh), 8336);
    EXPECT_EQ(latencySamples(192000.0, kQualityStandard), 8480);
    EXPECT_EQ(limiterLookahead(8000.0), 16);
    EXPECT_EQ(limiterLookahead(48000.0), 72);
}

} // namespace
} // namespace tav
