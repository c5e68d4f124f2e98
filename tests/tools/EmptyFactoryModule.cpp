// A VST3 module that loads and answers with a factory of no classes: what a host meets when a
// bundle is not the one it expects.
#include "pluginterfaces/base/ipluginbase.h"

#include <cstring>

using namespace Steinberg;

namespace {

class EmptyFactory : public IPluginFactory {
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) ||
            FUnknownPrivate::iidEqual(iid, IPluginFactory::iid)) {
            *obj = this;
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) override {
        std::memset(info, 0, sizeof(*info));
        std::strcpy(info->vendor, "Nobody");
        return kResultOk;
    }
    int32 PLUGIN_API countClasses() override { return 0; }
    tresult PLUGIN_API getClassInfo(int32, PClassInfo*) override { return kInvalidArgument; }
    tresult PLUGIN_API createInstance(FIDString, FIDString, void** obj) override {
        *obj = nullptr;
        return kNotImplemented;
    }
};

EmptyFactory factory;

} // namespace

extern "C" {
__attribute__((visibility("default"))) IPluginFactory* PLUGIN_API GetPluginFactory() {
    return &factory;
}
__attribute__((visibility("default"))) bool ModuleEntry(void*) {
    return true;
}
__attribute__((visibility("default"))) bool ModuleExit() {
    return true;
}
}
