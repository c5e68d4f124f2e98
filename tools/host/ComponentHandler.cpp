#include "tools/host/ComponentHandler.h"

#include <utility>

namespace tav::host {

ComponentHandler::ComponentHandler(){FUNKNOWN_CTOR}

IMPLEMENT_FUNKNOWN_METHODS(ComponentHandler, Vst::IComponentHandler, Vst::IComponentHandler::iid)

    tresult PLUGIN_API ComponentHandler::beginEdit(Vst::ParamID id) {
    log('b', id, 0.0);
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::performEdit(Vst::ParamID id, Vst::ParamValue value) {
    log('p', id, value);
    if (id >= kParameterCount)
        return kInvalidArgument;
    newest[id].store(value);
    edited.fetch_or(1u << id);
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::endEdit(Vst::ParamID id) {
    log('e', id, 0.0);
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::restartComponent(int32 flags) {
    pendingFlags.fetch_or(flags);
    return kResultOk;
}

uint32 ComponentHandler::takeEditedValues(std::array<Vst::ParamValue, kParameterCount>& values) {
    const uint32 bits = edited.exchange(0);
    for (int id = 0; id < kParameterCount; ++id) {
        if ((bits & (1u << id)) != 0)
            values[id] = newest[id].load();
    }
    return bits;
}

void ComponentHandler::log(char kind, Vst::ParamID id, Vst::ParamValue value) {
    if (!recording)
        return;
    std::lock_guard guard(logLock);
    events.push_back({kind, id, value});
}

std::vector<EditEvent> ComponentHandler::takeEdits() {
    std::lock_guard guard(logLock);
    return std::exchange(events, {});
}

} // namespace tav::host
