#include "PluginHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tav::test {
namespace {

constexpr double kNonFinite[] = {std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity()};

std::vector<unsigned char> stateWith(const std::vector<double>& values) {
    std::vector<unsigned char> bytes;
    appendInt32(bytes, 2);
    for (double value : values)
        appendDouble(bytes, value);
    return bytes;
}

std::vector<double> controllerValues(PluginInstance& plugin) {
    std::vector<double> values;
    for (ParamID id = 0; id < 6; ++id)
        values.push_back(plugin.controller->getParamNormalized(id));
    return values;
}

TEST(NonFiniteValues, StreamHoldingOneIsRefusedWholeByProcessorAndController) {
    PluginInstance plugin;
    ASSERT_TRUE(plugin.ok());
    const std::vector<double> good = {0.1, 0.2, 0.3, 0.4, 0.0, 0.0};
    ASSERT_EQ(plugin.component->setState(streamOf(stateWith(good))), kResultOk);
    ASSERT_EQ(plugin.controller->setComponentState(streamOf(stateWith(good))), kResultOk);
    const auto savedProcessor = plugin.processorState();
    const auto savedController = controllerValues(plugin);
    for (size_t slot = 0; slot < good.size(); ++slot) {
        for (double bad : kNonFinite) {
            auto values = std::vector<double>{0.9, 0.9, 0.9, 0.9, 0.9, 0.9};
            values[slot] = bad;
            EXPECT_EQ(plugin.component->setState(streamOf(stateWith(values))), kResultFalse)
                << "slot " << slot << " value " << bad;
            EXPECT_EQ(plugin.controller->setComponentState(streamOf(stateWith(values))),
                      kResultFalse)
                << "slot " << slot << " value " << bad;
        }
    }
    EXPECT_EQ(plugin.processorState(), savedProcessor);
    EXPECT_EQ(controllerValues(plugin), savedController);
    EXPECT_EQ(plugin.toProcessor->delivered("TavimoQuality"), 0);
}

TEST(NonFiniteValues, HostCallsAndQueuesKeepTheParameterValue) {
    PluginInstance plugin;
    ASSERT_TRUE(plugin.ok());
    plugin.activate(48000.0, 64, SpeakerArr::kMono, SpeakerArr::kMono, true);
    for (double bad : kNonFinite) {
        for (ParamID id = 0; id < 6; ++id) {
            const double before = plugin.controller->getParamNormalized(id);
            plugin.controller->setParamNormalized(id, bad);
            EXPECT_EQ(plugin.controller->getParamNormalized(id), before) << "id " << id;
        }
        const auto before = plugin.processorState();
        ParameterChanges changes;
        for (ParamID id = 0; id < 6; ++id)
            changes.add(id, 0, bad);
        std::vector<float> a(64, 0.0f), out(64, 0.0f);
        plugin.process({a.data()}, {a.data()}, {out.data()}, 64, &changes);
        EXPECT_EQ(plugin.processorState(), before);
    }
    // Finite values out of range are stored as given and handed out within 0..1.
    plugin.controller->setParamNormalized(0, 1.7);
    EXPECT_EQ(plugin.controller->getParamNormalized(0), 1.0);
    plugin.controller->setParamNormalized(2, -0.5);
    EXPECT_EQ(plugin.controller->getParamNormalized(2), 0.0);
}

} // namespace
} // namespace tav::test
