#include "PluginHost.h"

#include "model/Parameters.h"

#include "pluginterfaces/vst/vstspeaker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

// What differs from host to host: when the latency is read after a Quality switch, and what
// the first block after an activation sounds like.
namespace tav::test {
namespace {

using Signal = std::vector<float>;

// Renders A (and B) through the active plug-in channel by channel in blocks; the first block
// carries `first`'s parameter changes, as a host's automation does at the start of a bounce.
std::vector<Signal> render(PluginInstance& plugin, const std::vector<Signal>& a,
                           const std::vector<Signal>& b, int block, ParameterChanges* first) {
    const std::size_t length = a[0].size();
    std::vector<Signal> out(a.size(), Signal(length));
    for (std::size_t start = 0; start < length; start += static_cast<std::size_t>(block)) {
        const auto count = static_cast<int32>(std::min<std::size_t>(block, length - start));
        std::vector<const float*> ins, sides;
        std::vector<float*> outs;
        for (std::size_t c = 0; c < a.size(); ++c) {
            ins.push_back(a[c].data() + start);
            outs.push_back(out[c].data() + start);
        }
        for (const Signal& side : b)
            sides.push_back(side.data() + start);
        EXPECT_EQ(plugin.process(ins, sides, outs, count, start == 0 ? first : nullptr), kResultOk);
    }
    return out;
}

Signal noise(std::size_t length, unsigned seed, float amplitude) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(-amplitude, amplitude);
    Signal x(length);
    for (float& v : x)
        v = unit(random);
    return x;
}

// Residual of out against ref delayed by delay over the whole signal, dB relative to ref.
double nullDb(const Signal& out, const Signal& ref, int delay) {
    double error = 0.0, energy = 0.0;
    for (std::size_t n = 0; n < out.size(); ++n) {
        const double r = n >= static_cast<std::size_t>(delay) ? ref[n - delay] : 0.0;
        error += (out[n] - r) * (out[n] - r);
        energy += r * r;
    }
    return 10.0 * std::log10(error / energy + 1e-300);
}

// Where a lone impulse comes out.
int impulseDelay(PluginInstance& plugin, int length) {
    Signal impulse(static_cast<std::size_t>(length), 0.0f);
    impulse[0] = 0.5f;
    const Signal out = render(plugin, {impulse}, {}, 512, nullptr)[0];
    return static_cast<int>(
        std::max_element(out.begin(), out.end(),
                         [](float x, float y) { return std::fabs(x) < std::fabs(y); }) -
        out.begin());
}

TEST(HostBehaviour, LatencyFollowsQualityForHostsThatReadItAtRestartAndForThoseThatReactivate) {
    for (bool readsAtRestart : {true, false}) {
        PluginInstance plugin;
        ASSERT_TRUE(plugin.ok());
        plugin.activate(48000.0, 512, SpeakerArr::kMono, SpeakerArr::kMono, false);
        uint32 seen = 0;
        plugin.handler.onRestart = [&](int32 flags) {
            if (readsAtRestart && (flags & kLatencyChanged) != 0)
                seen = plugin.processor->getLatencySamples();
        };
        for (auto [quality, expected] : {std::pair{1.0, 4168u}, std::pair{0.0, 2120u}}) {
            plugin.controller->setParamNormalized(model::kQualityId, quality);
            plugin.deactivate();
            if (!readsAtRestart)
                seen = plugin.processor->getLatencySamples();
            plugin.component->setActive(true);
            plugin.active = true;
            EXPECT_EQ(seen, expected) << (readsAtRestart ? "at restart" : "re-activating");
            EXPECT_EQ(impulseDelay(plugin, 9000), static_cast<int>(expected));
        }
    }
}

TEST(HostBehaviour, MorphEndsNullFromTheFirstSampleAfterActivation) {
    for (double rate : {8000.0, 22050.0, 48000.0, 96000.0}) {
        const int length = static_cast<int>(rate * 0.4);
        const Signal a = noise(static_cast<std::size_t>(length), 1, 0.3f);
        const Signal b = noise(static_cast<std::size_t>(length), 2, 0.3f);
        for (int block : {32, 512, 4096}) {
            for (double morph : {0.0, 1.0}) {
                PluginInstance plugin;
                ASSERT_TRUE(plugin.ok());
                plugin.activate(rate, block, SpeakerArr::kMono, SpeakerArr::kMono, true);
                const int latency = static_cast<int>(plugin.processor->getLatencySamples());
                ParameterChanges start;
                start.add(model::kMorphId, 0, morph);
                start.add(model::kMixId, 0, 1.0);
                const Signal out = render(plugin, {a}, {b}, block, &start)[0];
                EXPECT_LT(nullDb(out, morph == 0.0 ? a : b, latency), -130.0)
                    << rate << " Hz, block " << block << ", Morph " << morph;
            }
        }
    }
}

TEST(HostBehaviour, RendersAfterReactivationAreBitIdenticalToAFreshInstance) {
    const double rate = 48000.0;
    const auto length = static_cast<std::size_t>(0.3 * rate);
    for (SpeakerArrangement layout : {SpeakerArr::kMono, SpeakerArr::kStereo}) {
        const std::size_t channels = layout == SpeakerArr::kMono ? 1 : 2;
        std::vector<Signal> a, b;
        for (std::size_t c = 0; c < channels; ++c) {
            a.push_back(noise(length, 3 + static_cast<unsigned>(c), 0.3f));
            b.push_back(noise(length, 5 + static_cast<unsigned>(c), 0.2f));
        }
        for (int algorithm = 0; algorithm < 4; ++algorithm) {
            for (double quality : {0.0, 1.0}) {
                ParameterChanges start;
                start.add(model::kMorphId, 0, 0.5);
                start.add(model::kAlgorithmId, 0, algorithm / 3.0);
                start.add(model::kQualityId, 0, quality);
                const auto renderFresh = [&] {
                    PluginInstance plugin;
                    plugin.controller->setParamNormalized(model::kQualityId, quality);
                    plugin.activate(rate, 512, layout, layout, true);
                    return render(plugin, a, b, 512, &start);
                };
                PluginInstance plugin;
                ASSERT_TRUE(plugin.ok());
                plugin.controller->setParamNormalized(model::kQualityId, quality);
                plugin.activate(rate, 512, layout, layout, true);
                const auto first = render(plugin, a, b, 512, &start);
                plugin.deactivate();
                plugin.component->setActive(true);
                plugin.active = true;
                const auto second = render(plugin, a, b, 512, &start);
                EXPECT_TRUE(first == second) << "algorithm " << algorithm << ", quality " << quality
                                             << ", " << channels << " channels";
                EXPECT_TRUE(first == renderFresh()) << "algorithm " << algorithm;
            }
        }
    }
}

} // namespace
} // namespace tav::test
