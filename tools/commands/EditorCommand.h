#pragma once

#include <atomic>
#include <functional>

namespace CLI {
class App;
}

namespace tav::tools {

// Registers `tavimo editor` (the plug-in's editor in a window of its own, hosted as a DAW
// hosts it, while the processor plays the inputs in real time). Linux builds only. When the
// command is chosen, `action` becomes its run, which ends when the window is closed or
// `interrupted` becomes true.
void addEditorCommand(CLI::App& app, std::function<int()>& action,
                      const std::atomic<bool>& interrupted);

} // namespace tav::tools
