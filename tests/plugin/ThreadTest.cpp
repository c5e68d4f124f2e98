// The audio thread processes while the UI thread does everything a host and an editor do at
// the same time. Run under ThreadSanitizer (the tsan preset), a data race fails the test run;
// in every build, the output must stay finite throughout.
#include "PluginHost.h"

#include "plugin/IAnalysisSource.h"

#include "pluginterfaces/vst/vstspeaker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace tav::test {
namespace {

constexpr int32 kBlock = 256;
constexpr int kBlocks = 600;

std::vector<unsigned char> stateWith(double value) {
    std::vector<unsigned char> bytes;
    appendInt32(bytes, 2);
    for (int i = 0; i < 5; ++i)
        appendDouble(bytes, value);
    appendDouble(bytes, 0.0);
    return bytes;
}

TEST(Threads, UiCallsWhileTheAudioThreadProcesses) {
    PluginInstance plugin;
    ASSERT_TRUE(plugin.ok());
    plugin.activate(48000.0, kBlock, SpeakerArr::kStereo, SpeakerArr::kStereo, true);
    FUnknownPtr<plugin::IAnalysisSource> source(plugin.controller);
    ASSERT_TRUE(source);

    std::atomic<bool> finished{false};
    std::atomic<bool> allFinite{true};
    std::thread audio([&] {
        std::vector<float> a(kBlock), b(kBlock), l(kBlock), r(kBlock);
        for (int block = 0; block < kBlocks; ++block) {
            for (int32 n = 0; n < kBlock; ++n) {
                const double t = (block * kBlock + n) / 48000.0;
                a[static_cast<size_t>(n)] = static_cast<float>(0.4 * std::sin(2 * M_PI * 330 * t));
                b[static_cast<size_t>(n)] = static_cast<float>(0.4 * std::sin(2 * M_PI * 97 * t));
            }
            ParameterChanges changes;
            changes.add(static_cast<ParamID>(block % 5), 0, (block % 17) / 16.0);
            plugin.process({a.data(), a.data()}, {b.data(), b.data()}, {l.data(), r.data()}, kBlock,
                           &changes);
            for (int32 n = 0; n < kBlock; ++n)
                if (!std::isfinite(l[static_cast<size_t>(n)]) ||
                    !std::isfinite(r[static_cast<size_t>(n)]))
                    allFinite = false;
        }
        finished = true;
    });

    AnalysisRecord record{};
    int records = 0;
    for (int round = 0; !finished; ++round) {
        const double value = (round % 11) / 10.0;
        plugin.controller->setParamNormalized(static_cast<ParamID>(round % 5), value);
        plugin.controller->setParamNormalized(5, round % 2); // a Quality message each round
        plugin.component->setState(streamOf(stateWith(value)));
        plugin.controller->setComponentState(streamOf(stateWith(1.0 - value)));
        plugin.processorState();
        MemoryStream controllerState;
        plugin.controller->getState(&controllerState);
        plugin.processor->getLatencySamples();
        records += source->takeLatestAnalysis(record) ? 1 : 0;
    }
    audio.join();
    records += source->takeLatestAnalysis(record) ? 1 : 0;
    EXPECT_TRUE(allFinite);
    EXPECT_GT(records, 0);
}

} // namespace
} // namespace tav::test
