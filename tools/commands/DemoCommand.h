#pragma once

#include <atomic>
#include <functional>

namespace CLI {
class App;
}

namespace tav::tools {

// Registers `tavimo demo [DIR]` (the built-in inputs rendered with every algorithm). When the
// command is chosen, `action` becomes its run, which stops with an error once `interrupted`
// becomes true.
void addDemoCommand(CLI::App& app, std::function<int()>& action,
                    const std::atomic<bool>& interrupted);

} // namespace tav::tools
