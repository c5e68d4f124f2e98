#include "PluginHost.h"

#include "pluginterfaces/vst/vstspeaker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tav::test {
namespace {

constexpr int32 kBlock = 4096;

tresult setUp(PluginInstance& plugin, double rate, int32 maxBlock) {
    SpeakerArrangement inputs[2] = {SpeakerArr::kStereo, SpeakerArr::kStereo};
    SpeakerArrangement outputs[1] = {SpeakerArr::kStereo};
    plugin.processor->setBusArrangements(inputs, 2, outputs, 1);
    plugin.component->activateBus(kAudio, kInput, 1, true);
    ProcessSetup setup{kRealtime, kSample32, maxBlock, rate};
    return plugin.processor->setupProcessing(setup);
}

TEST(SampleRates, OutsideOneKilohertzToTwoMegahertzAreRefusedAndDoNotActivate) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (double rate : {std::numeric_limits<double>::quiet_NaN(), inf, -inf, 0.0, -48000.0, 999.99,
                        2000000.5, 1e300}) {
        PluginInstance plugin;
        ASSERT_TRUE(plugin.ok());
        EXPECT_EQ(setUp(plugin, rate, 512), kResultFalse) << rate;
        EXPECT_EQ(plugin.component->setActive(true), kResultFalse) << rate;
        EXPECT_GT(plugin.processor->getLatencySamples(), 0u);
        // A usable setup afterwards activates as usual.
        EXPECT_EQ(setUp(plugin, 48000.0, 512), kResultOk);
        EXPECT_EQ(plugin.component->setActive(true), kResultOk);
        plugin.component->setActive(false);
    }
}

// Conformance tools activate at odd rates and expect full frames to run.
TEST(SampleRates, EveryAcceptedRateActivatesAndProcessesFullFrames) {
    for (double rate : {1000.0, 1234.5678, 8000.0, 1234567.8, 2000000.0}) {
        for (double quality : {0.0, 1.0}) {
            PluginInstance plugin;
            ASSERT_TRUE(plugin.ok());
            ParameterChanges changes;
            changes.add(5, 0, quality);
            changes.add(0, 0, 0.6);
            std::vector<float> none;
            plugin.process({}, {}, {}, 0, &changes);
            ASSERT_EQ(setUp(plugin, rate, kBlock), kResultOk) << rate;
            ASSERT_EQ(plugin.component->setActive(true), kResultOk) << rate;
            const int blocks =
                2 * static_cast<int>(plugin.processor->getLatencySamples()) / kBlock + 2;
            std::vector<float> a(kBlock), b(kBlock), left(kBlock), right(kBlock);
            for (int block = 0; block < blocks; ++block) {
                for (int32 n = 0; n < kBlock; ++n) {
                    const double t = (block * kBlock + n) / rate;
                    a[static_cast<size_t>(n)] = static_cast<float>(0.5 * std::sin(2300.0 * t));
                    b[static_cast<size_t>(n)] = static_cast<float>(0.5 * std::sin(37.0 * t));
                }
                ASSERT_EQ(plugin.process({a.data(), a.data()}, {b.data(), b.data()},
                                         {left.data(), right.data()}, kBlock),
                          kResultOk);
                for (int32 n = 0; n < kBlock; ++n)
                    ASSERT_TRUE(std::isfinite(left[static_cast<size_t>(n)]) &&
                                std::isfinite(right[static_cast<size_t>(n)]))
                        << rate << " Hz, block " << block;
            }
            plugin.component->setActive(false);
        }
    }
}

} // namespace
} // namespace tav::test
