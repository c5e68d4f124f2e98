// A VST3 module with Tavimo's classes whose processor refuses what the environment names:
// TAVIMO_TEST_REFUSE=bus refuses to activate the sidechain bus, =process refuses every block
// after the first few. What a host meets when a plug-in turns something down mid-way.
#include "plugin/ModuleLocation.h"
#include "plugin/TavimoController.h"
#include "plugin/TavimoIds.h"
#include "plugin/TavimoProcessor.h"
#include "plugin/sdk/CPluginFactory.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"

#include <cstdlib>
#include <cstring>

using namespace Steinberg;

namespace {

constexpr int kBlocksBeforeRefusing = 3;

bool refuses(const char* what) {
    const char* setting = std::getenv("TAVIMO_TEST_REFUSE");
    return setting != nullptr && std::strcmp(setting, what) == 0;
}

class RefusingProcessor : public tav::plugin::TavimoProcessor {
public:
    static FUnknown* createInstance(void*) {
        return static_cast<Vst::IAudioProcessor*>(new RefusingProcessor());
    }
    tresult PLUGIN_API activateBus(Vst::MediaType type, Vst::BusDirection dir, int32 index,
                                   TBool state) override {
        if (refuses("bus") && index == 1)
            return kResultFalse;
        return TavimoProcessor::activateBus(type, dir, index, state);
    }
    tresult PLUGIN_API process(Vst::ProcessData& data) override {
        if (refuses("process") && data.numSamples > 0 && ++blocks > kBlocksBeforeRefusing)
            return kResultFalse;
        return TavimoProcessor::process(data);
    }

private:
    int blocks = 0;
};

PClassInfo2 classInfo(const FUID& uid, const char* category, const char* name) {
    TUID cid;
    uid.toTUID(cid);
    return PClassInfo2(cid, PClassInfo::kManyInstances, category, name, 0, "Fx", nullptr,
                       tav::plugin::kVersion, tav::plugin::kSdkVersion);
}

} // namespace

extern "C" {
__attribute__((visibility("default"))) IPluginFactory* PLUGIN_API GetPluginFactory() {
    using namespace tav::plugin;
    auto* factory = new tav::sdk::CPluginFactory(PFactoryInfo("Tests", "", "", 0));
    factory->registerClass(classInfo(kProcessorUID, kVstAudioEffectClass, "Refusing"),
                           &RefusingProcessor::createInstance);
    factory->registerClass(
        classInfo(kControllerUID, kVstComponentControllerClass, "Refusing Controller"),
        &TavimoController::createInstance);
    return factory;
}
__attribute__((visibility("default"))) bool ModuleEntry(void*) {
    return true;
}
__attribute__((visibility("default"))) bool ModuleExit() {
    return true;
}
}
