#include "ui/MorphField.h"

#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tav::ui {
namespace {

constexpr int kLines = MorphField::kLines;
constexpr int kBands = MorphField::kBands;

MeterBlock flatBoth(float energy = 1.0f) {
    MeterBlock meters;
    for (int k = 0; k < kBands; ++k)
        meters.bandEnergyA[k] = meters.bandEnergyB[k] = 1.0f;
    meters.weightedEnergyA = meters.weightedEnergyB = energy;
    return meters;
}

float staircase(int j) {
    return 0.2f + 0.15f * std::min(5 * j / kLines, 4);
}

TEST(MorphFieldProfile, FlatSpectrumGivesEvenlySpacedQuantiles) {
    float bands[kBands];
    std::fill(bands, bands + kBands, 3.0f);
    float profile[kLines];
    MorphField::computeProfile(bands, profile);
    for (int j = 0; j < kLines; ++j)
        EXPECT_NEAR(profile[j], (j + 0.5) / kLines, 1e-5) << j;
}

TEST(MorphFieldProfile, EnergyInOneBandStaysInsideThatBand) {
    float bands[kBands] = {};
    bands[0] = 5.0f;
    float profile[kLines];
    MorphField::computeProfile(bands, profile);
    for (int j = 0; j < kLines; ++j) {
        EXPECT_GE(profile[j], 0.0f);
        EXPECT_LT(profile[j], 1.0f / 128.0f);
    }

    std::fill(bands, bands + kBands, 0.0f);
    bands[kBands - 1] = 1.0f;
    MorphField::computeProfile(bands, profile);
    for (int j = 0; j < kLines; ++j) {
        EXPECT_GE(profile[j], 127.0f / 128.0f);
        EXPECT_LE(profile[j], 1.0f);
    }
}

TEST(MorphFieldProfile, TwoEqualBandsSplitTheLinesInHalves) {
    float bands[kBands] = {};
    bands[10] = 2.0f;
    bands[90] = 2.0f;
    float profile[kLines];
    MorphField::computeProfile(bands, profile);
    for (int j = 0; j < kLines / 2; ++j) {
        EXPECT_GE(profile[j], 10.0f / 128.0f) << j;
        EXPECT_LT(profile[j], 11.0f / 128.0f) << j;
    }
    for (int j = kLines / 2; j < kLines; ++j) {
        EXPECT_GE(profile[j], 90.0f / 128.0f) << j;
        EXPECT_LT(profile[j], 91.0f / 128.0f) << j;
    }
    // Within a band the quantiles spread linearly: line j sits at (j + 0.5)/22 of band 10.
    EXPECT_NEAR(profile[0], (10.0 + 0.5 / 22.0) / 128.0, 1e-5);
}

TEST(MorphFieldProfile, EmptyOrBrokenBandsGiveFiniteValues) {
    float bands[kBands] = {};
    float profile[kLines];
    MorphField::computeProfile(bands, profile);
    for (float p : profile)
        EXPECT_EQ(p, 0.0f);

    bands[3] = std::numeric_limits<float>::quiet_NaN();
    bands[4] = std::numeric_limits<float>::infinity();
    bands[5] = -7.0f;
    bands[6] = 1.0f;
    MorphField::computeProfile(bands, profile);
    for (float p : profile) {
        EXPECT_GE(p, 6.0f / 128.0f);
        EXPECT_LT(p, 7.0f / 128.0f);
    }
}

TEST(MorphField, StartsAsTheStaircaseWithBothInputsInactive) {
    MorphField field;
    EXPECT_FLOAT_EQ(field.lineValue(0, 0.0f), 0.2f);
    EXPECT_FLOAT_EQ(field.lineValue(8, 0.3f), 0.2f);
    EXPECT_FLOAT_EQ(field.lineValue(9, 0.0f), 0.35f);
    EXPECT_FLOAT_EQ(field.lineValue(26, 1.0f), 0.5f);
    EXPECT_FLOAT_EQ(field.lineValue(27, 1.0f), 0.65f);
    EXPECT_FLOAT_EQ(field.lineValue(43, 0.5f), 0.8f);
    EXPECT_FALSE(field.activeA());
    EXPECT_FALSE(field.activeB());
    EXPECT_STREQ(field.statusMessage().title, "Waiting for sound");
}

TEST(MorphField, FirstProfileSnapsThenGlidesAThirdOfTheGapPerFrame) {
    MorphField field;
    MeterBlock meters = flatBoth();
    field.updateSignals(meters, 1.0f / 30.0f);
    for (int j = 0; j < kLines; ++j)
        EXPECT_NEAR(field.displayedA()[j], (j + 0.5) / kLines, 1e-5);

    // Now all of A's energy in the top band: each line's target is near 1.
    std::fill(meters.bandEnergyA, meters.bandEnergyA + kBands, 0.0f);
    meters.bandEnergyA[kBands - 1] = 1.0f;
    const float before = field.displayedA()[0];
    field.updateSignals(meters, 1.0f / 30.0f);
    const float target = field.measuredProfileA()[0];
    const float closed = (field.displayedA()[0] - before) / (target - before);
    EXPECT_NEAR(closed, 1.0 - std::exp(-12.5 / 30.0), 1e-4);
    EXPECT_NEAR(closed, 0.34, 0.005);
}

TEST(MorphField, PresenceFadesInAndOutInHalfASecond) {
    MorphField field;
    const MeterBlock meters = flatBoth();
    for (int frame = 0; frame < 10; ++frame)
        field.updateSignals(meters, 0.025f);
    EXPECT_NEAR(field.presenceOfA(), 0.5f, 1e-5);
    EXPECT_NEAR(field.presenceOfB(), 0.5f, 1e-5);
    for (int frame = 0; frame < 10; ++frame)
        field.updateSignals(meters, 0.025f);
    EXPECT_FLOAT_EQ(field.presenceOfA(), 1.0f);

    // Bypass hides both shapes: after 0.5 s the lines are the staircase again.
    field.setBypass(true);
    for (int frame = 0; frame < 10; ++frame)
        field.updateSignals(meters, 0.025f);
    EXPECT_NEAR(field.presenceOfB(), 0.5f, 1e-5);
    for (int frame = 0; frame < 10; ++frame)
        field.updateSignals(meters, 0.025f);
    EXPECT_FLOAT_EQ(field.presenceOfA(), 0.0f);
    EXPECT_FLOAT_EQ(field.presenceOfB(), 0.0f);
    for (int j = 0; j < kLines; ++j)
        EXPECT_FLOAT_EQ(field.lineValue(j, 0.7f), staircase(j));
    EXPECT_STREQ(field.statusMessage().title, "Bypassed");
}

TEST(MorphField, LineRunsFromAToBWithSmootherstep) {
    MorphField field;
    MeterBlock meters = flatBoth();
    std::fill(meters.bandEnergyB, meters.bandEnergyB + kBands, 0.0f);
    meters.bandEnergyB[kBands - 1] = 1.0f; // B bright, A flat
    for (int frame = 0; frame < 40; ++frame)
        field.updateSignals(meters, 1.0f / 30.0f);
    ASSERT_FLOAT_EQ(field.presenceOfA(), 1.0f);
    ASSERT_FLOAT_EQ(field.presenceOfB(), 1.0f);
    const int j = 5;
    const float a = field.displayedA()[j];
    const float b = field.displayedB()[j];
    EXPECT_FLOAT_EQ(field.lineValue(j, 0.0f), a);
    EXPECT_FLOAT_EQ(field.lineValue(j, -3.0f), a);
    EXPECT_FLOAT_EQ(field.lineValue(j, 1.0f), b);
    EXPECT_FLOAT_EQ(field.lineValue(j, 0.5f), (a + b) / 2.0f);
    // Smootherstep at 0.25: 6s^5 - 15s^4 + 10s^3 = 0.103515625.
    EXPECT_NEAR(field.lineValue(j, 0.25f), a + (b - a) * 0.103515625f, 1e-6);
}

TEST(MorphFieldSilence, TimersCrossTheThresholdAtThreeTenths) {
    MorphField field;
    MeterBlock meters = flatBoth();
    field.updateSignals(meters, 0.1f);
    EXPECT_TRUE(field.activeA());
    EXPECT_TRUE(field.activeB());
    EXPECT_FALSE(field.statusMessage().shown);

    meters.weightedEnergyB = 0.9e-12f; // below the silence floor
    field.updateSignals(meters, 0.1f);
    field.updateSignals(meters, 0.1f);
    EXPECT_TRUE(field.activeB());
    EXPECT_FALSE(field.statusMessage().shown);
    field.updateSignals(meters, 0.1f);
    EXPECT_FALSE(field.activeB());
    EXPECT_TRUE(field.activeA());
    EXPECT_STREQ(field.statusMessage().title, "B has no signal");

    // The floor is 1e-12 exactly: the float nearest to it lies just below and is silence.
    meters.weightedEnergyB = 1.01e-12f;
    field.updateSignals(meters, 0.1f);
    EXPECT_TRUE(field.activeB());
    meters.weightedEnergyB = 1e-12f;
    for (int frame = 0; frame < 3; ++frame)
        field.updateSignals(meters, 0.1f);
    EXPECT_FALSE(field.activeB());

    field.silenceTimeB = 0.29f;
    EXPECT_TRUE(field.activeB());
    field.silenceTimeB = 0.3f;
    EXPECT_FALSE(field.activeB());
}

TEST(MorphFieldSilence, TenSilentFramesSilenceAAndFramesWithoutRecordsSilenceBoth) {
    MorphField field;
    MeterBlock meters = flatBoth();
    field.updateSignals(meters, 1.0f / 30.0f);
    meters.weightedEnergyA = 0.0f;
    for (int frame = 0; frame < 8; ++frame)
        field.updateSignals(meters, 1.0f / 30.0f);
    EXPECT_TRUE(field.activeA()); // 0.27 s
    field.updateSignals(meters, 1.0f / 30.0f);
    field.updateSignals(meters, 1.0f / 30.0f);
    EXPECT_FALSE(field.activeA()); // 0.33 s
    EXPECT_STREQ(field.statusMessage().title, "A is silent");

    meters.weightedEnergyA = 1.0f;
    field.updateSignals(meters, 1.0f / 30.0f);
    EXPECT_FALSE(field.statusMessage().shown);
    for (int frame = 0; frame < 8; ++frame)
        field.advance(1.0f / 30.0f);
    EXPECT_FALSE(field.statusMessage().shown);
    field.advance(1.0f / 30.0f);
    field.advance(1.0f / 30.0f);
    EXPECT_STREQ(field.statusMessage().title, "Waiting for sound");
}

TEST(MorphField, FrameUpdatesNeverAllocate) {
    MorphField field;
    const MeterBlock meters = flatBoth();
    test::AllocationCounter counter;
    for (int frame = 0; frame < 5; ++frame) {
        field.updateSignals(meters, 1.0f / 30.0f);
        field.advance(1.0f / 30.0f);
        (void)field.lineValue(frame, 0.5f);
        (void)field.statusMessage();
    }
    EXPECT_EQ(counter.count(), 0u);
}

TEST(StatusMessage, TableInPriorityOrder) {
    // Bypass wins over every input state.
    for (int inputs = 0; inputs < 4; ++inputs) {
        const StatusMessage m = StatusMessage::forState(true, inputs & 1, inputs & 2);
        EXPECT_STREQ(m.title, "Bypassed");
        EXPECT_STREQ(m.body, "You hear A, unchanged.");
        EXPECT_FLOAT_EQ(m.x, 404.0f);
        EXPECT_FLOAT_EQ(m.y, 157.0f);
        EXPECT_FALSE(m.routeButton);
    }
    const StatusMessage both = StatusMessage::forState(false, false, false);
    EXPECT_STREQ(both.title, "Waiting for sound");
    EXPECT_STREQ(both.body,
                 "Press play in your DAW. A comes from this track, B from the sidechain.");
    EXPECT_FLOAT_EQ(both.x, 404.0f);
    EXPECT_FLOAT_EQ(both.y, 152.0f);

    const StatusMessage a = StatusMessage::forState(false, false, true);
    EXPECT_STREQ(a.title, "A is silent");
    EXPECT_STREQ(a.body, "Play something on the track this plugin sits on.");
    EXPECT_FLOAT_EQ(a.x, 68.0f);
    EXPECT_FLOAT_EQ(a.y, 152.0f);
    EXPECT_FALSE(a.routeButton);

    const StatusMessage b = StatusMessage::forState(false, true, false);
    EXPECT_STREQ(b.title, "B has no signal");
    EXPECT_STREQ(b.body, "Send another track to this plugin's sidechain input in your DAW, and "
                         "press play.");
    EXPECT_FLOAT_EQ(b.x, 408.0f);
    EXPECT_FLOAT_EQ(b.y, 139.0f);
    EXPECT_TRUE(b.routeButton);

    EXPECT_FALSE(StatusMessage::forState(false, true, true).shown);
}

} // namespace
} // namespace tav::ui
