#pragma once

#include "dsp/AnalysisRecord.h"
#include "plugin/IAnalysisSource.h"
#include "plugin/sdk/DataExchangeInterfaces.h"
#include "plugin/sdk/DataExchangeReceiverHandler.h"

#include "public.sdk/source/vst/vsteditcontroller.h"

#include <mutex>

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
    // UI thread. The controller's own stream (the theme).
    Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) override;
    Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) override;
    // UI thread. A Quality switch also tells the processor and asks for a latency restart.
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
    bool isDarkTheme() const { return darkTheme; }
    void setDarkTheme(bool dark) { darkTheme = dark; }

    OBJ_METHODS(TavimoController, EditControllerEx1)
    DEFINE_INTERFACES
    DEF_INTERFACE(Steinberg::Vst::IDataExchangeReceiver)
    DEF_INTERFACE(IAnalysisSource)
    END_DEFINE_INTERFACES(EditControllerEx1)
    REFCOUNT_METHODS(EditControllerEx1)

private:
    void sendQualityMessage(bool high);

    std::mutex analysisLock;
    AnalysisRecord latestAnalysis{};
    bool analysisFresh = false;
    bool darkTheme = false;
    sdk::DataExchangeReceiverHandler dataExchangeReceiver;
};

} // namespace tav::plugin
