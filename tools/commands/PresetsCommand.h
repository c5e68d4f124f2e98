#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace tav::tools {

// Registers `tavimo presets`: lists the factory presets and the user's own with their values,
// or writes the factory presets as .vstpreset files. When chosen, `action` becomes its run.
void addPresetsCommand(CLI::App& app, std::function<int()>& action);

} // namespace tav::tools
