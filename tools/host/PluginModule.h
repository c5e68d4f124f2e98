#pragma once

#include "tools/HostError.h"

#include "pluginterfaces/base/ipluginbase.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tav::host {

// One class the module's factory offers.
struct PluginClass {
    Steinberg::TUID cid{};
    std::string category;
    std::string name;
    std::string subCategories; // empty when the factory has no class info 2
    std::string version;
    std::string sdkVersion;
    int32_t cardinality = 0;
    uint32_t classFlags = 0;
};

// A loaded VST3 module: the shared library of a bundle, entered as a host enters it
// (ModuleEntry on Linux, InitDll on Windows) and left the same way when destroyed.
class PluginModule {
public:
    // Main thread; allocates. Loads the bundle (or the library inside it) at path.
    // Throws HostError when it is missing, does not load or exports no factory.
    explicit PluginModule(const std::filesystem::path& path);
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    // Main thread. The factory's classes in registration order.
    const std::vector<PluginClass>& classes() const { return classList; }
    // Main thread. The first class of the category, or throws HostError naming what is missing.
    const PluginClass& findClass(const std::string& category) const;
    // Main thread. A new instance of cid answering for iid, or null.
    void* createInstance(const Steinberg::TUID cid, const Steinberg::TUID iid) const;

    Steinberg::IPluginFactory* factory() const { return pluginFactory; }
    const std::string& vendor() const { return factoryVendor; }
    const std::string& url() const { return factoryUrl; }
    const std::filesystem::path& libraryPath() const { return library; }

    // The bundle that sits beside the running executable.
    static std::filesystem::path defaultBundlePath();
    // The shared library inside a bundle for this platform (path itself when it is a file).
    static std::filesystem::path libraryInBundle(const std::filesystem::path& bundle);

private:
    void readClasses();
    void unload();

    std::filesystem::path library;
    void* handle = nullptr;
    bool entered = false;
    Steinberg::IPluginFactory* pluginFactory = nullptr;
    std::string factoryVendor;
    std::string factoryUrl;
    std::vector<PluginClass> classList;
};

} // namespace tav::host
