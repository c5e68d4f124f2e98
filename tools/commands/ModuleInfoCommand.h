#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace tav::tools {

// Registers `tavimo moduleinfo` (the bundle's moduleinfo.json, printed or written to a file).
// When the command is chosen, `action` becomes its run.
void addModuleInfoCommand(CLI::App& app, std::function<int()>& action);

} // namespace tav::tools
