#pragma once

#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <array>
#include <atomic>
#include <mutex>
#include <vector>

namespace tav::host {

using namespace Steinberg;

// One gesture step the controller reported: 'b'egin, 'p'erform or 'e'nd.
struct EditEvent {
    char kind = 'p';
    Vst::ParamID id = 0;
    Vst::ParamValue value = 0.0;
};

// Hears the controller. Restart requests are recorded; edits are kept as the newest value per
// parameter for the audio thread to pick up, and (when asked) as a log of every step.
class ComponentHandler : public Vst::IComponentHandler {
public:
    static constexpr int kParameterCount = 6;

    ComponentHandler();
    virtual ~ComponentHandler() = default;

    tresult PLUGIN_API beginEdit(Vst::ParamID id) override;
    tresult PLUGIN_API performEdit(Vst::ParamID id, Vst::ParamValue value) override;
    tresult PLUGIN_API endEdit(Vst::ParamID id) override;
    tresult PLUGIN_API restartComponent(int32 flags) override;

    // Main thread. Restart flags asked for since the last call; clears them.
    int32 takeRestartFlags() { return pendingFlags.exchange(0); }

    // Audio thread; never allocates or locks. A bit per parameter edited since the last call,
    // with the newest values written into values.
    uint32 takeEditedValues(std::array<Vst::ParamValue, kParameterCount>& values);

    // Main thread. Keeps a log of every gesture step from now on.
    void recordEdits() { recording = true; }
    // Main thread. The steps logged since the last call.
    std::vector<EditEvent> takeEdits();

    DECLARE_FUNKNOWN_METHODS

private:
    void log(char kind, Vst::ParamID id, Vst::ParamValue value);

    std::atomic<int32> pendingFlags{0};
    std::array<std::atomic<Vst::ParamValue>, kParameterCount> newest{};
    std::atomic<uint32> edited{0};
    bool recording = false;
    std::mutex logLock;
    std::vector<EditEvent> events;
};

} // namespace tav::host
