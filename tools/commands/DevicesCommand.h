#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace tav::tools {

// Registers `tavimo devices` (the audio devices live playback can use: name, channels, rates,
// which is the default). Linux builds only.
void addDevicesCommand(CLI::App& app, std::function<int()>& action);

} // namespace tav::tools
