#include "tools/audio/MorphRamp.h"
#include "tools/HostError.h"

#include <gtest/gtest.h>

namespace tav::host {
namespace {

TEST(MorphRamp, ConstantHoldsEverywhere) {
    const MorphRamp ramp = MorphRamp::parse("0.25");
    EXPECT_TRUE(ramp.isConstant());
    EXPECT_DOUBLE_EQ(ramp.valueAt(0.0), 0.25);
    EXPECT_DOUBLE_EQ(ramp.valueAt(100.0), 0.25);
}

TEST(MorphRamp, PointsJoinLinearlyAndHoldAtTheEnds) {
    const MorphRamp ramp = MorphRamp::parse("1:0, 3:1,4:0.5");
    EXPECT_FALSE(ramp.isConstant());
    EXPECT_DOUBLE_EQ(ramp.valueAt(0.0), 0.0);
    EXPECT_DOUBLE_EQ(ramp.valueAt(2.0), 0.5);
    EXPECT_DOUBLE_EQ(ramp.valueAt(3.0), 1.0);
    EXPECT_DOUBLE_EQ(ramp.valueAt(3.5), 0.75);
    EXPECT_DOUBLE_EQ(ramp.valueAt(9.0), 0.5);
}

TEST(MorphRamp, AJumpAtOneInstantTakesTheLaterValue) {
    const MorphRamp ramp = MorphRamp::parse("0:0,2:0,2:1");
    EXPECT_DOUBLE_EQ(ramp.valueAt(1.999), 0.0);
    EXPECT_DOUBLE_EQ(ramp.valueAt(2.0), 1.0);
}

TEST(MorphRamp, RefusesWhatItCannotMean) {
    for (const char* text : {"", "x", "1.5", "-0.1", "0:0,", "0:0,1", "2:0,1:1", "-1:0", "0:2",
                             "nan", "0:inf", "0.5x"})
        EXPECT_THROW(MorphRamp::parse(text), HostError) << text;
}

} // namespace
} // namespace tav::host
