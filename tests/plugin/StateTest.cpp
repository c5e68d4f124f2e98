#include "PluginHost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tav::test {
namespace {

std::vector<unsigned char> processorStream(int32_t version, std::initializer_list<double> values) {
    std::vector<unsigned char> bytes;
    appendInt32(bytes, version);
    for (double value : values)
        appendDouble(bytes, value);
    return bytes;
}

double doubleAt(const std::vector<unsigned char>& bytes, size_t offset) {
    double value = 0.0;
    std::memcpy(&value, bytes.data() + offset, sizeof(value));
    return value;
}

class States : public ::testing::Test {
protected:
    tresult restoreProcessor(const std::vector<unsigned char>& bytes) {
        return plugin.component->setState(streamOf(bytes));
    }
    tresult restoreController(const std::vector<unsigned char>& bytes) {
        return plugin.controller->setComponentState(streamOf(bytes));
    }
    PluginInstance plugin;
};

TEST_F(States, FreshProcessorWritesVersion2AndTheDefaults) {
    ASSERT_TRUE(plugin.ok());
    const auto bytes = plugin.processorState();
    EXPECT_EQ(bytes, processorStream(2, {0.5, 0.0, 1.0, 0.6666666666666666, 0.0, 0.0}));
    EXPECT_EQ(bytes.size(), 52u);
}

TEST_F(States, Version1RestoresFiveValuesAndStandardQuality) {
    ASSERT_TRUE(plugin.ok());
    ASSERT_EQ(restoreProcessor(processorStream(2, {0, 0, 0, 0, 0, 1.0})), kResultOk);
    const auto v1 = processorStream(1, {0.25, 1.0, 0.5, 0.75, 1.0});
    ASSERT_EQ(v1.size(), 44u);
    ASSERT_EQ(restoreProcessor(v1), kResultOk);
    EXPECT_EQ(plugin.processorState(), processorStream(2, {0.25, 1.0, 0.5, 0.75, 1.0, 0.0}));
    EXPECT_EQ(plugin.processor->getLatencySamples(), 2114u);
}

TEST_F(States, DamagedProcessorStreamsAreRefusedAndChangeNothing) {
    ASSERT_TRUE(plugin.ok());
    const auto good = processorStream(2, {0.1, 0.2, 0.3, 0.4, 0.5, 1.0});
    ASSERT_EQ(restoreProcessor(good), kResultOk);
    auto truncated = processorStream(2, {0.9, 0.9, 0.9, 0.9, 0.9, 0.0});
    truncated.pop_back();
    ASSERT_EQ(truncated.size(), 51u);
    EXPECT_EQ(restoreProcessor(truncated), kResultFalse);
    EXPECT_EQ(restoreProcessor(processorStream(0, {0.9, 0.9, 0.9, 0.9, 0.9, 0.0})), kResultFalse);
    EXPECT_EQ(restoreProcessor(processorStream(-3, {0.9, 0.9, 0.9, 0.9, 0.9, 0.0})), kResultFalse);
    EXPECT_EQ(restoreProcessor({0x02, 0x00}), kResultFalse);
    EXPECT_EQ(restoreProcessor({}), kResultFalse);
    EXPECT_EQ(plugin.component->setState(nullptr), kResultFalse);
    EXPECT_EQ(plugin.component->getState(nullptr), kResultFalse);
    EXPECT_EQ(plugin.processorState(), good);
    EXPECT_EQ(plugin.processor->getLatencySamples(), 4162u); // still "High" at 44100 Hz
}

TEST_F(States, NewerVersionIsReadAsVersion2AndTrailingBytesIgnored) {
    ASSERT_TRUE(plugin.ok());
    auto v3 = processorStream(3, {0.3, 2.0 / 3.0, 0.2, 0.1, 0.0, 1.0});
    appendDouble(v3, 42.0);
    ASSERT_EQ(v3.size(), 60u);
    ASSERT_EQ(restoreProcessor(v3), kResultOk);
    EXPECT_EQ(plugin.processorState(), processorStream(2, {0.3, 2.0 / 3.0, 0.2, 0.1, 0.0, 1.0}));
}

TEST_F(States, OutOfRangeValuesAreKeptAsGiven) {
    ASSERT_TRUE(plugin.ok());
    ASSERT_EQ(restoreProcessor(processorStream(2, {1.5, -1.0, 0.5, 0.5, 0.0, 0.0})), kResultOk);
    const auto bytes = plugin.processorState();
    EXPECT_EQ(doubleAt(bytes, 4), 1.5);
    EXPECT_EQ(doubleAt(bytes, 12), -1.0);
}

TEST_F(States, ControllerTakesOverTheProcessorStateAllOrNothing) {
    ASSERT_TRUE(plugin.ok());
    ASSERT_EQ(restoreController(processorStream(2, {0.25, 1.0 / 3.0, 0.5, 0.0, 1.0, 0.0})),
              kResultOk);
    EXPECT_DOUBLE_EQ(plugin.controller->getParamNormalized(0), 0.25);
    EXPECT_DOUBLE_EQ(plugin.controller->getParamNormalized(1), 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(plugin.controller->getParamNormalized(2), 0.5);
    EXPECT_DOUBLE_EQ(plugin.controller->getParamNormalized(3), 0.0);
    EXPECT_DOUBLE_EQ(plugin.controller->getParamNormalized(4), 1.0);

    auto truncated = processorStream(2, {0.9, 0.9, 0.9, 0.9, 0.0, 1.0});
    truncated.pop_back();
    EXPECT_EQ(restoreController(truncated), kResultFalse);
    EXPECT_EQ(restoreController(processorStream(0, {0.9, 0.9, 0.9, 0.9, 0.0, 1.0})), kResultFalse);
    EXPECT_EQ(plugin.controller->setComponentState(nullptr), kResultFalse);
    EXPECT_DOUBLE_EQ(plugin.controller->getParamNormalized(0), 0.25);
    EXPECT_DOUBLE_EQ(plugin.controller->getParamNormalized(5), 0.0);
    EXPECT_EQ(plugin.toProcessor->delivered("TavimoQuality"), 0);
    EXPECT_TRUE(plugin.handler.restarts.empty());
}

TEST_F(States, QualityChangeThroughComponentStateSendsOneMessageAndOneRestart) {
    ASSERT_TRUE(plugin.ok());
    const auto high = processorStream(2, {0.5, 0.0, 1.0, 2.0 / 3.0, 0.0, 1.0});
    ASSERT_EQ(restoreController(high), kResultOk);
    EXPECT_EQ(plugin.toProcessor->delivered("TavimoQuality"), 1);
    // Only the message can have told the processor: its latency at 44100 Hz is the "High" one.
    EXPECT_EQ(plugin.processor->getLatencySamples(), 4162u);
    ASSERT_EQ(plugin.handler.restarts.size(), 1u);
    EXPECT_EQ(plugin.handler.restarts[0], kLatencyChanged);
    // The same project again: nothing to tell.
    ASSERT_EQ(restoreController(high), kResultOk);
    EXPECT_EQ(plugin.toProcessor->delivered("TavimoQuality"), 1);
    EXPECT_EQ(plugin.handler.restarts.size(), 1u);
}

// Version 2: the theme, the preset's edited flag, its name's byte count and the name.
std::vector<unsigned char> controllerStream(int32_t theme, int32_t edited,
                                            const std::string& name) {
    std::vector<unsigned char> bytes;
    appendInt32(bytes, 2);
    appendInt32(bytes, theme);
    appendInt32(bytes, edited);
    appendInt32(bytes, static_cast<int32_t>(name.size()));
    bytes.insert(bytes.end(), name.begin(), name.end());
    return bytes;
}

TEST_F(States, ControllerStateIsVersion2WithThemeAndPresetAndReadsVersion1) {
    ASSERT_TRUE(plugin.ok());
    MemoryStream stream;
    ASSERT_EQ(plugin.controller->getState(&stream), kResultOk);
    EXPECT_EQ(bytesOf(stream), controllerStream(0, 0, "Init"));

    ASSERT_EQ(plugin.controller->setState(streamOf(controllerStream(1, 1, "Drum Skin"))),
              kResultOk);
    std::vector<unsigned char> dark;
    appendInt32(dark, 1);
    appendInt32(dark, 7);
    ASSERT_EQ(plugin.controller->setState(streamOf(dark)), kResultOk);
    std::vector<unsigned char> damaged;
    appendInt32(damaged, 1);
    damaged.push_back(0);
    EXPECT_EQ(plugin.controller->setState(streamOf(damaged)), kResultFalse);
    auto tooLong = controllerStream(0, 0, "x");
    tooLong[12] = 0xFF;
    tooLong[13] = 0xFF;
    EXPECT_EQ(plugin.controller->setState(streamOf(tooLong)), kResultFalse);
    std::vector<unsigned char> version0;
    appendInt32(version0, 0);
    appendInt32(version0, 0);
    EXPECT_EQ(plugin.controller->setState(streamOf(version0)), kResultFalse);
    EXPECT_EQ(plugin.controller->setState(nullptr), kResultFalse);

    // Version 1 took the theme and kept the preset; a newer version is read as far as known.
    MemoryStream saved;
    ASSERT_EQ(plugin.controller->getState(&saved), kResultOk);
    EXPECT_EQ(bytesOf(saved), controllerStream(1, 1, "Drum Skin"));
    auto newer = controllerStream(0, 0, "Next");
    newer[0] = 3;
    newer.push_back(42);
    ASSERT_EQ(plugin.controller->setState(streamOf(newer)), kResultOk);
    MemoryStream after;
    ASSERT_EQ(plugin.controller->getState(&after), kResultOk);
    EXPECT_EQ(bytesOf(after), controllerStream(0, 0, "Next"));
}

} // namespace
} // namespace tav::test
