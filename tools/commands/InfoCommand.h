#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace tav::tools {

// Registers `tavimo info` (the plug-in's classes, parameters, buses and latencies, asked of a
// live instance). When the command is chosen, `action` becomes its run.
void addInfoCommand(CLI::App& app, std::function<int()>& action);

} // namespace tav::tools
