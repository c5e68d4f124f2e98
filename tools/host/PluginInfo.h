#pragma once

#include "tools/host/PluginModule.h"

#include <ostream>

namespace tav::host {

// What `tavimo info` prints: the module's classes, parameters, buses and latencies, all asked
// of a live instance through the VST3 interfaces.
class PluginInfo {
public:
    // Main thread; allocates. Throws HostError when the module lacks its classes.
    static void print(const PluginModule& module, std::ostream& out);
};

} // namespace tav::host
