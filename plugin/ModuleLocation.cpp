#include "plugin/ModuleLocation.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tav::plugin {
namespace {

void* gModuleHandle = nullptr;

// Any address inside this module finds the module's own file.
void addressInsideTheModule() {}

} // namespace

void* moduleHandle() {
    return gModuleHandle;
}

void setModuleHandle(void* handle) {
    if (gModuleHandle == nullptr)
        gModuleHandle = handle;
}

#if defined(_WIN32)

std::filesystem::path moduleDirectory() {
    HMODULE module = nullptr;
    const DWORD flags =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&addressInsideTheModule), &module))
        return {};
    wchar_t file[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(module, file, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::filesystem::path(file).parent_path();
}

#else

std::filesystem::path moduleDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&addressInsideTheModule), &info) == 0 ||
        info.dli_fname == nullptr)
        return {};
    return std::filesystem::path(info.dli_fname).parent_path();
}

#endif

std::filesystem::path fontsDirectory() {
    const std::filesystem::path directory = moduleDirectory();
    if (directory.empty())
        return {};
    return directory.parent_path() / "Resources" / "Fonts";
}

} // namespace tav::plugin
