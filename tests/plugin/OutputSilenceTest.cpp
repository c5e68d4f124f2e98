#include "PluginHost.h"

#include "pluginterfaces/vst/vstspeaker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace tav::test {
namespace {

constexpr int32 kBlock = 256;
constexpr float kStale = 0.5f; // what a host's output buffers held before the call

// One stereo block with separate output buffers, so that stale output would be heard.
struct Block {
    Block() {
        for (auto* channel : {&a0, &a1, &out0, &out1})
            channel->assign(kBlock, 0.0f);
        std::fill(out0.begin(), out0.end(), kStale);
        std::fill(out1.begin(), out1.end(), kStale);
        inPointers[0] = a0.data();
        inPointers[1] = a1.data();
        outPointers[0] = out0.data();
        outPointers[1] = out1.data();
        inputs[0].numChannels = 2;
        inputs[0].channelBuffers32 = inPointers;
        inputs[1].numChannels = 2;
        inputs[1].channelBuffers32 = inPointers;
        outputs[0].numChannels = 2;
        outputs[0].channelBuffers32 = outPointers;
        outputs[0].silenceFlags = 0;
        data.processMode = kRealtime;
        data.symbolicSampleSize = kSample32;
        data.numSamples = kBlock;
        data.numInputs = 2;
        data.numOutputs = 1;
        data.inputs = inputs;
        data.outputs = outputs;
    }
    bool outputIsZero() const {
        return std::all_of(out0.begin(), out0.end(), [](float s) { return s == 0.0f; }) &&
               std::all_of(out1.begin(), out1.end(), [](float s) { return s == 0.0f; });
    }

    std::vector<float> a0, a1, out0, out1;
    float* inPointers[2];
    float* outPointers[2];
    AudioBusBuffers inputs[2]{};
    AudioBusBuffers outputs[1]{};
    ProcessData data;
};

void activateStereo(PluginInstance& plugin) {
    plugin.activate(48000.0, kBlock, SpeakerArr::kStereo, SpeakerArr::kStereo, true);
}

TEST(OutputSilence, BlocksThatCannotBeProcessedLeaveZeroedAndFlaggedOutputs) {
    {
        PluginInstance plugin; // never prepared
        ASSERT_TRUE(plugin.ok());
        Block block;
        EXPECT_EQ(plugin.processor->process(block.data), kResultOk);
        EXPECT_TRUE(block.outputIsZero());
        EXPECT_EQ(block.outputs[0].silenceFlags, 3u);
    }
    PluginInstance plugin;
    ASSERT_TRUE(plugin.ok());
    activateStereo(plugin);
    {
        Block block; // main bus narrower than prepared
        block.inputs[0].numChannels = 1;
        EXPECT_EQ(plugin.processor->process(block.data), kResultOk);
        EXPECT_TRUE(block.outputIsZero());
        EXPECT_EQ(block.outputs[0].silenceFlags, 3u);
    }
    {
        Block block; // a missing input channel
        block.inPointers[1] = nullptr;
        EXPECT_EQ(plugin.processor->process(block.data), kResultOk);
        EXPECT_TRUE(block.outputIsZero());
    }
    {
        Block block; // no input buses at all
        block.data.numInputs = 0;
        block.data.inputs = nullptr;
        EXPECT_EQ(plugin.processor->process(block.data), kResultOk);
        EXPECT_TRUE(block.outputIsZero());
        EXPECT_EQ(block.outputs[0].silenceFlags, 3u);
    }
}

TEST(OutputSilence, FlagsMarkExactlyTheChannelsWrittenAsZero) {
    PluginInstance plugin;
    ASSERT_TRUE(plugin.ok());
    activateStereo(plugin);
    // Left carries a tone, right stays silent; the first blocks are silent on both sides
    // (the latency), later only the right.
    const int blocks = static_cast<int>(plugin.processor->getLatencySamples()) / kBlock + 8;
    bool sawSound = false, sawSilence = false;
    for (int b = 0; b < blocks; ++b) {
        Block block;
        for (int32 n = 0; n < kBlock; ++n)
            block.a0[static_cast<size_t>(n)] =
                0.25f * static_cast<float>(std::sin(0.05 * (b * kBlock + n)));
        ASSERT_EQ(plugin.processor->process(block.data), kResultOk);
        for (int c = 0; c < 2; ++c) {
            const auto& out = c == 0 ? block.out0 : block.out1;
            const bool zero =
                std::all_of(out.begin(), out.end(), [](float s) { return s == 0.0f; });
            const bool flagged = (block.outputs[0].silenceFlags >> c & 1u) != 0;
            EXPECT_EQ(flagged, zero) << "block " << b << " channel " << c;
            (zero ? sawSilence : sawSound) = true;
        }
    }
    EXPECT_TRUE(sawSound && sawSilence);
}

} // namespace
} // namespace tav::test
