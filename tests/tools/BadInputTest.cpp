// Whatever is wrong with the input, tavimo says so in one line, exits non-zero and leaves
// nothing behind that could pass for a result.
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace tav::test {
namespace {

using host::AudioBuffer;
namespace audio_file = host::audio_file;

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

AudioBuffer toneOf(int channels, int frames) {
    AudioBuffer buffer = AudioBuffer::silence(48000.0, channels, frames);
    for (auto& channel : buffer.channels)
        for (int i = 0; i < frames; ++i)
            channel[size_t(i)] = (i % 100) / 200.0f;
    return buffer;
}

struct Case {
    const char* name;
    const char* expected; // part of the error line
};

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = freshFolder(std::string("bad_") + info->name());
        audio_file::write(folder / "a.wav", toneOf(2, 4800));
        audio_file::write(folder / "b.wav", toneOf(1, 4800));
    }

    // Renders a to out.wav and checks the failure: exit code, one error line, no new files.
    void expectFailure(const std::string& a, const std::string& expected,
                       std::vector<std::string> extra = {}, const std::string& plugin = "") {
        auto before = filesIn(folder);
        std::vector<std::string> arguments{"render",
                                           a,
                                           (folder / "b.wav").string(),
                                           "-o",
                                           (folder / "out.wav").string(),
                                           "--plugin",
                                           plugin.empty() ? TAVIMO_BUNDLE : plugin};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const RunResult run = runTavimo(arguments);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.err.rfind("tavimo: error: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
        auto after = filesIn(folder);
        std::sort(before.begin(), before.end());
        std::sort(after.begin(), after.end());
        EXPECT_EQ(after, before) << "files left behind";
    }

    std::filesystem::path folder;
};

TEST_F(BadInput, MissingFile) {
    expectFailure((folder / "nowhere.wav").string(), "file not found");
}

TEST_F(BadInput, FormatLibsndfileCannotRead) {
    writeText(folder / "text.wav", "this is not audio, only text pretending to be a WAV file\n");
    expectFailure((folder / "text.wav").string(), "cannot read");
}

TEST_F(BadInput, MoreThanTwoChannels) {
    audio_file::write(folder / "surround.wav", toneOf(3, 4800));
    expectFailure((folder / "surround.wav").string(), "3 channels");
}

TEST_F(BadInput, ZeroLength) {
    audio_file::write(folder / "empty.wav", AudioBuffer::silence(48000.0, 2, 0));
    expectFailure((folder / "empty.wav").string(), "no audio");
}

TEST_F(BadInput, EmptySidechainFile) {
    audio_file::write(folder / "b.wav", AudioBuffer::silence(48000.0, 1, 0));
    expectFailure((folder / "a.wav").string(), "no audio");
}

TEST_F(BadInput, BundleThatIsMissing) {
    expectFailure((folder / "a.wav").string(), "plug-in not found", {},
                  (folder / "Missing.vst3").string());
}

TEST_F(BadInput, BundleThatDoesNotLoad) {
    const auto bundle = folder / "Broken.vst3";
    std::filesystem::create_directories(bundle / "Contents" / "x86_64-linux");
    writeText(bundle / "Contents" / "x86_64-linux" / "Broken.so", "not a shared object");
    expectFailure((folder / "a.wav").string(), "does not load", {}, bundle.string());
}

TEST_F(BadInput, BundleWithoutTheClasses) {
    expectFailure((folder / "a.wav").string(), "has no class", {}, TAVIMO_EMPTY_BUNDLE);
}

TEST_F(BadInput, OptionsOutOfRange) {
    expectFailure((folder / "a.wav").string(), "--mix", {"--mix", "150"});
    expectFailure((folder / "a.wav").string(), "--output", {"--output", "20"});
    expectFailure((folder / "a.wav").string(), "--morph", {"--morph", "2:0.5,1:1"});
    expectFailure((folder / "a.wav").string(), "--morph", {"--morph", "loud"});
    expectFailure((folder / "a.wav").string(), "--block", {"--block", "0"});
    expectFailure((folder / "a.wav").string(), "--algorithm", {"--algorithm", "blend"});
}

TEST_F(BadInput, FailedRenderKeepsAnEarlierResult) {
    writeText(folder / "out.wav", "an earlier result");
    expectFailure((folder / "nowhere.wav").string(), "file not found");
    std::ifstream in(folder / "out.wav");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "an earlier result");
}

TEST_F(BadInput, OutputOverAnInput) {
    const RunResult run =
        runTavimo({"render", (folder / "a.wav").string(), (folder / "b.wav").string(), "-o",
                   (folder / "a.wav").string(), "--plugin", TAVIMO_BUNDLE});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("overwrite the input"), std::string::npos) << run.err;
    EXPECT_EQ(audio_file::read(folder / "a.wav").frames(), 4800);
}

TEST_F(BadInput, OutputFolderThatDoesNotExist) {
    const RunResult run =
        runTavimo({"render", (folder / "a.wav").string(), (folder / "b.wav").string(), "-o",
                   (folder / "missing" / "out.wav").string(), "--plugin", TAVIMO_BUNDLE});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("output folder does not exist"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

TEST(BadCommand, InfoWithABundleWithoutTheClasses) {
    const RunResult run = runTavimo({"info", "--plugin", TAVIMO_EMPTY_BUNDLE});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("has no class"), std::string::npos) << run.err;
}

} // namespace
} // namespace tav::test

namespace tav::test {
namespace {

TEST_F(BadInput, SampleRatesNoAudioFileUses) {
    auto slow = toneOf(1, 4800);
    slow.sampleRate = 500.0;
    audio_file::write(folder / "slow.wav", slow);
    expectFailure((folder / "slow.wav").string(), "sample rate");
    auto fast = toneOf(1, 4800);
    fast.sampleRate = 800000.0;
    audio_file::write(folder / "fast.wav", fast);
    expectFailure((folder / "fast.wav").string(), "sample rate");
}

TEST_F(BadInput, PluginRefusingABlockMidRender) {
    setenv("TAVIMO_TEST_REFUSE", "process", 1);
    expectFailure((folder / "a.wav").string(), "refused to process", {}, TAVIMO_REFUSING_BUNDLE);
}

TEST_F(BadInput, PluginRefusingABus) {
    setenv("TAVIMO_TEST_REFUSE", "bus", 1);
    expectFailure((folder / "a.wav").string(), "refused to activate", {}, TAVIMO_REFUSING_BUNDLE);
}

} // namespace
} // namespace tav::test
