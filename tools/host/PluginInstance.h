#pragma once

#include "tools/host/ComponentHandler.h"
#include "tools/host/ConnectionProxy.h"
#include "tools/host/HostContext.h"
#include "tools/host/ParameterChanges.h"
#include "tools/host/PluginModule.h"

#include "model/Parameters.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <memory>
#include <vector>

namespace tav::host {

// The plug-in's parameters as normalized values, in the table's id order, at its defaults.
struct ParameterSet {
    double morph = model::kDefaultValues[model::kMorphId];
    double algorithm = model::kDefaultValues[model::kAlgorithmId];
    double mix = model::kDefaultValues[model::kMixId];
    double output = model::kDefaultValues[model::kOutputId];
    double bypass = model::kDefaultValues[model::kBypassId];
    double quality = model::kDefaultValues[model::kQualityId];

    static double algorithmNormalized(int index) {
        return model::param(model::kAlgorithmId).toNormalized(index);
    }
    static double mixNormalized(double percent) {
        return model::param(model::kMixId).toNormalized(percent);
    }
    static double outputNormalized(double dB) {
        return model::param(model::kOutputId).toNormalized(dB);
    }
};

// What the audio runs at: rates, channel counts and block size of one session.
struct ProcessingSetup {
    double sampleRate = 48000.0;
    int mainChannels = 2;
    int sideChannels = 2;
    int maxBlockSize = 512;
    bool realtime = false; // as a live session plays, rather than an offline render
};

// One plug-in instance driven as a DAW drives it: processor and controller created from the
// factory, initialised with the host context, connected through proxies, the processor's
// state handed to the controller, buses arranged and activated, offline processing.
class PluginInstance {
public:
    // Main thread; allocates. Throws HostError when a class is missing or refuses to start.
    explicit PluginInstance(const PluginModule& module);
    // Main thread. Deactivates, disconnects, terminates and releases both objects.
    ~PluginInstance();
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    // Main thread. Restores the values as a saved project would: processor state, then the
    // same state handed to the controller. Throws HostError when refused.
    void restoreParameters(const ParameterSet& values);
    // Main thread. Arranges and activates the buses and sets up offline 32-bit processing.
    // Throws HostError when the plug-in refuses the layout, a bus or the setup.
    void setupProcessing(const ProcessingSetup& setup);
    // Main thread. setActive and setProcessing, both on or both off.
    void activate(bool on);
    // Main thread. The latency the processor reports now, in samples.
    int latencySamples() const;

    // Audio thread (the caller's). One block: main and side channel pointers per the setup.
    // side may be null when the setup has no side channels. Throws HostError when the
    // plug-in refuses the block.
    void process(const float* const* main, const float* const* side, float* const* out,
                 int numSamples, ParameterChanges* changes);

    Steinberg::Vst::IComponent* component() const { return processorComponent; }
    Steinberg::Vst::IAudioProcessor* processor() const { return audioProcessor; }
    Steinberg::Vst::IEditController* controller() const { return editController; }
    // Messages the processor sent to the controller, and the controller to the processor.
    const ConnectionProxy& toController() const { return *processorToController; }
    const ConnectionProxy& toProcessor() const { return *controllerToProcessor; }
    ComponentHandler& handler() const { return *componentHandler; }

private:
    void create(const PluginModule& module);
    void destroy();
    void connect();
    void disconnect();

    // The SDK's application object is not reference counted: the host owns it outright.
    std::unique_ptr<HostContext> hostContext;
    ComponentHandler* componentHandler = nullptr;
    Steinberg::Vst::IComponent* processorComponent = nullptr;
    Steinberg::Vst::IAudioProcessor* audioProcessor = nullptr;
    Steinberg::Vst::IEditController* editController = nullptr;
    bool controllerIsComponent = false;
    ConnectionProxy* processorToController = nullptr;
    ConnectionProxy* controllerToProcessor = nullptr;
    bool active = false;
    ProcessingSetup current;
    int64_t samplePosition = 0;
};

} // namespace tav::host
