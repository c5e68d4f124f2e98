// The editor inside a Windows host under Wine: a cross-built test program attaches the bundle's
// editor to a window of its own, drives it with posted input and checks what the host hears.
#include "ToolRunner.h"
#include "WineRunner.h"

#include "support/XvfbServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

namespace tav::test {
namespace {

const std::filesystem::path kProgram = "tests/win32/tavimo_editor_attach_test.exe";

TEST(WindowsBuild, EditorAttachesAndEditsUnderWine) {
    if (const std::string missing = missingWindowsPiece({kProgram}); !missing.empty())
        GTEST_SKIP() << "no Windows build to test (" << missing << " is missing)";
    XvfbServer display;
    ASSERT_TRUE(display.ok()) << "no Xvfb: Wine needs a display for windows";
    const auto folder = freshFolder("windows_editor");
    const RunResult run = runCommand(wineCommand(folder, kProgram, display.display()) + " '" +
                                     (windowsBuild() / "Tavimo.vst3").string() + "'");
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
}

// What the module imports and exports, as the MinGW objdump reads its tables.
struct ModuleSurface {
    std::set<std::string> imports; // lower case
    std::set<std::string> exports;
};

ModuleSurface surfaceOf(const std::filesystem::path& module) {
    const RunResult dump = runCommand("x86_64-w64-mingw32-objdump -p '" + module.string() + "'");
    EXPECT_EQ(dump.exitCode, 0) << dump.err;
    ModuleSurface surface;
    std::istringstream lines(dump.out);
    bool inExports = false;
    for (std::string line; std::getline(lines, line);) {
        if (const auto at = line.find("DLL Name: "); at != std::string::npos) {
            std::string name = line.substr(at + 10);
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            surface.imports.insert(name);
        }
        if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos)
            inExports = true;
        else if (inExports && line.empty())
            inExports = false;
        else if (inExports && line.find(']') != std::string::npos)
            surface.exports.insert(line.substr(line.rfind(' ') + 1));
    }
    return surface;
}

TEST(WindowsBuild, ModuleImportsOnlySystemLibrariesAndExportsItsEntryPoints) {
    if (const std::string missing = missingWindowsPiece(); !missing.empty())
        GTEST_SKIP() << "no Windows build to test (" << missing << " is missing)";
    const ModuleSurface surface =
        surfaceOf(windowsBuild() / "Tavimo.vst3/Contents/x86_64-win/Tavimo.vst3");
    const std::set<std::string> system{
        "kernel32.dll", "user32.dll", "gdi32.dll", "ole32.dll",  "oleaut32.dll",     "shell32.dll",
        "advapi32.dll", "msvcrt.dll", "d2d1.dll",  "dwrite.dll", "windowscodecs.dll"};
    EXPECT_FALSE(surface.imports.empty());
    for (const std::string& name : surface.imports)
        EXPECT_TRUE(system.count(name) == 1) << name << " is not part of Windows";
    EXPECT_EQ(surface.exports, (std::set<std::string>{"ExitDll", "GetPluginFactory", "InitDll"}));
}

} // namespace
} // namespace tav::test
