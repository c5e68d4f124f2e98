#include "PluginHost.h"

#include "support/AllocationCounter.h"

#include "pluginterfaces/vst/vstspeaker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

namespace tav::test {
namespace {

constexpr double kRate = 48000.0;
constexpr int32 kBlock = 256;
constexpr int kLength = 48000; // one second

// A broadband test signal: a few partials over light noise, well below the limiter.
std::vector<float> signal(unsigned seed, double f0) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<float> x(kLength);
    for (int n = 0; n < kLength; ++n) {
        double v = 0.0;
        for (int k = 1; k <= 4; ++k)
            v += 0.08 / k * std::sin(2.0 * M_PI * f0 * k * n / kRate + k);
        x[static_cast<size_t>(n)] = static_cast<float>(v) + noise(random);
    }
    return x;
}

// Runs mono A (and B, if given) through the plug-in block by block.
std::vector<float> render(PluginInstance& plugin, const std::vector<float>& a,
                          const std::vector<float>* b) {
    std::vector<float> out(a.size(), 0.0f);
    for (size_t start = 0; start < a.size(); start += kBlock) {
        const int32 count = static_cast<int32>(std::min<size_t>(kBlock, a.size() - start));
        std::vector<const float*> in{a.data() + start};
        std::vector<const float*> side;
        if (b != nullptr)
            side.push_back(b->data() + start);
        std::vector<float*> o{out.data() + start};
        EXPECT_EQ(plugin.process(in, side, o, count), kResultOk);
    }
    return out;
}

// Residual of out against ref delayed by `delay`, in dB relative to ref, after settling.
double nullDb(const std::vector<float>& out, const std::vector<float>& ref, int delay) {
    double error = 0.0, energy = 0.0;
    for (size_t n = static_cast<size_t>(2 * delay); n < out.size(); ++n) {
        const double r = ref[n - static_cast<size_t>(delay)];
        error += (out[n] - r) * (out[n] - r);
        energy += r * r;
    }
    return 10.0 * std::log10(error / energy + 1e-300);
}

double valueInState(const std::vector<unsigned char>& state, int id) {
    double value = 0.0;
    std::memcpy(&value, state.data() + 4 + 8 * id, sizeof(value));
    return value;
}

class Processing : public ::testing::Test {
protected:
    PluginInstance plugin;
    std::vector<float> a = signal(1, 220.0);
    std::vector<float> b = signal(2, 330.0);
};

TEST_F(Processing, WithoutSidechainMorphIsZeroAndOutputIsADelayed) {
    ASSERT_TRUE(plugin.ok());
    ParameterChanges morphOne;
    morphOne.add(0, 0, 1.0);
    plugin.activate(kRate, kBlock, SpeakerArr::kMono, SpeakerArr::kMono, false);
    const int latency = static_cast<int>(plugin.processor->getLatencySamples());
    EXPECT_EQ(latency, 2120);
    std::vector<float> scratch(kBlock);
    plugin.process({a.data()}, {}, {scratch.data()}, 0, &morphOne);
    // B is delivered but the bus is inactive: it must not be heard.
    const auto out = render(plugin, a, &b);
    EXPECT_LT(nullDb(out, a, latency), -100.0);
}

TEST_F(Processing, WithSidechainAndMorphOneOutputIsBDelayed) {
    ASSERT_TRUE(plugin.ok());
    plugin.activate(kRate, kBlock, SpeakerArr::kMono, SpeakerArr::kMono, true);
    ParameterChanges morphOne;
    morphOne.add(0, 0, 1.0);
    plugin.process({}, {}, {}, 0, &morphOne);
    const int latency = static_cast<int>(plugin.processor->getLatencySamples());
    const auto out = render(plugin, a, &b);
    EXPECT_LT(nullDb(out, b, latency), -100.0);
}

TEST_F(Processing, MonoSidechainFeedsBothChannels) {
    ASSERT_TRUE(plugin.ok());
    plugin.activate(kRate, kBlock, SpeakerArr::kStereo, SpeakerArr::kMono, true);
    ParameterChanges morphOne;
    morphOne.add(0, 0, 1.0);
    plugin.process({}, {}, {}, 0, &morphOne);
    const int latency = static_cast<int>(plugin.processor->getLatencySamples());
    std::vector<float> left(a.size()), right(a.size());
    for (size_t start = 0; start < a.size(); start += kBlock) {
        const int32 count = static_cast<int32>(std::min<size_t>(kBlock, a.size() - start));
        ASSERT_EQ(plugin.process({a.data() + start, a.data() + start}, {b.data() + start},
                                 {left.data() + start, right.data() + start}, count),
                  kResultOk);
    }
    EXPECT_LT(nullDb(left, b, latency), -100.0);
    EXPECT_LT(nullDb(right, b, latency), -100.0);
}

TEST_F(Processing, MonoTrackHearsTheMeanOfAStereoSidechain) {
    ASSERT_TRUE(plugin.ok());
    plugin.activate(kRate, kBlock, SpeakerArr::kMono, SpeakerArr::kStereo, true);
    ParameterChanges morphOne;
    morphOne.add(0, 0, 1.0);
    plugin.process({}, {}, {}, 0, &morphOne);
    const int latency = static_cast<int>(plugin.processor->getLatencySamples());
    // Whatever is panned right in B (here a different tone) must reach the mono output.
    const std::vector<float> right = signal(3, 510.0);
    std::vector<float> mean(a.size()), out(a.size());
    for (size_t n = 0; n < a.size(); ++n)
        mean[n] = 0.5f * (b[n] + right[n]);
    for (size_t start = 0; start < a.size(); start += kBlock) {
        const int32 count = static_cast<int32>(std::min<size_t>(kBlock, a.size() - start));
        ASSERT_EQ(plugin.process({a.data() + start}, {b.data() + start, right.data() + start},
                                 {out.data() + start}, count),
                  kResultOk);
    }
    EXPECT_LT(nullDb(out, mean, latency), -100.0);
}

TEST_F(Processing, LastPointOfAQueueWinsAndEmptyBlocksStillTakeChanges) {
    ASSERT_TRUE(plugin.ok());
    plugin.activate(kRate, kBlock, SpeakerArr::kStereo, SpeakerArr::kStereo, false);
    ParameterChanges changes;
    changes.add(0, 0, 0.1);
    changes.add(0, 100, 0.9);
    changes.add(0, 200, 0.3);
    changes.add(1, 10, 2.0 / 3.0);
    changes.add(99, 0, 0.5); // unknown id: ignored
    EXPECT_EQ(plugin.process({}, {}, {}, 0, &changes), kResultOk);
    const auto state = plugin.processorState();
    EXPECT_EQ(valueInState(state, 0), 0.3);
    EXPECT_EQ(valueInState(state, 1), 2.0 / 3.0);
    ASSERT_EQ(state.size(), 52u);

    // Also without activation, buses or audio.
    plugin.deactivate();
    ParameterChanges later;
    later.add(2, 0, 0.25);
    EXPECT_EQ(plugin.process({}, {}, {}, 0, &later), kResultOk);
    EXPECT_EQ(valueInState(plugin.processorState(), 2), 0.25);
}

// Blocks that cannot be processed otherwise are answered with silence (OutputSilenceTest).
TEST_F(Processing, SixtyFourBitBlocksAreRefused) {
    ASSERT_TRUE(plugin.ok());
    plugin.activate(kRate, kBlock, SpeakerArr::kStereo, SpeakerArr::kStereo, false);
    AudioBusBuffers inputs[2]{};
    AudioBusBuffers outputs[1]{};
    double* channels64[2] = {nullptr, nullptr};
    inputs[0].numChannels = 2;
    inputs[0].channelBuffers64 = channels64;
    outputs[0].numChannels = 2;
    outputs[0].channelBuffers64 = channels64;
    ProcessData data;
    data.symbolicSampleSize = kSample64;
    data.numSamples = kBlock;
    data.numInputs = 2;
    data.numOutputs = 1;
    data.inputs = inputs;
    data.outputs = outputs;
    EXPECT_EQ(plugin.processor->process(data), kResultFalse);
}

TEST_F(Processing, ProcessDoesNotAllocateAndOutputStaysFinite) {
    ASSERT_TRUE(plugin.ok());
    plugin.activate(kRate, kBlock, SpeakerArr::kStereo, SpeakerArr::kStereo, true);
    std::vector<float> wild(kBlock);
    for (int n = 0; n < kBlock; ++n)
        wild[static_cast<size_t>(n)] = n % 3 == 0 ? NAN : (n % 3 == 1 ? INFINITY : 1e30f);
    std::vector<float> l(kBlock), r(kBlock);
    ParameterChanges changes;
    changes.add(0, 0, 0.7);
    changes.add(1, 0, 1.0);
    std::vector<const float*> in{wild.data(), a.data()};
    std::vector<const float*> side{b.data(), wild.data()};
    std::vector<float*> out{l.data(), r.data()};
    // Warm up so that frames and analysis records happen inside the counted region too.
    for (int i = 0; i < 4; ++i)
        plugin.process(in, side, out, kBlock, &changes);
    AllocationCounter counter;
    for (int i = 0; i < 40; ++i)
        plugin.process(in, side, out, kBlock, &changes);
    EXPECT_EQ(counter.count(), 0u);
    for (int n = 0; n < kBlock; ++n) {
        EXPECT_TRUE(std::isfinite(l[static_cast<size_t>(n)]));
        EXPECT_TRUE(std::isfinite(r[static_cast<size_t>(n)]));
    }
}

} // namespace
} // namespace tav::test

namespace tav::test {
namespace {

// The allocation check above is only meaningful if the module's allocations are counted.
TEST(AllocationCounting, SeesAllocationsInsideTheModule) {
    Module module;
    auto factory = owned(module.getFactory());
    ASSERT_TRUE(factory);
    PClassInfo info;
    ASSERT_EQ(factory->getClassInfo(0, &info), kResultOk);
    void* object = nullptr;
    AllocationCounter counter;
    ASSERT_EQ(factory->createInstance(info.cid, IAudioProcessor::iid, &object), kResultOk);
    EXPECT_GT(counter.count(), 0u);
    static_cast<IAudioProcessor*>(object)->release();
}

} // namespace
} // namespace tav::test
