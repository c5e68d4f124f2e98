#pragma once

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "public.sdk/source/vst/vstbus.h"
#include "public.sdk/source/vst/vstcomponent.h"

namespace tav::sdk {

// The processor base: a VST3 component that is also the audio processor, with audio buses
// and the stored processing setup. Every call but process comes on the host's UI thread.
class AudioEffect : public Steinberg::Vst::Component,
                    public Steinberg::Vst::IAudioProcessor,
                    public Steinberg::Vst::IProcessContextRequirements {
public:
    // UI thread; allocates. The initial setup is the host-less default: 44100 Hz, 1024
    // samples per block, 32-bit, realtime.
    AudioEffect();

    // UI thread; allocates. Appends a bus and returns it (owned by the component).
    Steinberg::Vst::AudioBus*
    addAudioInput(const Steinberg::Vst::TChar* name, Steinberg::Vst::SpeakerArrangement arrangement,
                  Steinberg::Vst::BusType type = Steinberg::Vst::kMain,
                  Steinberg::int32 flags = Steinberg::Vst::BusInfo::kDefaultActive);
    Steinberg::Vst::AudioBus*
    addAudioOutput(const Steinberg::Vst::TChar* name,
                   Steinberg::Vst::SpeakerArrangement arrangement,
                   Steinberg::Vst::BusType type = Steinberg::Vst::kMain,
                   Steinberg::int32 flags = Steinberg::Vst::BusInfo::kDefaultActive);

    // Any thread; never allocates. The bus at index, or null.
    Steinberg::Vst::AudioBus* getAudioInput(Steinberg::int32 index);
    Steinberg::Vst::AudioBus* getAudioOutput(Steinberg::int32 index);

    // IAudioProcessor. The defaults: any arrangements matching the bus counts, 32-bit only,
    // no latency, no tail, the setup stored as given.
    Steinberg::tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs,
                                                     Steinberg::int32 numIns,
                                                     Steinberg::Vst::SpeakerArrangement* outputs,
                                                     Steinberg::int32 numOuts) override;
    Steinberg::tresult PLUGIN_API
    getBusArrangement(Steinberg::Vst::BusDirection dir, Steinberg::int32 index,
                      Steinberg::Vst::SpeakerArrangement& arrangement) override;
    Steinberg::tresult PLUGIN_API
    canProcessSampleSize(Steinberg::int32 symbolicSampleSize) override;
    Steinberg::uint32 PLUGIN_API getLatencySamples() override;
    Steinberg::tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) override;
    Steinberg::tresult PLUGIN_API setProcessing(Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override;
    Steinberg::uint32 PLUGIN_API getTailSamples() override;

    // IProcessContextRequirements: nothing by default.
    Steinberg::uint32 PLUGIN_API getProcessContextRequirements() override;

    OBJ_METHODS(AudioEffect, Component)
    DEFINE_INTERFACES
    DEF_INTERFACE(Steinberg::Vst::IAudioProcessor)
    DEF_INTERFACE(Steinberg::Vst::IProcessContextRequirements)
    END_DEFINE_INTERFACES(Component)
    REFCOUNT_METHODS(Component)

protected:
    Steinberg::Vst::ProcessSetup processSetup;
};

} // namespace tav::sdk
