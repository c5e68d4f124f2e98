#pragma once

#include <atomic>
#include <functional>

namespace CLI {
class App;
}

namespace tav::tools {

// Registers `tavimo render A B -o FILE` (A morphed toward B through the plug-in, offline, into
// a file). When the command is chosen, `action` becomes its run, which stops with an error once
// `interrupted` becomes true.
void addRenderCommand(CLI::App& app, std::function<int()>& action,
                      const std::atomic<bool>& interrupted);

} // namespace tav::tools
