#pragma once

#include <atomic>
#include <functional>

namespace CLI {
class App;
}

namespace tav::tools {

// Registers `tavimo play` (A morphed toward B through the plug-in, live, through an audio
// device, with a status line and keys in a terminal). Linux builds only. When the command is
// chosen, `action` becomes its run, which ends after --seconds, on q, or when `interrupted`
// becomes true.
void addPlayCommand(CLI::App& app, std::function<int()>& action,
                    const std::atomic<bool>& interrupted);

} // namespace tav::tools
