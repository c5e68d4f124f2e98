// Renders through the real bundle with the built tavimo and checks where the sound lands.
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>

namespace tav::test {
namespace {

using host::AudioBuffer;
namespace audio_file = host::audio_file;

constexpr double kRate = 48000.0;

std::vector<float> sineOf(double hz, double rate, int frames, float amplitude) {
    std::vector<float> samples(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        samples[size_t(i)] =
            amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * i / rate));
    return samples;
}

std::vector<std::string> renderArguments(const std::filesystem::path& folder,
                                         std::vector<std::string> extra) {
    std::vector<std::string> arguments{
        "render",     (folder / "a.wav").string(),   (folder / "b.wav").string(),
        "-o",         (folder / "out.wav").string(), "--plugin",
        TAVIMO_BUNDLE};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

// The lag (within +-range) at which y best matches x, by cross-correlation.
int bestLag(const std::vector<float>& x, const std::vector<float>& y, int range) {
    int best = 0;
    double bestSum = -1e300;
    for (int lag = -range; lag <= range; ++lag) {
        double sum = 0.0;
        for (size_t i = size_t(range); i + size_t(range) < x.size(); ++i)
            sum += double(x[i]) * y[size_t(int64_t(i) + lag)];
        if (sum > bestSum) {
            bestSum = sum;
            best = lag;
        }
    }
    return best;
}

TEST(Render, DrySignalComesOutSampleAligned) {
    // With Mix at 0 the plug-in passes its latency-aligned dry signal: after compensation
    // every impulse must sit exactly where it went in.
    const auto folder = freshFolder("dry_alignment");
    const int frames = 24000;
    std::vector<float> left(frames, 0.0f), right(frames, 0.0f);
    for (int at : {0, 1, 777, 4800, 23999})
        left[size_t(at)] = 0.5f;
    right[2000] = -0.25f;
    audio_file::write(folder / "a.wav", bufferOf(kRate, {left, right}));
    const auto b = sineOf(440.0, kRate, frames, 0.3f);
    audio_file::write(folder / "b.wav", bufferOf(kRate, {b, b}));

    const RunResult run = runTavimo(renderArguments(folder, {"--mix", "0", "--morph", "1"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const AudioBuffer out = audio_file::read(folder / "out.wav");
    ASSERT_EQ(out.channelCount(), 2);
    ASSERT_EQ(out.frames(), frames);
    for (int i = 0; i < frames; ++i) {
        ASSERT_NEAR(out.channels[0][size_t(i)], left[size_t(i)], 1e-6) << "left, sample " << i;
        ASSERT_NEAR(out.channels[1][size_t(i)], right[size_t(i)], 1e-6) << "right, sample " << i;
    }
}

TEST(Render, WetSignalIsAlignedWithA) {
    // Morph 0 keeps A's sound: the processed output must line up with A, not trail it by the
    // plug-in's latency.
    const auto folder = freshFolder("wet_alignment");
    const int frames = 48000;
    std::vector<float> a = sineOf(220.0, kRate, frames, 0.3f);
    for (int i = 0; i < frames; ++i) // a burst pattern gives the correlation one clear peak
        a[size_t(i)] *= (i / 6000) % 2 == 0 ? 1.0f : 0.2f;
    audio_file::write(folder / "a.wav", bufferOf(kRate, {a}));
    audio_file::write(folder / "b.wav", bufferOf(kRate, {sineOf(1000.0, kRate, frames, 0.3f)}));

    const RunResult run = runTavimo(renderArguments(folder, {"--morph", "0"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const AudioBuffer out = audio_file::read(folder / "out.wav");
    ASSERT_EQ(out.frames(), frames);
    EXPECT_EQ(bestLag(a, out.channels[0], 400), 0);
    EXPECT_NE(run.out.find("latency 2120 samples"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("LUFS"), std::string::npos) << run.out;
}

TEST(Render, OutputTakesARateChannelsAndLength) {
    // B at another rate, with other channels and longer or shorter than A, is conformed to A.
    const auto folder = freshFolder("conform");
    const int frames = 22050;
    audio_file::write(folder / "a.wav", bufferOf(44100.0, {sineOf(300.0, 44100.0, frames, 0.3f)}));
    for (int bFrames : {60000, 9000}) {
        const auto b = sineOf(500.0, kRate, bFrames, 0.3f);
        audio_file::write(folder / "b.wav", bufferOf(kRate, {b, b}));
        const RunResult run = runTavimo(renderArguments(folder, {"--morph", "0:0,0.5:1"}));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const AudioBuffer out = audio_file::read(folder / "out.wav");
        EXPECT_EQ(out.sampleRate, 44100.0);
        EXPECT_EQ(out.channelCount(), 1);
        EXPECT_EQ(out.frames(), frames);
        EXPECT_NE(run.out.find("latency 2114 samples"), std::string::npos) << run.out;
    }
}

TEST(Render, HostBlockSizeDoesNotChangeTheSound) {
    // A render is a file operation: with fixed parameters its result must not depend on how
    // the host cuts the stream, from the first sample on, even between the Morph ends where
    // the phase-accumulating algorithms would carry any difference at the start on for good.
    const auto folder = freshFolder("block_sizes");
    const int frames = 30000;
    const auto a = sineOf(330.0, kRate, frames, 0.4f);
    const auto b = sineOf(880.0, kRate, frames, 0.4f);
    audio_file::write(folder / "a.wav", bufferOf(kRate, {a, a}));
    audio_file::write(folder / "b.wav", bufferOf(kRate, {b, b}));
    for (const char* quality : {"standard", "high"}) {
        std::vector<AudioBuffer> outputs;
        for (const char* block : {"64", "1000", "4096"}) {
            const RunResult run = runTavimo(renderArguments(
                folder, {"--morph", "0.5", "--algorithm", "partials", "--mix", "80", "--output",
                         "-6", "--quality", quality, "--block", block}));
            ASSERT_EQ(run.exitCode, 0) << run.err;
            outputs.push_back(audio_file::read(folder / "out.wav"));
        }
        for (size_t k = 1; k < outputs.size(); ++k)
            EXPECT_TRUE(outputs[k].channels == outputs[0].channels) << quality << ", set " << k;
    }
}

TEST(Render, QualityHighReportsTheLongerLatency) {
    const auto folder = freshFolder("quality_high");
    const auto a = sineOf(330.0, kRate, 20000, 0.4f);
    audio_file::write(folder / "a.wav", bufferOf(kRate, {a}));
    audio_file::write(folder / "b.wav", bufferOf(kRate, {a}));
    const RunResult run = runTavimo(renderArguments(folder, {"--quality", "high", "--mix", "0"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("latency 4168 samples"), std::string::npos) << run.out;
    const AudioBuffer out = audio_file::read(folder / "out.wav");
    for (int i = 0; i < 20000; i += 97)
        ASSERT_NEAR(out.channels[0][size_t(i)], a[size_t(i)], 1e-6) << "sample " << i;
}

TEST(Render, LoopBStartsAShorterBAgainFromItsBeginning) {
    // At Morph 1 the output is B; with --loop-b it goes on as B from its start, not silence.
    const auto folder = freshFolder("loop_b");
    const int frames = 48000, bFrames = 14400;
    audio_file::write(folder / "a.wav", bufferOf(kRate, {sineOf(300.0, kRate, frames, 0.25f)}));
    const auto b = sineOf(700.0, kRate, bFrames, 0.25f);
    audio_file::write(folder / "b.wav", bufferOf(kRate, {b}));
    const RunResult run = runTavimo(renderArguments(folder, {"--morph", "1", "--loop-b"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const AudioBuffer out = audio_file::read(folder / "out.wav");
    ASSERT_EQ(out.frames(), frames);
    for (int i = 0; i < frames; ++i)
        ASSERT_NEAR(out.channels[0][size_t(i)], b[size_t(i % bFrames)], 1e-4) << "sample " << i;
}

TEST(Render, MixRampMovesTheMixWhereTheFileHasIt) {
    // At Morph 1 the wet signal is B and the dry one A, so the output is (1 - m) A + m B: the
    // mix m is read back by least squares over short windows and must follow the ramp at the
    // output's own time, within one block's step.
    const auto folder = freshFolder("mix_ramp");
    const int frames = 72000;
    const auto a = sineOf(300.0, kRate, frames, 0.25f);
    const auto b = sineOf(1130.0, kRate, frames, 0.25f);
    audio_file::write(folder / "a.wav", bufferOf(kRate, {a}));
    audio_file::write(folder / "b.wav", bufferOf(kRate, {b}));
    const RunResult run =
        runTavimo(renderArguments(folder, {"--morph", "1", "--mix", "0:0,1:100"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const AudioBuffer out = audio_file::read(folder / "out.wav");
    for (double seconds : {0.1, 0.25, 0.5, 0.75, 0.9, 1.2}) {
        const int centre = static_cast<int>(seconds * kRate);
        double along = 0.0, norm = 0.0;
        for (int i = centre - 480; i < centre + 480; ++i) {
            const double difference = double(b[size_t(i)]) - a[size_t(i)];
            along += (out.channels[0][size_t(i)] - a[size_t(i)]) * difference;
            norm += difference * difference;
        }
        EXPECT_NEAR(along / norm, std::min(seconds, 1.0), 0.015) << "at " << seconds << " s";
    }
}

TEST(Render, GainsFormerNameStillWorksAndNothingExtraGoesToAPipe) {
    const auto folder = freshFolder("gain_alias");
    const auto a = sineOf(330.0, kRate, 9600, 0.3f);
    audio_file::write(folder / "a.wav", bufferOf(kRate, {a}));
    audio_file::write(folder / "b.wav", bufferOf(kRate, {sineOf(990.0, kRate, 9600, 0.3f)}));
    std::vector<AudioBuffer> outputs;
    for (const char* option : {"--gain", "--output"}) {
        const RunResult run = runTavimo(renderArguments(folder, {"--mix", "0", option, "-6"}));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "") << "no progress line when standard error is not a terminal";
        outputs.push_back(audio_file::read(folder / "out.wav"));
    }
    EXPECT_TRUE(outputs[0].channels == outputs[1].channels);
    EXPECT_NEAR(outputs[0].channels[0][1234], a[1234] * std::pow(10.0, -6.0 / 20.0), 1e-5);
}

TEST(Render, SpectrogramGoesBesideTheOutputAndQuietPrintsNothing) {
    const auto folder = freshFolder("spectrogram");
    const auto a = sineOf(330.0, kRate, 9600, 0.3f);
    audio_file::write(folder / "a.wav", bufferOf(kRate, {a}));
    audio_file::write(folder / "b.wav", bufferOf(kRate, {a}));
    const RunResult run = runTavimo(renderArguments(folder, {"--spectrogram", "--quiet"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    std::ifstream png(folder / "out.png", std::ios::binary);
    std::string signature(8, '\0');
    png.read(signature.data(), 8);
    EXPECT_EQ(signature, std::string("\x89PNG\r\n\x1a\n", 8));
}

TEST(Render, AFormatThatCannotBeWrittenIsRefusedBeforeAnythingIsRead) {
    // A is missing: had the inputs been read first, that would be the error.
    const auto folder = freshFolder("format_first");
    const RunResult run =
        runTavimo({"render", (folder / "missing.wav").string(), (folder / "b.wav").string(), "-o",
                   (folder / "out.flac").string(), "--bit-depth", "32f"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("FLAC holds integer samples only"), std::string::npos) << run.err;
}

} // namespace
} // namespace tav::test
