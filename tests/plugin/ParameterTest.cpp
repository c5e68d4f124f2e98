#include "PluginHost.h"

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstunits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tav::test {
namespace {

struct Expected {
    const char* title;
    const char* units;
    int32 stepCount;
    int32 flags;
    double defaultNormalized;
};

constexpr Expected kTable[] = {
    {"Morph", "", 0, ParameterInfo::kCanAutomate, 0.5},
    {"Algorithm", "", 3, ParameterInfo::kCanAutomate | ParameterInfo::kIsList, 0.0},
    {"Mix", "%", 0, ParameterInfo::kCanAutomate, 1.0},
    {"Output", "dB", 0, ParameterInfo::kCanAutomate, 2.0 / 3.0},
    {"Bypass", "", 1, ParameterInfo::kCanAutomate | ParameterInfo::kIsBypass, 0.0},
    {"Quality", "", 1, ParameterInfo::kIsList, 0.0},
};

class Parameters : public ::testing::Test {
protected:
    std::string display(ParamID id, double value) {
        String128 text{};
        EXPECT_EQ(plugin.controller->getParamStringByValue(id, value, text), kResultOk);
        return toAscii(text);
    }
    PluginInstance plugin;
};

TEST_F(Parameters, SixInTheTableOrderWithTheirInfo) {
    ASSERT_TRUE(plugin.ok());
    ASSERT_EQ(plugin.controller->getParameterCount(), 6);
    for (int32 i = 0; i < 6; ++i) {
        ParameterInfo info{};
        ASSERT_EQ(plugin.controller->getParameterInfo(i, info), kResultOk);
        const Expected& expected = kTable[i];
        EXPECT_EQ(info.id, static_cast<ParamID>(i));
        EXPECT_EQ(toAscii(info.title), expected.title);
        EXPECT_EQ(toAscii(info.shortTitle), "");
        EXPECT_EQ(toAscii(info.units), expected.units);
        EXPECT_EQ(info.stepCount, expected.stepCount) << expected.title;
        EXPECT_EQ(info.flags, expected.flags) << expected.title;
        EXPECT_DOUBLE_EQ(info.defaultNormalizedValue, expected.defaultNormalized);
        EXPECT_EQ(info.unitId, kRootUnitId);
        EXPECT_DOUBLE_EQ(plugin.controller->getParamNormalized(i), expected.defaultNormalized);
    }
    EXPECT_EQ(kTable[5].flags & ParameterInfo::kCanAutomate, 0);
}

TEST_F(Parameters, DisplayStrings) {
    ASSERT_TRUE(plugin.ok());
    EXPECT_EQ(display(0, 0.5), "0.5000");
    EXPECT_EQ(display(2, 1.0), "100.0000");
    EXPECT_EQ(display(3, 0.0), "-24.0000");
    EXPECT_EQ(display(3, 1.0), "12.0000");
    EXPECT_EQ(display(4, 1.0), "On");
    EXPECT_EQ(display(4, 0.0), "Off");
    EXPECT_EQ(display(5, 0.0), "Standard");
    EXPECT_EQ(display(5, 1.0), "High");
    EXPECT_DOUBLE_EQ(plugin.controller->normalizedParamToPlain(3, 2.0 / 3.0), 0.0);
    EXPECT_DOUBLE_EQ(plugin.controller->plainParamToNormalized(2, 50.0), 0.5);
}

TEST_F(Parameters, AlgorithmEntriesAtExactSteps) {
    ASSERT_TRUE(plugin.ok());
    const char* names[] = {"Transport", "Partials", "Imprint", "Diffuse"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(display(1, i / 3.0), names[i]);
        EXPECT_DOUBLE_EQ(plugin.controller->normalizedParamToPlain(1, i / 3.0), i);
    }
    ParamValue parsed = -1.0;
    String128 text{};
    const char16_t partials[] = u"Partials";
    for (int i = 0; partials[i] != 0; ++i)
        text[i] = partials[i];
    ASSERT_EQ(plugin.controller->getParamValueByString(1, text, parsed), kResultOk);
    EXPECT_DOUBLE_EQ(parsed, 1.0 / 3.0);
}

TEST_F(Parameters, OutOfRangeValuesDisplayAsTheNearestEnd) {
    ASSERT_TRUE(plugin.ok());
    EXPECT_EQ(display(1, -0.5), "Transport");
    EXPECT_EQ(display(1, 7.0), "Diffuse");
    EXPECT_EQ(display(5, std::numeric_limits<double>::quiet_NaN()), "Standard");
}

TEST_F(Parameters, QualitySwitchSendsOneMessageAndOneLatencyRestart) {
    ASSERT_TRUE(plugin.ok());
    plugin.controller->setParamNormalized(5, 0.2);
    EXPECT_EQ(plugin.toProcessor->delivered("TavimoQuality"), 0);
    plugin.controller->setParamNormalized(5, 0.7);
    EXPECT_EQ(plugin.toProcessor->delivered("TavimoQuality"), 1);
    ASSERT_EQ(plugin.handler.restarts.size(), 1u);
    EXPECT_EQ(plugin.handler.restarts[0], kLatencyChanged);
    plugin.controller->setParamNormalized(5, 0.9);
    EXPECT_EQ(plugin.toProcessor->delivered("TavimoQuality"), 1);
    EXPECT_EQ(plugin.handler.restarts.size(), 1u);
    // The processor took the message: its latency at 44100 Hz is now the "High" one.
    EXPECT_EQ(plugin.processor->getLatencySamples(), 4096u + 66u);
    plugin.controller->setParamNormalized(5, 0.0);
    EXPECT_EQ(plugin.toProcessor->delivered("TavimoQuality"), 2);
    EXPECT_EQ(plugin.processor->getLatencySamples(), 2114u);
}

TEST_F(Parameters, OnlyTheEditorNameMakesAView) {
    ASSERT_TRUE(plugin.ok());
    IPlugView* editor = plugin.controller->createView("editor");
    ASSERT_NE(editor, nullptr);
    editor->release();
    EXPECT_EQ(plugin.controller->createView("other"), nullptr);
    EXPECT_EQ(plugin.controller->createView(nullptr), nullptr);
}

} // namespace
} // namespace tav::test
