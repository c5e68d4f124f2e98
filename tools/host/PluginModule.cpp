#include "tools/host/PluginModule.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace tav::host {

using namespace Steinberg;

namespace {

#ifdef _WIN32
constexpr const char* kArchitectureFolder = "x86_64-win";
using EntryFunction = bool(PLUGIN_API*)();
using ExitFunction = bool(PLUGIN_API*)();
#else
constexpr const char* kArchitectureFolder = "x86_64-linux";
using EntryFunction = bool (*)(void*);
using ExitFunction = bool (*)();
#endif
using FactoryFunction = IPluginFactory*(PLUGIN_API*)();

std::string fixedText(const char* text, size_t capacity) {
    return std::string(text, strnlen(text, capacity));
}

void* openLibrary(const std::filesystem::path& path, std::string& error) {
#ifdef _WIN32
    HMODULE module = LoadLibraryW(path.wstring().c_str());
    if (module == nullptr)
        error = "Windows error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(module);
#else
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* text = dlerror();
        error = text != nullptr ? text : "unknown error";
    }
    return module;
#endif
}

void* findSymbol(void* module, const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
#else
    return dlsym(module, name);
#endif
}

void closeLibrary(void* module) {
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(module));
#else
    dlclose(module);
#endif
}

} // namespace

std::filesystem::path PluginModule::defaultBundlePath() {
#ifdef _WIN32
    wchar_t buffer[32768];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
    std::filesystem::path executable(std::wstring(buffer, length));
#else
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
#endif
    return executable.parent_path() / "Tavimo.vst3";
}

std::filesystem::path PluginModule::libraryInBundle(const std::filesystem::path& bundle) {
    std::error_code error;
    if (!std::filesystem::is_directory(bundle, error))
        return bundle;
#ifdef _WIN32
    const std::string fileName = bundle.stem().string() + ".vst3";
#else
    const std::string fileName = bundle.stem().string() + ".so";
#endif
    return bundle / "Contents" / kArchitectureFolder / fileName;
}

PluginModule::PluginModule(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        throw HostError("plug-in not found: " + path.string());
    library = libraryInBundle(path);
    if (!std::filesystem::is_regular_file(library, error))
        throw HostError("plug-in bundle has no module for this platform: " + library.string());

    std::string loadError;
    handle = openLibrary(library, loadError);
    if (handle == nullptr)
        throw HostError("plug-in does not load: " + library.string() + ": " + loadError);

#ifdef _WIN32
    auto entry = reinterpret_cast<EntryFunction>(findSymbol(handle, "InitDll"));
    const bool started = entry == nullptr || entry();
#else
    auto entry = reinterpret_cast<EntryFunction>(findSymbol(handle, "ModuleEntry"));
    const bool started = entry == nullptr || entry(handle);
#endif
    if (!started) {
        unload();
        throw HostError("plug-in refused to start: " + library.string());
    }
    entered = entry != nullptr;

    auto getFactory = reinterpret_cast<FactoryFunction>(findSymbol(handle, "GetPluginFactory"));
    if (getFactory == nullptr) {
        unload();
        throw HostError("not a VST3 module (no GetPluginFactory): " + library.string());
    }
    pluginFactory = getFactory();
    if (pluginFactory == nullptr) {
        unload();
        throw HostError("plug-in returned no factory: " + library.string());
    }
    readClasses();
}

PluginModule::~PluginModule() {
    unload();
}

void PluginModule::unload() {
    if (pluginFactory != nullptr) {
        pluginFactory->release();
        pluginFactory = nullptr;
    }
    if (handle == nullptr)
        return;
    if (entered) {
#ifdef _WIN32
        if (auto leave = reinterpret_cast<ExitFunction>(findSymbol(handle, "ExitDll")))
            leave();
#else
        if (auto leave = reinterpret_cast<ExitFunction>(findSymbol(handle, "ModuleExit")))
            leave();
#endif
        entered = false;
    }
    closeLibrary(handle);
    handle = nullptr;
}

void PluginModule::readClasses() {
    PFactoryInfo info{};
    if (pluginFactory->getFactoryInfo(&info) == kResultOk) {
        factoryVendor = fixedText(info.vendor, PFactoryInfo::kNameSize);
        factoryUrl = fixedText(info.url, PFactoryInfo::kURLSize);
    }
    IPluginFactory2* factory2 = nullptr;
    pluginFactory->queryInterface(IPluginFactory2::iid, reinterpret_cast<void**>(&factory2));

    const int32 count = pluginFactory->countClasses();
    for (int32 i = 0; i < count; ++i) {
        PluginClass entry;
        PClassInfo2 info2{};
        PClassInfo info1{};
        if (factory2 != nullptr && factory2->getClassInfo2(i, &info2) == kResultOk) {
            std::memcpy(entry.cid, info2.cid, sizeof(TUID));
            entry.category = fixedText(info2.category, PClassInfo::kCategorySize);
            entry.name = fixedText(info2.name, PClassInfo::kNameSize);
            entry.subCategories = fixedText(info2.subCategories, PClassInfo2::kSubCategoriesSize);
            entry.version = fixedText(info2.version, PClassInfo2::kVersionSize);
            entry.sdkVersion = fixedText(info2.sdkVersion, PClassInfo2::kVersionSize);
            entry.cardinality = info2.cardinality;
            entry.classFlags = info2.classFlags;
        } else if (pluginFactory->getClassInfo(i, &info1) == kResultOk) {
            std::memcpy(entry.cid, info1.cid, sizeof(TUID));
            entry.category = fixedText(info1.category, PClassInfo::kCategorySize);
            entry.name = fixedText(info1.name, PClassInfo::kNameSize);
            entry.cardinality = info1.cardinality;
        } else {
            continue;
        }
        classList.push_back(entry);
    }
    if (factory2 != nullptr)
        factory2->release();
}

const PluginClass& PluginModule::findClass(const std::string& category) const {
    for (const auto& entry : classList)
        if (entry.category == category)
            return entry;
    throw HostError("plug-in has no class of category \"" + category + "\": " + library.string());
}

void* PluginModule::createInstance(const TUID cid, const TUID iid) const {
    void* object = nullptr;
    if (pluginFactory->createInstance(cid, iid, &object) != kResultOk)
        return nullptr;
    return object;
}

} // namespace tav::host
