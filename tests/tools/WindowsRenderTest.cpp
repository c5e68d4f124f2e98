// The Windows build of tavimo and of the bundle, run under Wine, must render what the Linux
// build renders from the same input, up to float rounding.
#include "ToolRunner.h"
#include "WineRunner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace tav::test {
namespace {

using host::AudioBuffer;
namespace audio_file = host::audio_file;

const std::filesystem::path kWindowsBuild = windowsBuild();

std::string wineCommand(const std::filesystem::path& folder) {
    return test::wineCommand(folder, "tavimo.exe");
}

AudioBuffer testInputA() {
    const int frames = 60000;
    AudioBuffer a = AudioBuffer::silence(48000.0, 2, frames);
    for (int i = 0; i < frames; ++i) {
        const double t = i / 48000.0;
        const double chord = std::sin(2 * std::numbers::pi * 196.0 * t) +
                             0.6 * std::sin(2 * std::numbers::pi * 247.0 * t) +
                             0.4 * std::sin(2 * std::numbers::pi * 294.0 * t);
        a.channels[0][size_t(i)] = static_cast<float>(0.2 * chord);
        a.channels[1][size_t(i)] = static_cast<float>(0.2 * chord * (i % 9600 < 4800 ? 1 : 0.5));
    }
    return a;
}

AudioBuffer testInputB() {
    const int frames = 50000; // shorter than A: zero-padded on both platforms
    AudioBuffer b = AudioBuffer::silence(48000.0, 1, frames);
    uint32_t state = 12345;
    for (int i = 0; i < frames; ++i) {
        state = state * 1664525u + 1013904223u;
        const double noise = (state >> 8) / double(1 << 24) - 0.5;
        b.channels[0][size_t(i)] = static_cast<float>(
            0.3 * noise + 0.2 * std::sin(2 * std::numbers::pi * 880.0 * i / 48000.0));
    }
    return b;
}

TEST(WindowsBuild, RenderUnderWineMatchesLinux) {
    if (const std::string missing = missingWindowsPiece(); !missing.empty())
        GTEST_SKIP() << "no Windows build to test (" << missing
                     << " is missing): cmake --preset windows && cmake --build --preset windows";
    const auto folder = freshFolder("windows_render");
    audio_file::write(folder / "a.wav", testInputA());
    audio_file::write(folder / "b.wav", testInputB());
    const std::vector<std::string> settings{"--morph", "0:0.2,1:0.9", "--algorithm", "imprint",
                                            "--mix",   "80",          "--output",    "-3",
                                            "--block", "300"};

    std::string windows = wineCommand(folder) + " render a.wav b.wav -o windows.wav --plugin '" +
                          (kWindowsBuild / "Tavimo.vst3").string() + "'";
    for (const auto& setting : settings)
        windows += " '" + setting + "'";
    const RunResult onWine = runCommand(windows);
    ASSERT_EQ(onWine.exitCode, 0) << onWine.err;

    std::vector<std::string> linux{
        "render",     (folder / "a.wav").string(),     (folder / "b.wav").string(),
        "-o",         (folder / "linux.wav").string(), "--plugin",
        TAVIMO_BUNDLE};
    linux.insert(linux.end(), settings.begin(), settings.end());
    const RunResult onLinux = runTavimo(linux);
    ASSERT_EQ(onLinux.exitCode, 0) << onLinux.err;

    const AudioBuffer fromWine = audio_file::read(folder / "windows.wav");
    const AudioBuffer fromLinux = audio_file::read(folder / "linux.wav");
    ASSERT_EQ(fromWine.channelCount(), 2);
    ASSERT_EQ(fromWine.frames(), fromLinux.frames());
    double peak = 0.0, worst = 0.0;
    for (int c = 0; c < 2; ++c)
        for (int64_t i = 0; i < fromLinux.frames(); ++i) {
            peak = std::max(peak, double(std::abs(fromLinux.channels[size_t(c)][size_t(i)])));
            worst = std::max(worst, double(std::abs(fromWine.channels[size_t(c)][size_t(i)] -
                                                    fromLinux.channels[size_t(c)][size_t(i)])));
        }
    EXPECT_GT(peak, 0.05);
    // Float rounding: a few units in the last place of the loudest sample.
    EXPECT_LE(worst, 1e-6) << "largest difference between the two renders";
}

TEST(WindowsBuild, BadInputUnderWineFailsCleanly) {
    if (const std::string missing = missingWindowsPiece(); !missing.empty())
        GTEST_SKIP() << "no Windows build to test (" << missing << " is missing)";
    const auto folder = freshFolder("windows_bad_input");
    audio_file::write(folder / "b.wav", testInputB());
    const RunResult run =
        runCommand(wineCommand(folder) + " render missing.wav b.wav -o out.wav --plugin '" +
                   (kWindowsBuild / "Tavimo.vst3").string() + "'");
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("tavimo: error: file not found"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(folder / "out.wav"));
}

} // namespace
} // namespace tav::test
