// The release archives as a producer downloads them: unpacked into fresh folders, holding the
// bundle, the factory presets, the install notes and the licences, and the Linux bundle loads
// from there.
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace tav::test {
namespace {

namespace fs = std::filesystem;

std::string textOf(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int presetFilesIn(const fs::path& folder) {
    int count = 0;
    if (fs::is_directory(folder))
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            count += entry.path().extension() == ".vstpreset" ? 1 : 0;
    return count;
}

fs::path onlyFolderIn(const fs::path& folder) {
    const auto names = filesIn(folder);
    return names.size() == 1 ? folder / names[0] : fs::path{};
}

TEST(Package, ArchivesUnpackToBundlesPresetsNotesAndLicencesAndTheLinuxOneLoads) {
    const fs::path work = freshFolder("package");
    const fs::path native = fs::path(TAVIMO_BUNDLE).parent_path();
    const RunResult packed =
        runCommand("'" TAVIMO_SOURCE_DIR "/scripts/package' '" + native.string() + "' '" +
                   TAVIMO_WINDOWS_BUILD_DIR "' '" + (work / "dist").string() + "'");
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    const auto archives = filesIn(work / "dist");
    ASSERT_EQ(archives.size(), 3u);

    fs::create_directories(work / "linux");
    fs::create_directories(work / "windows");
    for (const std::string& name : archives) {
        const fs::path archive = work / "dist" / name;
        if (name.ends_with("-linux-x86_64.tar.gz"))
            ASSERT_EQ(runCommand("tar -xzf '" + archive.string() + "' -C '" +
                                 (work / "linux").string() + "'")
                          .exitCode,
                      0);
        else if (name.ends_with("-windows-x64.zip"))
            ASSERT_EQ(runCommand("unzip -q '" + archive.string() + "' -d '" +
                                 (work / "windows").string() + "'")
                          .exitCode,
                      0);
        else
            EXPECT_TRUE(name.ends_with("-source.tar.gz")) << name;
    }

    const fs::path linux = onlyFolderIn(work / "linux");
    const fs::path windows = onlyFolderIn(work / "windows");
    ASSERT_FALSE(linux.empty());
    ASSERT_FALSE(windows.empty());
    EXPECT_TRUE(fs::is_regular_file(linux / "Tavimo.vst3/Contents/x86_64-linux/Tavimo.so"));
    EXPECT_TRUE(fs::is_regular_file(windows / "Tavimo.vst3/Contents/x86_64-win/Tavimo.vst3"));
    for (const fs::path& folder : {linux, windows}) {
        EXPECT_GE(presetFilesIn(folder / "Presets"), 16) << folder;
        EXPECT_EQ(filesIn(folder / "Licenses").size(), 3u) << folder;
        EXPECT_TRUE(fs::is_regular_file(folder / "Tavimo.vst3/Contents/Resources/moduleinfo.json"));
        const std::string notes = textOf(folder / "INSTALL.txt");
        for (const char* expected : {"Tavimo.vst3", "-source.tar.gz", "Routing the sidechain",
                                     "Removing", "GNU General Public License"})
            EXPECT_NE(notes.find(expected), std::string::npos) << folder << ": " << expected;
    }
    EXPECT_TRUE(fs::is_regular_file(linux / "LICENSE"));
    EXPECT_TRUE(fs::is_regular_file(windows / "LICENSE.txt"));

    const RunResult info = runTavimo({"info", "--plugin", (linux / "Tavimo.vst3").string()});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("\"Tavimo\"  Audio Module Class / Fx"), std::string::npos) << info.out;
}

} // namespace
} // namespace tav::test
