// The command line as a user meets it: help and errors in plain words, the same ranges in every
// command, outputs checked before any work starts.
#include "ToolRunner.h"

#include <gtest/gtest.h>

namespace tav::test {
namespace {

// Words of the argument library's own that must never reach a user.
void expectNoParserTerms(const std::string& text) {
    for (const char* term : {"INT", "FLOAT", "TEXT", "FAILED", "Could not convert", "{", "->"})
        EXPECT_EQ(text.find(term), std::string::npos) << "\"" << term << "\" in:\n" << text;
}

TEST(CommandLine, ABadValueIsAUsageErrorThatSaysTheRangeOrChoices) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"render", "a.wav", "b.wav", "-o", "out.wav", "--block", "0"},
         "tavimo: error: --block: 0 is outside the range 16 to 8192 samples\n"},
        {{"editor", "--block", "9000"},
         "tavimo: error: --block: 9000 is outside the range 16 to 8192 samples\n"},
        {{"render", "a.wav", "b.wav", "-o", "out.wav", "--block", "1.5"},
         "tavimo: error: --block: \"1.5\" is not a whole number; give 16 to 8192 samples\n"},
        {{"render", "a.wav", "b.wav", "-o", "out.wav", "--mix", "0:0,1:150"},
         "tavimo: error: --mix: 150 is outside the range 0 to 100 percent\n"},
        {{"render", "a.wav", "b.wav", "-o", "out.wav", "--output", "20"},
         "tavimo: error: --output: 20 is outside the range -24 to 12 dB\n"},
        {{"render", "a.wav", "b.wav", "-o", "out.wav", "--algorithm", "blend"},
         "tavimo: error: --algorithm: \"blend\" is not one of transport, partials, imprint or "
         "diffuse\n"},
        {{"render", "a.wav", "b.wav", "-o", "out.wav", "--bit-depth", "20"},
         "tavimo: error: --bit-depth: \"20\" is not one of 16, 24 or 32f\n"},
        {{"editor", "--morph", "0:0,1:1"},
         "tavimo: error: --morph: this command takes one value, 0 to 1, not a ramp\n"},
        {{"snapshot", "-o", "x.png", "--scale", "big"},
         "tavimo: error: --scale: \"big\" is not a number; give 0.8 to 2\n"},
    };
    for (const auto& [arguments, expected] : cases) {
        const RunResult run = runTavimo(arguments);
        EXPECT_EQ(run.exitCode, 2) << expected;
        EXPECT_EQ(run.err, expected);
        EXPECT_EQ(run.out, "");
    }
}

TEST(CommandLine, HelpShowsEveryRangeAndChoiceInPlainWords) {
    const RunResult run = runTavimo({"render", "--help"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* words :
         {"--gain DB|RAMP=0", "-24 to 12 dB", "0 to 100 percent", "16 to 8192 samples",
          "transport, partials, imprint or diffuse", "standard or high", "16, 24", "--loop-b",
          "--spectrogram", "--quiet", "Exit status"})
        EXPECT_NE(run.out.find(words), std::string::npos) << words << " missing in:\n" << run.out;
    EXPECT_EQ(run.out.find("--output "), std::string::npos) << "the former name is hidden";
    expectNoParserTerms(run.out);
    const RunResult editor = runTavimo({"help", "editor"});
    EXPECT_NE(editor.out.find("16 to 8192 samples"), std::string::npos) << editor.out;
    expectNoParserTerms(editor.out);
    const RunResult snapshot = runTavimo({"help", "snapshot"});
    expectNoParserTerms(snapshot.out);
}

TEST(CommandLine, EditorScreenshotIntoAMissingFolderFailsBeforeAWindowOpens) {
    // No display: had it tried to open its window first, it would fail for that instead.
    const auto folder = freshFolder("editor_screenshot_missing");
    const RunResult run =
        runCommand("env -u DISPLAY '" + std::string(TAVIMO_EXECUTABLE) + "' editor --seconds 60 " +
                   "--screenshot '" + (folder / "missing" / "x.png").string() + "'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("output folder does not exist"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("editor open"), std::string::npos) << run.out;
}

} // namespace
} // namespace tav::test
