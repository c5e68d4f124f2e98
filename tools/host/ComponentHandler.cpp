#include "tools/host/ComponentHandler.h"

namespace tav::host {

ComponentHandler::ComponentHandler(){FUNKNOWN_CTOR}

IMPLEMENT_FUNKNOWN_METHODS(ComponentHandler, Vst::IComponentHandler, Vst::IComponentHandler::iid)

    tresult PLUGIN_API ComponentHandler::restartComponent(int32 flags) {
    pendingFlags.fetch_or(flags);
    return kResultOk;
}

} // namespace tav::host
