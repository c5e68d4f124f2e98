#include "PluginHost.h"

#include "pluginterfaces/vst/vstspeaker.h"

#include <gtest/gtest.h>

namespace tav::test {
namespace {

constexpr SpeakerArrangement kMono = SpeakerArr::kMono;
constexpr SpeakerArrangement kStereo = SpeakerArr::kStereo;
constexpr SpeakerArrangement kSurround = SpeakerArr::k51;

class Buses : public ::testing::Test {
protected:
    tresult arrange(SpeakerArrangement main, SpeakerArrangement side, SpeakerArrangement out) {
        SpeakerArrangement inputs[2] = {main, side};
        SpeakerArrangement outputs[1] = {out};
        return plugin.processor->setBusArrangements(inputs, 2, outputs, 1);
    }
    SpeakerArrangement current(BusDirection dir, int32 index) {
        SpeakerArrangement arrangement = 0;
        EXPECT_EQ(plugin.processor->getBusArrangement(dir, index, arrangement), kResultTrue);
        return arrangement;
    }
    PluginInstance plugin;
};

TEST_F(Buses, MainSidechainAndOutputAsDeclared) {
    ASSERT_TRUE(plugin.ok());
    ASSERT_EQ(plugin.component->getBusCount(kAudio, kInput), 2);
    ASSERT_EQ(plugin.component->getBusCount(kAudio, kOutput), 1);
    EXPECT_EQ(plugin.component->getBusCount(kEvent, kInput), 0);
    BusInfo info{};
    ASSERT_EQ(plugin.component->getBusInfo(kAudio, kInput, 0, info), kResultTrue);
    EXPECT_EQ(toAscii(info.name), "Main");
    EXPECT_EQ(info.busType, kMain);
    EXPECT_EQ(info.flags, static_cast<uint32>(BusInfo::kDefaultActive));
    EXPECT_EQ(info.channelCount, 2);
    ASSERT_EQ(plugin.component->getBusInfo(kAudio, kInput, 1, info), kResultTrue);
    EXPECT_EQ(toAscii(info.name), "Sidechain");
    EXPECT_EQ(info.busType, kAux);
    EXPECT_EQ(info.flags, 0u);
    ASSERT_EQ(plugin.component->getBusInfo(kAudio, kOutput, 0, info), kResultTrue);
    EXPECT_EQ(toAscii(info.name), "Output");
    EXPECT_EQ(info.busType, kMain);
    EXPECT_EQ(plugin.processor->getTailSamples(), 0u);
    FUnknownPtr<IProcessContextRequirements> requirements(plugin.component);
    ASSERT_TRUE(requirements);
    EXPECT_EQ(requirements->getProcessContextRequirements(), 0u);
}

TEST_F(Buses, AcceptsMonoOrStereoMainWithEqualOutputAndEitherSidechain) {
    ASSERT_TRUE(plugin.ok());
    for (SpeakerArrangement main : {kMono, kStereo}) {
        for (SpeakerArrangement side : {kMono, kStereo}) {
            EXPECT_EQ(arrange(main, side, main), kResultTrue);
            EXPECT_EQ(current(kInput, 0), main);
            EXPECT_EQ(current(kInput, 1), side);
            EXPECT_EQ(current(kOutput, 0), main);
        }
    }
}

TEST_F(Buses, RefusedLayoutsLeaveTheCurrentOnes) {
    ASSERT_TRUE(plugin.ok());
    ASSERT_EQ(arrange(kMono, kStereo, kMono), kResultTrue);
    EXPECT_EQ(arrange(kStereo, kStereo, kMono), kResultFalse);
    EXPECT_EQ(arrange(kMono, kStereo, kStereo), kResultFalse);
    EXPECT_EQ(arrange(kSurround, kStereo, kSurround), kResultFalse);
    EXPECT_EQ(arrange(kStereo, kSurround, kStereo), kResultFalse);
    EXPECT_EQ(arrange(kStereo, 0, kStereo), kResultFalse);
    SpeakerArrangement one[1] = {kStereo};
    EXPECT_EQ(plugin.processor->setBusArrangements(one, 1, one, 1), kResultFalse);
    EXPECT_EQ(current(kInput, 0), kMono);
    EXPECT_EQ(current(kInput, 1), kStereo);
    EXPECT_EQ(current(kOutput, 0), kMono);
}

TEST_F(Buses, Only32BitSamples) {
    ASSERT_TRUE(plugin.ok());
    EXPECT_EQ(plugin.processor->canProcessSampleSize(kSample32), kResultTrue);
    EXPECT_EQ(plugin.processor->canProcessSampleSize(kSample64), kResultFalse);
}

TEST_F(Buses, LatencyFollowsRateAndQualityBeforeActivation) {
    ASSERT_TRUE(plugin.ok());
    EXPECT_EQ(plugin.processor->getLatencySamples(), 2114u); // 44100 Hz before any setup
    const std::pair<double, uint32> standard[] = {
        {48000.0, 2120u}, {96000.0, 4240u}, {22050.0, 1057u}};
    for (const auto& [rate, latency] : standard) {
        ProcessSetup setup{kRealtime, kSample32, 512, rate};
        ASSERT_EQ(plugin.processor->setupProcessing(setup), kResultOk);
        EXPECT_EQ(plugin.processor->getLatencySamples(), latency) << rate;
    }
}

TEST_F(Buses, QualityQueueValueReportsTheComingLatencyAtOnce) {
    // The engine takes the new frame length at the next activation; the report runs ahead.
    ASSERT_TRUE(plugin.ok());
    plugin.activate(48000.0, 256, kStereo, kStereo, false);
    EXPECT_EQ(plugin.processor->getLatencySamples(), 2120u);
    ParameterChanges changes;
    changes.add(5, 0, 0.7);
    EXPECT_EQ(plugin.process({}, {}, {}, 0, &changes), kResultOk);
    EXPECT_EQ(plugin.processor->getLatencySamples(), 4168u);
    plugin.deactivate();
    EXPECT_EQ(plugin.processor->getLatencySamples(), 4168u);
    plugin.component->setActive(true);
    plugin.active = true;
    EXPECT_EQ(plugin.processor->getLatencySamples(), 4168u);
}

} // namespace
} // namespace tav::test
