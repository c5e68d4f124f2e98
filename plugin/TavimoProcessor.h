#pragma once

#include "engine/MorphEngine.h"
#include "plugin/StateFormat.h"
#include "plugin/sdk/AudioEffect.h"
#include "plugin/sdk/DataExchangeHandler.h"

#include <atomic>
#include <memory>

namespace tav::plugin {

// The audio processor: three buses (Main, Sidechain, Output), the six parameters mirrored
// from the host's queues, the morph engine run once per host block, and the analysis
// records published to the controller. process runs on the audio thread, everything else
// on the host's UI thread.
class TavimoProcessor : public sdk::AudioEffect {
public:
    // UI thread; allocates. Parameters at their defaults; names the controller class.
    TavimoProcessor();

    // Factory creation function: a new processor as its IAudioProcessor, or null.
    static Steinberg::FUnknown* createInstance(void* context);

    // UI thread; allocates. Declares the buses and creates the data-exchange handler.
    Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;
    // UI thread. Drops the data-exchange handler.
    Steinberg::tresult PLUGIN_API terminate() override;

    // UI thread. Connection to the controller; the data-exchange queue follows it.
    Steinberg::tresult PLUGIN_API connect(Steinberg::Vst::IConnectionPoint* other) override;
    Steinberg::tresult PLUGIN_API disconnect(Steinberg::Vst::IConnectionPoint* other) override;
    // UI thread. The Quality message and the data-exchange pull; others go to the base.
    Steinberg::tresult PLUGIN_API notify(Steinberg::Vst::IMessage* message) override;

    // UI thread. Records whether the sidechain bus is active.
    Steinberg::tresult PLUGIN_API activateBus(Steinberg::Vst::MediaType type,
                                              Steinberg::Vst::BusDirection dir,
                                              Steinberg::int32 index,
                                              Steinberg::TBool state) override;
    // UI thread; allocates when the engine must be prepared again. Always resets it.
    Steinberg::tresult PLUGIN_API setActive(Steinberg::TBool state) override;
    // UI thread; never allocates. The six values, all or nothing.
    Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) override;
    Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) override;

    // UI thread. Main and output mono or stereo and equal, sidechain mono or stereo.
    Steinberg::tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs,
                                                     Steinberg::int32 numIns,
                                                     Steinberg::Vst::SpeakerArrangement* outputs,
                                                     Steinberg::int32 numOuts) override;
    // Any thread. 32-bit float only.
    Steinberg::tresult PLUGIN_API
    canProcessSampleSize(Steinberg::int32 symbolicSampleSize) override;
    // Any thread. The prepared engine's latency, or the rule's for the stored setup.
    Steinberg::uint32 PLUGIN_API getLatencySamples() override;
    // UI thread. Stores the setup; the next activation prepares the engine again. Rates
    // outside 1 kHz..2 MHz (or not finite) are refused, and activation with them.
    Steinberg::tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) override;
    // Any thread. Nothing to do.
    Steinberg::tresult PLUGIN_API setProcessing(Steinberg::TBool state) override;
    // Audio thread; never allocates, locks or throws. A block that cannot be processed
    // leaves every output channel zeroed; silence flags mark the channels written as zero.
    Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override;
    // Any thread. No tail beyond the reported latency.
    Steinberg::uint32 PLUGIN_API getTailSamples() override;

private:
    void applyParameterChanges(Steinberg::Vst::IParameterChanges* changes);
    void storeParameter(Steinberg::Vst::ParamID id, double value);
    EngineParams engineParams() const;
    void publishAnalysis();
    ParameterValues currentValues() const;
    void setHighQuality(bool high);

    MorphEngine engine;
    // Set (release) once the engine's buffers are ready; the audio thread acquires it.
    std::atomic<bool> prepared{false};
    std::atomic<bool> active{false};
    std::atomic<bool> sidechainActive{false};
    // The last setup's rate was refused: activation waits for a usable one. UI thread only.
    bool setupRefused = false;
    std::atomic<Steinberg::int32> highQuality{0};
    // Written by the audio thread (parameter queues) and the UI thread (state, Quality
    // message) without ordering; relaxed atomics behave as plain stores.
    std::atomic<double> values[kParamCount];
    std::unique_ptr<sdk::DataExchangeHandler> dataExchange;
};

} // namespace tav::plugin
