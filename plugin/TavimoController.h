#pragma once

#include "dsp/AnalysisRecord.h"
#include "model/Presets.h"
#include "plugin/IAnalysisSource.h"
#include "plugin/PresetDocument.h"
#include "plugin/StateFormat.h"
#include "plugin/sdk/DataExchangeInterfaces.h"
#include "plugin/sdk/DataExchangeReceiverHandler.h"

#include "public.sdk/source/vst/vsteditcontroller.h"

#include <mutex>
#include <string>

namespace tav::plugin {

// The edit controller: the six parameters, the processor's state taken over, the editor's
// theme preference, the newest analysis record from the processor, and the Quality
// message. Everything runs on the host's UI thread except onDataExchangeBlocksReceived,
// which the host may call on its data-exchange thread.
class alignas(32) TavimoController : public Steinberg::Vst::EditControllerEx1,
                                     public Steinberg::Vst::IDataExchangeReceiver,
                                     public IAnalysisSource {
public:
    // UI thread; allocates.
    TavimoController();

    // Factory creation function: a new controller as its IEditController, or null.
    static Steinberg::FUnknown* createInstance(void* context);

    // UI thread; allocates. Creates the six parameters.
    Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;

    // UI thread. The processor's stream, read all or nothing; a Quality switch goes to
    // the processor as a message with a latency restart.
    Steinberg::tresult PLUGIN_API setComponentState(Steinberg::IBStream* state) override;
    // UI thread. The controller's own stream (the theme, the current preset's name and edited
    // flag). From a preset file a host loads, the name is the file's and the theme stays.
    Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) override;
    Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) override;
    // UI thread. A Quality switch also tells the processor and asks for a latency restart.
    // A non-finite value is ignored. A change to anything but Bypass marks the preset edited.
    Steinberg::tresult PLUGIN_API setParamNormalized(Steinberg::Vst::ParamID tag,
                                                     Steinberg::Vst::ParamValue value) override;
    // UI thread. Values outside 0..1 are shown as the nearest end of the range.
    Steinberg::tresult PLUGIN_API getParamStringByValue(Steinberg::Vst::ParamID tag,
                                                        Steinberg::Vst::ParamValue valueNormalized,
                                                        Steinberg::Vst::String128 string) override;
    // UI thread; allocates. The editor for "editor"; null for any other name.
    Steinberg::IPlugView* PLUGIN_API createView(Steinberg::FIDString name) override;

    // UI thread. Data-exchange messages first, then the base.
    Steinberg::tresult PLUGIN_API notify(Steinberg::Vst::IMessage* message) override;

    // IDataExchangeReceiver; the host's data-exchange thread or the UI thread.
    void PLUGIN_API queueOpened(Steinberg::Vst::DataExchangeUserContextID userContextID,
                                Steinberg::uint32 blockSize,
                                Steinberg::TBool& dispatchOnBackgroundThread) override;
    void PLUGIN_API queueClosed(Steinberg::Vst::DataExchangeUserContextID userContextID) override;
    void PLUGIN_API onDataExchangeBlocksReceived(
        Steinberg::Vst::DataExchangeUserContextID userContextID, Steinberg::uint32 numBlocks,
        Steinberg::Vst::DataExchangeBlock* blocks, Steinberg::TBool onBackgroundThread) override;

    // IAnalysisSource; UI thread. Asks the processor for finished records first when they
    // travel as messages.
    Steinberg::TBool PLUGIN_API takeLatestAnalysis(AnalysisRecord& out) override;

    // UI thread. The editor's theme preference, saved in the controller state.
    bool isDarkTheme() const { return settings.darkTheme; }
    void setDarkTheme(bool dark) { settings.darkTheme = dark; }

    // UI thread. The current preset's name and whether its values changed since it was loaded.
    const std::string& presetName() const { return settings.presetName; }
    bool presetEdited() const { return settings.presetEdited; }
    // UI thread; allocates. Loads a preset's values as edits the host hears of (the processor
    // takes them as parameter changes); Bypass stays as it is.
    void loadPreset(const std::string& name, const model::PresetValues& values);
    // UI thread; allocates. The current values under a name, Bypass off, for a preset file.
    PresetDocument currentPreset(const std::string& name) const;
    // UI thread. After saving under a name: the values are that preset's, unedited.
    void presetSaved(const std::string& name);
    // UI thread. The current preset was renamed; its edited flag stays.
    void presetRenamed(const std::string& name) { settings.presetName = name; }

    OBJ_METHODS(TavimoController, EditControllerEx1)
    DEFINE_INTERFACES
    DEF_INTERFACE(Steinberg::Vst::IDataExchangeReceiver)
    DEF_INTERFACE(IAnalysisSource)
    END_DEFINE_INTERFACES(EditControllerEx1)
    REFCOUNT_METHODS(EditControllerEx1)

private:
    void sendQualityMessage(bool high);
    void setValueAsEdit(Steinberg::Vst::ParamID tag, Steinberg::Vst::ParamValue value);

    std::mutex analysisLock;
    AnalysisRecord latestAnalysis{};
    bool analysisFresh = false;
    ControllerSettings settings;
    // Values arriving from a preset or a saved state are not edits of the preset.
    bool takingPresetValues = false;
    sdk::DataExchangeReceiverHandler dataExchangeReceiver;
};

} // namespace tav::plugin
