#pragma once

#include <filesystem>

namespace tav::plugin {

// Any thread; allocates. The folder that holds the module file (the bundle's
// Contents/<architecture>/ folder), or an empty path when it cannot be found. The bundle's
// resources are in ../Resources from there.
std::filesystem::path moduleDirectory();

// Any thread. The module's platform handle (HINSTANCE on Windows, the dlopen handle given to
// ModuleEntry on Linux), or null before the host handed it over.
void* moduleHandle();

// Entry points only. Keeps the first handle the host hands over.
void setModuleHandle(void* handle);

// Any thread; allocates. The bundle's Contents/Resources/Fonts folder, two folders up from the
// module file; empty when the module file cannot be found.
std::filesystem::path fontsDirectory();

} // namespace tav::plugin
