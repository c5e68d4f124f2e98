// The fuzz targets link the plug-in classes without the module's entry points, which is where
// the module's location normally comes from: there is no bundle around them.
#include "plugin/ModuleLocation.h"

namespace tav::plugin {

std::filesystem::path moduleDirectory() {
    return {};
}

void* moduleHandle() {
    return nullptr;
}

} // namespace tav::plugin
