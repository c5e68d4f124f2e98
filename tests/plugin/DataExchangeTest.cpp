#include "PluginHost.h"

#include "plugin/IAnalysisSource.h"
#include "plugin/sdk/DataExchangeInterfaces.h"
#include "plugin/sdk/DataExchangeMessages.h"

#include "pluginterfaces/vst/vstspeaker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace tav::test {
namespace {

namespace dx = tav::sdk::dataexchange;
using tav::AnalysisRecord;
using tav::plugin::IAnalysisSource;

constexpr int32 kBlock = 512;

class DataExchange : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plugin.ok());
        source = FUnknownPtr<IAnalysisSource>(plugin.controller);
        ASSERT_TRUE(source);
    }

    // Some blocks of a sine on A and quiet noise on B: several analysis frames.
    void play(int blocks) {
        std::vector<float> a(kBlock), b(kBlock), l(kBlock), r(kBlock);
        for (int i = 0; i < blocks; ++i) {
            for (int n = 0; n < kBlock; ++n) {
                const double t = (i * kBlock + n) / 48000.0;
                a[static_cast<size_t>(n)] = static_cast<float>(0.5 * std::sin(2 * M_PI * 440 * t));
                b[static_cast<size_t>(n)] = ((n * 7919) % 101 - 50) * 0.001f;
            }
            ASSERT_EQ(
                plugin.process({a.data(), a.data()}, {b.data()}, {l.data(), r.data()}, kBlock),
                kResultOk);
        }
    }

    // Sends a batch as the processor's message fallback does.
    void deliver(const std::vector<std::vector<unsigned char>>& blocks) {
        auto message = owned(new HostMessage());
        message->setMessageID(dx::kBlocksMessage);
        message->getAttributes()->setInt(dx::kContextAttr, 0);
        message->getAttributes()->setInt(dx::kNumBlocksAttr, static_cast<int64>(blocks.size()));
        char name[16];
        for (uint32 i = 0; i < blocks.size(); ++i) {
            dx::blockAttributeName(i, name);
            message->getAttributes()->setBinary(name, blocks[i].data(),
                                                static_cast<uint32>(blocks[i].size()));
        }
        FUnknownPtr<IConnectionPoint> controller(plugin.controller);
        ASSERT_EQ(controller->notify(message), kResultOk);
    }

    static std::vector<unsigned char> record(float levelA, uint32 size = sizeof(AnalysisRecord)) {
        AnalysisRecord r{};
        r.meters.levelA = levelA;
        r.sampleRate = 44100.0;
        std::vector<unsigned char> bytes(size, 0);
        std::memcpy(bytes.data(), &r, std::min<size_t>(size, sizeof(r)));
        return bytes;
    }

    PluginInstance plugin;
    IPtr<IAnalysisSource> source;
};

TEST_F(DataExchange, RecordsReachTheControllerThroughMessagesAndAreTakenOnce) {
    plugin.activate(48000.0, kBlock, SpeakerArr::kStereo, SpeakerArr::kMono, true);
    EXPECT_EQ(plugin.toController->delivered(dx::kQueueOpenedMessage), 1);
    AnalysisRecord taken{};
    EXPECT_FALSE(source->takeLatestAnalysis(taken)); // nothing played yet

    play(20); // 10240 samples: several 512-sample hops
    // Nothing travels until the controller asks on its own thread.
    EXPECT_EQ(plugin.toController->delivered(dx::kBlocksMessage), 0);
    ASSERT_TRUE(source->takeLatestAnalysis(taken));
    EXPECT_EQ(plugin.toProcessor->delivered(dx::kPullMessage), 2); // one per take
    EXPECT_EQ(plugin.toController->delivered(dx::kBlocksMessage), 1);
    EXPECT_EQ(taken.sampleRate, 48000.0);
    EXPECT_EQ(taken.latencySamples, 2120);
    EXPECT_EQ(taken.sidechainActive, 1u);
    EXPECT_GT(taken.meters.levelA, 0.5f);
    EXPECT_GT(taken.meters.weightedEnergyA, 1e-12f);

    AnalysisRecord again{};
    again.sampleRate = -1.0;
    EXPECT_FALSE(source->takeLatestAnalysis(again));
    EXPECT_EQ(again.sampleRate, -1.0); // untouched

    // More audio: a newer record, once.
    play(4);
    EXPECT_TRUE(source->takeLatestAnalysis(again));
    EXPECT_FALSE(source->takeLatestAnalysis(again));

    plugin.deactivate();
    EXPECT_EQ(plugin.toController->delivered(dx::kQueueClosedMessage), 1);
}

TEST_F(DataExchange, AFullQueueDropsRecordsUntilTheControllerAsks) {
    plugin.activate(48000.0, kBlock, SpeakerArr::kStereo, SpeakerArr::kStereo, false);
    play(200); // far more frames than the eight blocks hold
    AnalysisRecord taken{};
    ASSERT_TRUE(source->takeLatestAnalysis(taken));
    EXPECT_EQ(taken.sidechainActive, 0u);
    play(4);
    ASSERT_TRUE(source->takeLatestAnalysis(taken)); // blocks were freed by the first pull
}

TEST_F(DataExchange, OnlyTheLastBlockOfABatchCounts) {
    deliver({record(0.1f), record(0.2f), record(0.3f)});
    AnalysisRecord taken{};
    ASSERT_TRUE(source->takeLatestAnalysis(taken));
    EXPECT_EQ(taken.meters.levelA, 0.3f);
    EXPECT_EQ(taken.sampleRate, 44100.0);
}

TEST_F(DataExchange, ShortOrMissingBlocksAreDropped) {
    deliver({record(0.4f)});
    deliver({record(0.9f, 1087)});
    deliver({record(0.9f, 100)});
    AnalysisRecord taken{};
    ASSERT_TRUE(source->takeLatestAnalysis(taken));
    EXPECT_EQ(taken.meters.levelA, 0.4f);

    // A batch whose last block is short is dropped as a whole.
    deliver({record(0.5f), record(0.6f, 8)});
    EXPECT_FALSE(source->takeLatestAnalysis(taken));
    deliver({});
    EXPECT_FALSE(source->takeLatestAnalysis(taken));
}

TEST_F(DataExchange, ControllerAsksForBackgroundDelivery) {
    FUnknownPtr<Vst::IDataExchangeReceiver> receiver(plugin.controller);
    ASSERT_TRUE(receiver);
    TBool background = false;
    receiver->queueOpened(0, sizeof(AnalysisRecord), background);
    EXPECT_TRUE(background);

    auto bytes = record(0.7f);
    Vst::DataExchangeBlock blocks[2] = {{nullptr, 0, 0}, {bytes.data(), 1088, 1}};
    receiver->onDataExchangeBlocksReceived(0, 2, blocks, true);
    receiver->onDataExchangeBlocksReceived(0, 0, blocks, true);
    receiver->onDataExchangeBlocksReceived(0, 1, nullptr, true);
    AnalysisRecord taken{};
    ASSERT_TRUE(source->takeLatestAnalysis(taken));
    EXPECT_EQ(taken.meters.levelA, 0.7f);
}

} // namespace
} // namespace tav::test

#include "pluginterfaces/vst/ivstmessage.h"

#include <atomic>
#include <thread>

namespace tav::test {
namespace {

// The UI thread restores state, switches Quality and takes records while the audio thread
// processes; under the thread sanitizer this must report nothing.
TEST(Threads, UiCallsWhileTheAudioThreadProcesses) {
    PluginInstance plugin;
    ASSERT_TRUE(plugin.ok());
    FUnknownPtr<tav::plugin::IAnalysisSource> source(plugin.controller);
    ASSERT_TRUE(source);
    plugin.activate(48000.0, 256, SpeakerArr::kStereo, SpeakerArr::kStereo, true);

    std::atomic<bool> running{true};
    std::thread audio([&] {
        std::vector<float> a(256, 0.25f), l(256), r(256);
        ParameterChanges changes;
        changes.add(0, 0, 0.6);
        changes.add(5, 0, 1.0);
        std::vector<const float*> in{a.data(), a.data()};
        std::vector<const float*> side{a.data()};
        std::vector<float*> out{l.data(), r.data()};
        for (int i = 0; i < 400; ++i)
            plugin.process(in, side, out, 256, &changes);
        running = false;
    });

    std::vector<unsigned char> state;
    appendInt32(state, 2);
    for (double v : {0.5, 0.0, 1.0, 0.5, 0.0, 0.0})
        appendDouble(state, v);
    FUnknownPtr<IConnectionPoint> processorPoint(plugin.component);
    int takes = 0;
    while (running) {
        plugin.component->setState(streamOf(state));
        plugin.processorState();
        auto message = owned(new HostMessage());
        message->setMessageID("TavimoQuality");
        message->getAttributes()->setInt("quality", takes % 2);
        processorPoint->notify(message);
        AnalysisRecord record{};
        takes += source->takeLatestAnalysis(record) ? 1 : 0;
        plugin.processor->getLatencySamples();
    }
    audio.join();
    AnalysisRecord record{};
    takes += source->takeLatestAnalysis(record) ? 1 : 0;
    EXPECT_GT(takes, 0);
}

} // namespace
} // namespace tav::test
