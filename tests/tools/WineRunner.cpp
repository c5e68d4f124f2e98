#include "WineRunner.h"

namespace tav::test {

std::filesystem::path windowsBuild() {
    return TAVIMO_WINDOWS_BUILD_DIR;
}

std::string missingWindowsPiece(const std::vector<std::filesystem::path>& more) {
    std::vector<std::filesystem::path> needed{TAVIMO_WINE, windowsBuild() / "tavimo.exe",
                                              windowsBuild() /
                                                  "Tavimo.vst3/Contents/x86_64-win/Tavimo.vst3"};
    for (const auto& path : more)
        needed.push_back(windowsBuild() / path);
    for (const auto& path : needed)
        if (!std::filesystem::exists(path))
            return path.string();
    return {};
}

std::string wineCommand(const std::filesystem::path& folder, const std::filesystem::path& program,
                        const std::string& display) {
    // Without Mono or Gecko and without chatter.
    std::string command = "cd '" + folder.string() +
                          "' && WINEPREFIX='" TAVIMO_WINE_PREFIX
                          "' WINEDLLOVERRIDES='mscoree,mshtml=' WINEDEBUG=-all ";
    command += display.empty() ? "DISPLAY= " : "DISPLAY='" + display + "' ";
    return command + "'" TAVIMO_WINE "' '" + (windowsBuild() / program).string() + "'";
}

} // namespace tav::test
