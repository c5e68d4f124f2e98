#pragma once

#include "tools/host/PluginModule.h"

#include <ostream>
#include <string>

namespace tav::host {

// Contents/Resources/moduleinfo.json, which hosts that scan many plug-ins read instead of
// loading each module: the factory's info and classes, and the bundle's editor snapshots.
class ModuleInfo {
public:
    // Main thread; allocates. Writes the module-info file for the loaded module, named
    // moduleName, in the documented JSON5 layout (written as plain JSON, which JSON5 reads).
    static void write(const PluginModule& module, const std::string& moduleName, std::ostream& out);

    // Any thread; allocates. A class id as 32 uppercase hexadecimal digits, the same on
    // every platform: the form of the module-info file and of the snapshots' file names.
    static std::string classIdText(const Steinberg::TUID cid);
};

} // namespace tav::host
