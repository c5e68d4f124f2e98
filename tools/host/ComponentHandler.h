#pragma once

#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <atomic>

namespace tav::host {

using namespace Steinberg;

// Hears the controller: parameter edits are ignored offline, restart requests are recorded.
class ComponentHandler : public Vst::IComponentHandler {
public:
    ComponentHandler();
    virtual ~ComponentHandler() = default;

    tresult PLUGIN_API beginEdit(Vst::ParamID) override { return kResultOk; }
    tresult PLUGIN_API performEdit(Vst::ParamID, Vst::ParamValue) override { return kResultOk; }
    tresult PLUGIN_API endEdit(Vst::ParamID) override { return kResultOk; }
    tresult PLUGIN_API restartComponent(int32 flags) override;

    // Main thread. Restart flags asked for since the last call; clears them.
    int32 takeRestartFlags() { return pendingFlags.exchange(0); }

    DECLARE_FUNKNOWN_METHODS

private:
    std::atomic<int32> pendingFlags{0};
};

} // namespace tav::host
