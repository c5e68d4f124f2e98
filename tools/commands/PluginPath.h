#pragma once

#include "tools/host/PluginModule.h"

#include <filesystem>
#include <string>

namespace tav::tools {

// Main thread. The bundle a command's --plugin option names, or the one beside tavimo when the
// option was left out.
inline std::filesystem::path pluginPath(const std::string& option) {
    return option.empty() ? host::PluginModule::defaultBundlePath() : std::filesystem::path(option);
}

} // namespace tav::tools
