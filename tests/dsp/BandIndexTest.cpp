// Band tables are indexed with what they hold: whatever the rate, every entry stays in range.
#include "dsp/FrameAnalyzer.h"

#include <gtest/gtest.h>

#include <limits>

namespace tav {
namespace {

TEST(BandIndex, TablesStayInRangeForAnyRate) {
    constexpr int kN = 1024;
    for (double rate : {std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(), 1e300, 1000.0, 1234.5678, 2.0e6}) {
        FrameAnalyzer analyzer;
        analyzer.prepare(rate, kN);
        for (int k = 0; k <= kN / 2; ++k) {
            EXPECT_GE(analyzer.displayBand()[k], -1) << rate << " Hz, bin " << k;
            EXPECT_LT(analyzer.displayBand()[k], 128) << rate << " Hz, bin " << k;
            EXPECT_GE(analyzer.thirdOctaveBand()[k], 0) << rate << " Hz, bin " << k;
            EXPECT_LT(analyzer.thirdOctaveBand()[k], 32) << rate << " Hz, bin " << k;
        }
    }
}

} // namespace
} // namespace tav
