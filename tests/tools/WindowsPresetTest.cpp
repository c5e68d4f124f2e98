// The Windows build keeps the user's presets where Windows hosts look for them: the Documents
// folder's "VST3 Presets\Tavimo Audio\Tavimo", in files the Linux build reads the same.
#include "ToolRunner.h"
#include "WineRunner.h"

#include "plugin/PresetLibrary.h"

#include <gtest/gtest.h>

namespace tav::test {
namespace {

namespace fs = std::filesystem;

TEST(WindowsBuild, UserPresetsGoToTheDocumentsPresetFolderUnderWine) {
    if (const std::string missing = missingWindowsPiece(); !missing.empty())
        GTEST_SKIP() << "no Windows build to test (" << missing << " is missing)";
    const auto folder = freshFolder("windows_presets");
    const std::string tavimo = wineCommand(folder, "tavimo.exe");
    const RunResult saved =
        runCommand(tavimo + " presets --save 'Wine Take' --morph 0.3 --algorithm imprint");
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_NE(saved.out.find("Documents\\VST3 Presets\\Tavimo Audio\\Tavimo\\Wine Take.vstpreset"),
              std::string::npos)
        << saved.out;

    // Where Wine keeps that folder for its user, the file as the Linux build reads it.
    fs::path file;
    for (const auto& user :
         fs::directory_iterator(fs::path(TAVIMO_WINE_PREFIX) / "drive_c/users")) {
        const fs::path candidate =
            user.path() / "Documents/VST3 Presets/Tavimo Audio/Tavimo/Wine Take.vstpreset";
        if (fs::is_regular_file(candidate))
            file = candidate;
    }
    ASSERT_FALSE(file.empty()) << "no preset file under the Wine prefix's users";
    const plugin::PresetReading reading = plugin::PresetLibrary::read(file);
    fs::remove(file);
    ASSERT_TRUE(reading.document) << reading.refusal;
    EXPECT_EQ(reading.document->name, "Wine Take");
    EXPECT_DOUBLE_EQ(reading.document->values[model::kMorphId], 0.3);
    EXPECT_DOUBLE_EQ(reading.document->values[model::kAlgorithmId], 2.0 / 3.0);
}

} // namespace
} // namespace tav::test
