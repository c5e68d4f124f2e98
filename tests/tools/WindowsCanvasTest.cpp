// The Direct2D canvas under Wine: a cross-built test program checks font loading, the text
// caches and where the drawing operations put their ink.
#include "ToolRunner.h"
#include "WineRunner.h"

#include "support/XvfbServer.h"

#include <gtest/gtest.h>

namespace tav::test {
namespace {

const std::filesystem::path kProgram = "tests/win32/tavimo_canvas_test.exe";

TEST(WindowsBuild, CanvasUnderWine) {
    if (const std::string missing = missingWindowsPiece({kProgram}); !missing.empty())
        GTEST_SKIP() << "no Windows build to test (" << missing << " is missing)";
    XvfbServer display;
    ASSERT_TRUE(display.ok()) << "no Xvfb: Wine needs a display to draw";
    const auto folder = freshFolder("windows_canvas");
    std::filesystem::create_directories(folder / "partial");
    for (const char* file : {"Anybody-Variable.ttf", "DepartureMono-Regular.otf"})
        std::filesystem::copy_file(std::filesystem::path(TAVIMO_FONTS_DIR) / file,
                                   folder / "partial" / file);
    const RunResult run = runCommand(wineCommand(folder, kProgram, display.display()) + " '" +
                                     TAVIMO_FONTS_DIR + "' partial");
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
}

} // namespace
} // namespace tav::test
