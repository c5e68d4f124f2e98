// The module's surface: the plug-in factory with its two classes and the platform's entry
// points. Nothing else is exported (a version script on Linux, a .def file on Windows).

#include "plugin/ModuleLocation.h"
#include "plugin/TavimoController.h"
#include "plugin/TavimoIds.h"
#include "plugin/TavimoProcessor.h"
#include "plugin/sdk/CPluginFactory.h"
#include "plugin/sdk/ModuleInit.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <mutex>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#endif

using namespace Steinberg;

namespace tav::plugin {
namespace {

// The module's one factory while the host holds it; cleared when the last reference goes.
class TavimoFactory final : public sdk::CPluginFactory {
public:
    using CPluginFactory::CPluginFactory;
    ~TavimoFactory() override;
};

std::mutex& factoryLock() {
    static std::mutex lock;
    return lock;
}

TavimoFactory* gFactory = nullptr;

TavimoFactory::~TavimoFactory() {
    std::lock_guard guard(factoryLock());
    if (gFactory == this)
        gFactory = nullptr;
}

PClassInfo2 classInfo(const FUID& uid, const char* category, const char* name, int32 flags,
                      const char* subCategories) {
    TUID cid;
    uid.toTUID(cid);
    return PClassInfo2(cid, PClassInfo::kManyInstances, category, name, flags, subCategories,
                       nullptr, kVersion, kSdkVersion);
}

// The class records are built once per module, whichever thread asks first.
const PClassInfo2& processorClassInfo() {
    static const PClassInfo2 info = classInfo(kProcessorUID, kVstAudioEffectClass, kProcessorName,
                                              Vst::kDistributable, kSubCategories);
    return info;
}

const PClassInfo2& controllerClassInfo() {
    static const PClassInfo2 info =
        classInfo(kControllerUID, kVstComponentControllerClass, kControllerName, 0, nullptr);
    return info;
}

TavimoFactory* makeFactory() {
    const PFactoryInfo info(kVendor, kUrl, "", PFactoryInfo::kUnicode);
    TavimoFactory* factory = nullptr;
    try {
        factory = new TavimoFactory(info);
        factory->registerClass(processorClassInfo(), &TavimoProcessor::createInstance);
        factory->registerClass(controllerClassInfo(), &TavimoController::createInstance);
    } catch (const std::bad_alloc&) {
        if (factory != nullptr)
            factory->release();
        return nullptr;
    }
    return factory;
}

} // namespace

} // namespace tav::plugin

extern "C" {

#if defined(_WIN32)
#define TAVIMO_EXPORT
#else
#define TAVIMO_EXPORT __attribute__((visibility("default")))
#endif

TAVIMO_EXPORT IPluginFactory* PLUGIN_API GetPluginFactory() {
    using namespace tav::plugin;
    std::lock_guard guard(factoryLock());
    if (gFactory != nullptr && gFactory->tryAddRef())
        return gFactory;
    gFactory = makeFactory();
    return gFactory;
}

#if defined(_WIN32)

TAVIMO_EXPORT bool InitDll() {
    return tav::sdk::enterModule();
}

TAVIMO_EXPORT bool ExitDll() {
    return tav::sdk::exitModule();
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH)
        tav::plugin::setModuleHandle(instance);
    return TRUE;
}

#else

TAVIMO_EXPORT bool ModuleEntry(void* sharedLibraryHandle) {
    tav::plugin::setModuleHandle(sharedLibraryHandle);
    return tav::sdk::enterModule();
}

TAVIMO_EXPORT bool ModuleExit() {
    return tav::sdk::exitModule();
}

#endif

} // extern "C"
