// What a render may be written as, and how integer files are dithered.
#include "ToolRunner.h"

#include "tools/HostError.h"
#include "tools/audio/OutputFormat.h"
#include "tools/audio/WavCodec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace tav::test {
namespace {

using host::OutputFormat;
using host::SampleDepth;

std::string refusal(const char* name, std::optional<SampleDepth> depth, double rate) {
    try {
        host::outputFormatFor(name, depth, rate);
    } catch (const host::HostError& error) {
        return error.what();
    }
    return "";
}

TEST(OutputFormat, TheExtensionNamesTheFormatAndWhatItCannotHoldIsRefusedInOneLine) {
    using Container = OutputFormat::Container;
    EXPECT_EQ(host::outputFormatFor("x.WAV", std::nullopt, 48000.0).depth, SampleDepth::Float32);
    EXPECT_EQ(host::outputFormatFor("x.flac", std::nullopt, 96000.0).depth, SampleDepth::Pcm24);
    EXPECT_EQ(host::outputFormatFor("x.aif", SampleDepth::Pcm16, 48000.0).container,
              Container::Aiff);
    EXPECT_EQ(host::outputFormatFor("x.ogg", std::nullopt, 96000.0).container,
              Container::OggVorbis);
    EXPECT_EQ(host::outputFormatFor("x.mp3", std::nullopt, 44100.0).container, Container::Mp3);
    for (const auto& [name, depth, rate] :
         {std::tuple<const char*, std::optional<SampleDepth>, double>{"x.txt", {}, 48000.0},
          {"-", {}, 48000.0},
          {"x", {}, 48000.0},
          {"x.flac", SampleDepth::Float32, 48000.0},
          {"x.mp3", {}, 96000.0},
          {"x.ogg", SampleDepth::Pcm16, 48000.0}}) {
        const std::string why = refusal(name, depth, rate);
        EXPECT_FALSE(why.empty()) << name;
        EXPECT_EQ(why.find('\n'), std::string::npos) << why;
    }
}

TEST(OutputFormat, IntegerSamplesCarryTriangularDitherThatAveragesToTheSignal) {
    // A level a third of a 16-bit step: rounding alone would write zeros throughout.
    constexpr double kStep = 1.0 / 32768.0;
    const std::vector<std::vector<float>> third{std::vector<float>(20000, float(kStep / 3.0))};
    const auto samples = host::ditheredInterleaved(third, 16, 1);
    double sum = 0.0;
    for (int32_t s : samples) {
        const int steps = s >> 16;
        ASSERT_GE(steps, -1);
        ASSERT_LE(steps, 2);
        sum += steps;
    }
    EXPECT_NEAR(sum / samples.size(), 1.0 / 3.0, 0.02);
    EXPECT_EQ(samples, host::ditheredInterleaved(third, 16, 1)); // seeded: the same every time
    // Beyond full scale clips to the largest step instead of wrapping.
    const auto loud = host::ditheredInterleaved({{1.5f, -1.5f}}, 24, 1);
    EXPECT_EQ(loud[0], 8388607 * 256);
    EXPECT_EQ(loud[1], -8388608 * 256);
}

TEST(OutputFormat, TheWindowsWriterStoresSixteenAndTwentyFourBitPcm) {
    const auto buffer = bufferOf(48000.0, {{0.5f, -0.25f}});
    for (auto [depth, bits] :
         {std::pair{SampleDepth::Pcm16, 16}, std::pair{SampleDepth::Pcm24, 24}}) {
        const auto decoded =
            host::wav::parse(host::wav::encode(buffer, "x.wav", depth, 1).data(),
                             host::wav::encode(buffer, "x.wav", depth, 1).size(), "x.wav");
        const double step = std::ldexp(1.0, 1 - bits);
        EXPECT_NEAR(decoded.channels[0][0], 0.5, 1.5 * step) << bits;
        EXPECT_NEAR(decoded.channels[0][1], -0.25, 1.5 * step) << bits;
    }
}

} // namespace
} // namespace tav::test
