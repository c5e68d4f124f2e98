#include "plugin/TavimoController.h"

#include "plugin/StateFormat.h"
#include "plugin/TavimoEditor.h"
#include "plugin/TavimoIds.h"

#include "pluginterfaces/base/ustring.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "public.sdk/source/vst/vstparameters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace tav::plugin {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// The table's texts are ASCII; widened one character at a time.
void widen(const char* text, String128 out) {
    size_t i = 0;
    for (; i + 1 < 128 && text[i] != 0; ++i)
        out[i] = static_cast<TChar>(static_cast<unsigned char>(text[i]));
    out[i] = 0;
}

int32 flagsOf(const model::ParamInfo& param) {
    int32 flags = param.automatable ? ParameterInfo::kCanAutomate : 0;
    if (param.kind == model::ParamKind::List)
        flags |= ParameterInfo::kIsList;
    if (param.kind == model::ParamKind::Bypass)
        flags |= ParameterInfo::kIsBypass;
    return flags;
}

// The host-side parameter object for one entry of the table.
Parameter* makeParameter(const model::ParamInfo& param) {
    String128 name{}, units{};
    widen(param.name, name);
    widen(param.units, units);
    const TChar* unitsOrNone = param.units[0] != 0 ? units : nullptr;
    switch (param.kind) {
    case model::ParamKind::Range:
        return new RangeParameter(name, param.id, unitsOrNone, param.minimum, param.maximum,
                                  param.defaultPlain, param.stepCount, flagsOf(param));
    case model::ParamKind::List: {
        auto* list = new StringListParameter(name, param.id, unitsOrNone, flagsOf(param));
        for (const char* entry : param.entries) {
            String128 text{};
            widen(entry, text);
            list->appendString(text);
        }
        return list;
    }
    case model::ParamKind::Bypass:
        break;
    }
    return new Parameter(name, param.id, unitsOrNone, param.defaultNormalized(), param.stepCount,
                         flagsOf(param));
}

// Hosts echo values back with rounding; only a real change is an edit.
constexpr ParamValue kSameValue = 1e-7;

bool isHigh(ParamValue value) {
    return model::isOn(value);
}

} // namespace

TavimoController::TavimoController() : dataExchangeReceiver(this) {}

FUnknown* TavimoController::createInstance(void* /*context*/) {
    try {
        return static_cast<IEditController*>(new TavimoController());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

tresult PLUGIN_API TavimoController::initialize(FUnknown* context) {
    const tresult result = EditControllerEx1::initialize(context);
    if (result != kResultOk)
        return result;

    for (const model::ParamInfo& param : model::kParams)
        parameters.addParameter(makeParameter(param));
    return kResultOk;
}

tresult PLUGIN_API TavimoController::setComponentState(IBStream* state) {
    const bool fromPresetFile = presetFileNameOf(state).has_value();
    ParameterValues values{};
    if (!readProcessorState(state, values))
        return kResultFalse;
    // A preset never switches Bypass: the processor keeps its own too.
    if (fromPresetFile)
        values[kBypassId] = getParamNormalized(kBypassId);
    takingPresetValues = true;
    setParamNormalized(kQualityId, values[kQualityId]);
    for (int id = 0; id < static_cast<int>(kQualityId); ++id)
        EditController::setParamNormalized(static_cast<ParamID>(id),
                                           values[static_cast<size_t>(id)]);
    takingPresetValues = false;
    if (fromPresetFile)
        settings.presetEdited = false;
    return kResultOk;
}

tresult PLUGIN_API TavimoController::setState(IBStream* state) {
    const std::optional<std::string> fileName = presetFileNameOf(state);
    ControllerSettings read = settings;
    if (!readControllerState(state, read))
        return kResultFalse;
    if (fileName) {
        settings.presetName = *fileName;
        settings.presetEdited = false;
        return kResultOk;
    }
    settings = std::move(read);
    return kResultOk;
}

tresult PLUGIN_API TavimoController::getState(IBStream* state) {
    return writeControllerState(state, settings) ? kResultOk : kResultFalse;
}

void TavimoController::loadPreset(const std::string& name, const model::PresetValues& values) {
    const auto normalized = model::normalizedValues(values, getParamNormalized(kBypassId));
    takingPresetValues = true;
    for (const model::ParamInfo& param : model::kParams)
        if (param.id != kBypassId)
            setValueAsEdit(param.id, normalized[static_cast<size_t>(param.id)]);
    takingPresetValues = false;
    settings.presetName = name;
    settings.presetEdited = false;
}

void TavimoController::setValueAsEdit(ParamID tag, ParamValue value) {
    beginEdit(tag);
    setParamNormalized(tag, value);
    performEdit(tag, value);
    endEdit(tag);
}

PresetDocument TavimoController::currentPreset(const std::string& name) const {
    PresetDocument document;
    document.name = name;
    for (const model::ParamInfo& param : model::kParams)
        document.values[static_cast<size_t>(param.id)] =
            const_cast<TavimoController*>(this)->getParamNormalized(param.id);
    document.values[kBypassId] = 0.0;
    return document;
}

void TavimoController::presetSaved(const std::string& name) {
    settings.presetName = name;
    settings.presetEdited = false;
}

tresult PLUGIN_API TavimoController::setParamNormalized(ParamID tag, ParamValue value) {
    // The parameter keeps its value: a NaN handed out would be stored in projects.
    if (!std::isfinite(value))
        return kResultFalse;
    if (!takingPresetValues && tag != kBypassId &&
        std::abs(getParamNormalized(tag) - value) > kSameValue)
        settings.presetEdited = true;
    if (tag != kQualityId || isHigh(getParamNormalized(kQualityId)) == isHigh(value))
        return EditController::setParamNormalized(tag, value);
    const tresult result = EditController::setParamNormalized(tag, value);
    // The processor hears of the new Quality first: hosts read the latency as soon as they are
    // asked to restart, and the processor answers for the Quality it has been told of.
    sendQualityMessage(isHigh(value));
    if (componentHandler)
        componentHandler->restartComponent(kLatencyChanged);
    return result;
}

void TavimoController::sendQualityMessage(bool high) {
    IPtr<IMessage> message = owned(allocateMessage());
    if (!message)
        return;
    message->setMessageID(kQualityMessageId);
    if (IAttributeList* attributes = message->getAttributes())
        attributes->setInt(kQualityAttribute, high ? 1 : 0);
    sendMessage(message);
}

tresult PLUGIN_API TavimoController::getParamStringByValue(ParamID tag, ParamValue valueNormalized,
                                                           String128 string) {
    const ParamValue value =
        std::isnan(valueNormalized) ? 0.0 : std::clamp(valueNormalized, 0.0, 1.0);
    return EditControllerEx1::getParamStringByValue(tag, value, string);
}

IPlugView* PLUGIN_API TavimoController::createView(FIDString name) {
    if (name == nullptr || std::strcmp(name, ViewType::kEditor) != 0)
        return nullptr;
    try {
        return new TavimoEditor(this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

tresult PLUGIN_API TavimoController::notify(IMessage* message) {
    if (dataExchangeReceiver.onMessage(message))
        return kResultOk;
    return EditControllerEx1::notify(message);
}

void PLUGIN_API TavimoController::queueOpened(DataExchangeUserContextID /*userContextID*/,
                                              uint32 /*blockSize*/,
                                              TBool& dispatchOnBackgroundThread) {
    dispatchOnBackgroundThread = true;
}

void PLUGIN_API TavimoController::queueClosed(DataExchangeUserContextID /*userContextID*/) {}

void PLUGIN_API TavimoController::onDataExchangeBlocksReceived(
    DataExchangeUserContextID /*userContextID*/, uint32 numBlocks, DataExchangeBlock* blocks,
    TBool /*onBackgroundThread*/) {
    if (numBlocks == 0 || blocks == nullptr)
        return;
    const DataExchangeBlock& newest = blocks[numBlocks - 1];
    if (newest.data == nullptr || newest.size < kAnalysisRecordSize)
        return;
    std::lock_guard guard(analysisLock);
    std::memcpy(&latestAnalysis, newest.data, kAnalysisRecordSize);
    analysisFresh = true;
}

TBool PLUGIN_API TavimoController::takeLatestAnalysis(AnalysisRecord& out) {
    dataExchangeReceiver.requestPendingBlocks(*this);
    std::lock_guard guard(analysisLock);
    if (!analysisFresh)
        return false;
    std::memcpy(&out, &latestAnalysis, kAnalysisRecordSize);
    analysisFresh = false;
    return true;
}

} // namespace tav::plugin
