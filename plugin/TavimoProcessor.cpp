#include "plugin/TavimoProcessor.h"

#include "dsp/AnalysisRecord.h"
#include "dsp/FrameGeometry.h"
#include "plugin/PresetDocument.h"
#include "plugin/TavimoIds.h"

#include "pluginterfaces/base/ustring.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/vstspeaker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>

namespace tav::plugin {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr int kMaxChannels = 2;
constexpr double kFallbackSampleRate = 48000.0;
// The rates the engine is made for; anything else (also NaN or infinity) is refused.
constexpr double kMinSampleRate = 1000.0;
constexpr double kMaxSampleRate = 2.0e6;

static_assert(std::atomic<double>::is_always_lock_free,
              "parameter values are shared with the audio thread without a lock");

bool isUsableRate(double rate) {
    return rate >= kMinSampleRate && rate <= kMaxSampleRate;
}

bool isMonoOrStereo(SpeakerArrangement arrangement) {
    return arrangement == SpeakerArr::kMono || arrangement == SpeakerArr::kStereo;
}

bool configureAnalysisQueue(sdk::DataExchangeConfig& config, const ProcessSetup& /*setup*/) {
    config.blockSize = kAnalysisRecordSize;
    config.numBlocks = kAnalysisQueueBlocks;
    config.alignment = kAnalysisQueueAlignment;
    config.userContextID = 0;
    return true;
}

// Stored values are kept as the host or the state gave them; the engine gets them in range.
double clampNormalized(double value) {
    return std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
}

// All bits set for the bus's channels (the silence flags are one bit per channel).
uint64 allChannelsSilent(int32 channels) {
    if (channels <= 0)
        return 0;
    return channels >= 64 ? ~uint64{0} : (uint64{1} << channels) - 1;
}

template <typename Sample>
void zeroChannels(Sample** buffers, int32 channels, int32 numSamples) {
    if (buffers == nullptr)
        return;
    for (int32 c = 0; c < channels; ++c) {
        if (buffers[c] != nullptr)
            std::fill_n(buffers[c], numSamples, Sample{0});
    }
}

// Every output channel the host gave is zeroed and flagged silent, so that whatever the host's
// buffers held is never played.
void silenceOutputs(ProcessData& data) {
    if (data.outputs == nullptr || data.numSamples <= 0)
        return;
    for (int32 i = 0; i < data.numOutputs; ++i) {
        AudioBusBuffers& bus = data.outputs[i];
        if (data.symbolicSampleSize == kSample32)
            zeroChannels(bus.channelBuffers32, bus.numChannels, data.numSamples);
        else
            zeroChannels(bus.channelBuffers64, bus.numChannels, data.numSamples);
        bus.silenceFlags = allChannelsSilent(bus.numChannels);
    }
}

// One bit per channel whose block is exactly zero.
uint64 silentChannels(const AudioBusBuffers& bus, int channels, int32 numSamples) {
    uint64 flags = 0;
    for (int c = 0; c < channels && c < 64; ++c) {
        const float* samples = bus.channelBuffers32[c];
        if (std::all_of(samples, samples + numSamples, [](float s) { return s == 0.0f; }))
            flags |= uint64{1} << c;
    }
    return flags;
}

bool hasChannels(const AudioBusBuffers& bus, int channels) {
    if (bus.numChannels < channels || bus.channelBuffers32 == nullptr)
        return false;
    for (int c = 0; c < channels; ++c) {
        if (bus.channelBuffers32[c] == nullptr)
            return false;
    }
    return true;
}

} // namespace

TavimoProcessor::TavimoProcessor() {
    for (int i = 0; i < kParamCount; ++i)
        values[i].store(kDefaultValues[i], std::memory_order_relaxed);
    setControllerClass(kControllerUID);
}

FUnknown* TavimoProcessor::createInstance(void* /*context*/) {
    try {
        return static_cast<IAudioProcessor*>(new TavimoProcessor());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

tresult PLUGIN_API TavimoProcessor::initialize(FUnknown* context) {
    const tresult result = AudioEffect::initialize(context);
    if (result != kResultOk)
        return result;
    addAudioInput(STR16("Main"), SpeakerArr::kStereo, kMain, BusInfo::kDefaultActive);
    addAudioInput(STR16("Sidechain"), SpeakerArr::kStereo, kAux, 0);
    addAudioOutput(STR16("Output"), SpeakerArr::kStereo, kMain, BusInfo::kDefaultActive);
    dataExchange = std::make_unique<sdk::DataExchangeHandler>(this, configureAnalysisQueue);
    if (peerConnection)
        dataExchange->onConnect(peerConnection, hostContext);
    return kResultOk;
}

tresult PLUGIN_API TavimoProcessor::terminate() {
    dataExchange.reset();
    return AudioEffect::terminate();
}

tresult PLUGIN_API TavimoProcessor::connect(IConnectionPoint* other) {
    const tresult result = AudioEffect::connect(other);
    if (result == kResultOk && dataExchange)
        dataExchange->onConnect(other, hostContext);
    return result;
}

tresult PLUGIN_API TavimoProcessor::disconnect(IConnectionPoint* other) {
    if (dataExchange)
        dataExchange->onDisconnect(other);
    return AudioEffect::disconnect(other);
}

tresult PLUGIN_API TavimoProcessor::notify(IMessage* message) {
    if (message == nullptr)
        return kInvalidArgument;
    if (dataExchange && dataExchange->onMessage(message))
        return kResultOk;
    const char* id = message->getMessageID();
    if (id == nullptr || std::strcmp(id, kQualityMessageId) != 0)
        return AudioEffect::notify(message);
    IAttributeList* attributes = message->getAttributes();
    int64 quality = 0;
    if (attributes == nullptr || attributes->getInt(kQualityAttribute, quality) != kResultTrue)
        return kResultOk;
    setHighQuality(quality != 0);
    values[kQualityId].store(quality != 0 ? 1.0 : 0.0, std::memory_order_relaxed);
    return kResultOk;
}

tresult PLUGIN_API TavimoProcessor::activateBus(MediaType type, BusDirection dir, int32 index,
                                                TBool state) {
    const tresult result = AudioEffect::activateBus(type, dir, index, state);
    if (result == kResultTrue && type == kAudio && dir == kInput && index == 1)
        sidechainActive.store(state != 0, std::memory_order_relaxed);
    return result;
}

tresult PLUGIN_API TavimoProcessor::setActive(TBool state) {
    if (state) {
        SpeakerArrangement arrangement = SpeakerArr::kStereo;
        if (getBusArrangement(kOutput, 0, arrangement) != kResultTrue)
            arrangement = SpeakerArr::kStereo;
        const int channels = std::clamp(SpeakerArr::getChannelCount(arrangement), 1, kMaxChannels);
        const int quality = highQuality.load();
        if (setupRefused || !isUsableRate(processSetup.sampleRate) ||
            processSetup.maxSamplesPerBlock <= 0)
            return kResultFalse;
        if (!prepared.load(std::memory_order_relaxed) || engine.channelCount() != channels ||
            engine.qualityMode() != quality) {
            prepared.store(false, std::memory_order_relaxed);
            try {
                engine.prepare(processSetup.sampleRate, channels, processSetup.maxSamplesPerBlock,
                               quality);
            } catch (const std::bad_alloc&) {
                return kOutOfMemory;
            }
            // Publishes the engine's buffers to the audio thread.
            prepared.store(true, std::memory_order_release);
        }
        engine.reset();
        if (dataExchange) {
            try {
                dataExchange->onActivate(processSetup);
            } catch (const std::bad_alloc&) {
                // Without a queue the editor shows no analysis; the sound is unaffected.
            }
        }
    } else if (dataExchange) {
        dataExchange->onDeactivate();
    }
    active.store(state != 0, std::memory_order_relaxed);
    return kResultOk;
}

tresult PLUGIN_API TavimoProcessor::setState(IBStream* state) {
    const bool fromPresetFile = presetFileNameOf(state).has_value();
    ParameterValues read{};
    if (!readProcessorState(state, read))
        return kResultFalse;
    // A preset never switches Bypass.
    if (fromPresetFile)
        read[kBypassId] = values[kBypassId].load(std::memory_order_relaxed);
    for (int i = 0; i < kParamCount; ++i)
        values[i].store(read[static_cast<size_t>(i)], std::memory_order_relaxed);
    setHighQuality(model::isOn(read[kQualityId]));
    return kResultOk;
}

tresult PLUGIN_API TavimoProcessor::getState(IBStream* state) {
    return writeProcessorState(state, currentValues()) ? kResultOk : kResultFalse;
}

tresult PLUGIN_API TavimoProcessor::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                       SpeakerArrangement* outputs, int32 numOuts) {
    if (numIns != 2 || numOuts != 1 || inputs == nullptr || outputs == nullptr)
        return kResultFalse;
    if (!isMonoOrStereo(inputs[0]) || !isMonoOrStereo(inputs[1]) || outputs[0] != inputs[0])
        return kResultFalse;
    return AudioEffect::setBusArrangements(inputs, numIns, outputs, numOuts);
}

tresult PLUGIN_API TavimoProcessor::canProcessSampleSize(int32 symbolicSampleSize) {
    return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

// The latency of the Quality asked for, whether or not the engine has taken it yet: hosts that
// read it inside restartComponent keep what they read, and the engine takes the new frame
// length at the next activation, which hosts that follow the interface do at once.
uint32 PLUGIN_API TavimoProcessor::getLatencySamples() {
    const double rate =
        isUsableRate(processSetup.sampleRate) ? processSetup.sampleRate : kFallbackSampleRate;
    return static_cast<uint32>(latencySamples(rate, highQuality.load()));
}

tresult PLUGIN_API TavimoProcessor::setupProcessing(ProcessSetup& setup) {
    prepared.store(false, std::memory_order_relaxed);
    setupRefused = !isUsableRate(setup.sampleRate);
    if (setupRefused)
        return kResultFalse;
    return AudioEffect::setupProcessing(setup);
}

tresult PLUGIN_API TavimoProcessor::setProcessing(TBool /*state*/) {
    return kResultOk;
}

uint32 PLUGIN_API TavimoProcessor::getTailSamples() {
    return kNoTail;
}

tresult PLUGIN_API TavimoProcessor::process(ProcessData& data) {
    applyParameterChanges(data.inputParameterChanges);

    if (data.numSamples <= 0)
        return kResultOk;
    if (data.numInputs < 1 || data.numOutputs < 1 || data.inputs == nullptr ||
        data.outputs == nullptr || !prepared.load(std::memory_order_acquire)) {
        silenceOutputs(data);
        return kResultOk;
    }
    if (data.symbolicSampleSize != kSample32) {
        silenceOutputs(data);
        return kResultFalse;
    }

    const int channels = engine.channelCount();
    AudioBusBuffers& main = data.inputs[0];
    AudioBusBuffers& out = data.outputs[0];
    if (!hasChannels(main, channels) || !hasChannels(out, channels)) {
        silenceOutputs(data);
        return kResultOk;
    }

    // B goes to the engine as the host delivers it; the engine matches its channels to A's.
    const bool sidechain = sidechainActive.load(std::memory_order_relaxed);
    const float* const* side = nullptr;
    int sideChannels = 0;
    if (sidechain && data.numInputs >= 2 && data.inputs[1].numChannels >= 1 &&
        data.inputs[1].channelBuffers32 != nullptr) {
        side = data.inputs[1].channelBuffers32;
        sideChannels = std::min<int>(data.inputs[1].numChannels, kMaxChannels);
    }

    const EngineParams params = engineParams();
    engine.process(main.channelBuffers32, side, sideChannels, out.channelBuffers32, data.numSamples,
                   params);
    // Channels beyond the engine's are not written: they are silence.
    zeroChannels(out.channelBuffers32 + channels, out.numChannels - channels, data.numSamples);
    out.silenceFlags = silentChannels(out, channels, data.numSamples) |
                       (allChannelsSilent(out.numChannels) & ~allChannelsSilent(channels));
    for (int32 i = 1; i < data.numOutputs; ++i) {
        zeroChannels(data.outputs[i].channelBuffers32, data.outputs[i].numChannels,
                     data.numSamples);
        data.outputs[i].silenceFlags = allChannelsSilent(data.outputs[i].numChannels);
    }

    if (engine.consumeMetersFresh())
        publishAnalysis();
    return kResultOk;
}

void TavimoProcessor::applyParameterChanges(IParameterChanges* changes) {
    if (changes == nullptr)
        return;
    const int32 count = changes->getParameterCount();
    for (int32 i = 0; i < count; ++i) {
        IParamValueQueue* queue = changes->getParameterData(i);
        if (queue == nullptr)
            continue;
        const int32 points = queue->getPointCount();
        if (points <= 0)
            continue;
        int32 offset = 0;
        ParamValue value = 0.0;
        if (queue->getPoint(points - 1, offset, value) == kResultTrue)
            storeParameter(queue->getParameterId(), value);
    }
}

void TavimoProcessor::storeParameter(ParamID id, double value) {
    // A non-finite point keeps the parameter's value: it would be saved and handed back.
    if (id >= static_cast<ParamID>(kParamCount) || !std::isfinite(value))
        return;
    values[id].store(value, std::memory_order_relaxed);
    if (id == kQualityId)
        setHighQuality(model::isOn(value));
}

EngineParams TavimoProcessor::engineParams() const {
    const auto value = [this](int id) {
        return clampNormalized(values[id].load(std::memory_order_relaxed));
    };
    EngineParams params;
    params.morph = sidechainActive.load(std::memory_order_relaxed)
                       ? static_cast<float>(value(kMorphId))
                       : 0.0f;
    params.mix = static_cast<float>(value(kMixId));
    params.outputGain = static_cast<float>(model::outputGainOf(value(kOutputId)));
    params.bypass = model::isOn(value(kBypassId));
    params.algorithm = model::algorithmOf(value(kAlgorithmId));
    return params;
}

void TavimoProcessor::publishAnalysis() {
    if (!dataExchange)
        return;
    const DataExchangeBlock block = dataExchange->getCurrentOrNewBlock();
    if (block.data == nullptr)
        return;
    if (block.size < kAnalysisRecordSize) {
        dataExchange->discardCurrentBlock();
        return;
    }
    auto* bytes = static_cast<unsigned char*>(block.data);
    const MeterBlock& meters = engine.meters();
    // The editor shows the latency of the audio being heard.
    const int32_t latency = static_cast<int32_t>(engine.currentLatency());
    const double sampleRate = processSetup.sampleRate;
    const uint32_t sidechain = sidechainActive.load(std::memory_order_relaxed) ? 1u : 0u;
    std::memcpy(bytes + offsetof(AnalysisRecord, meters), &meters, sizeof(MeterBlock));
    std::memcpy(bytes + offsetof(AnalysisRecord, latencySamples), &latency, sizeof(latency));
    std::memcpy(bytes + offsetof(AnalysisRecord, sampleRate), &sampleRate, sizeof(sampleRate));
    std::memcpy(bytes + offsetof(AnalysisRecord, sidechainActive), &sidechain, sizeof(sidechain));
    dataExchange->sendCurrentBlock();
}

ParameterValues TavimoProcessor::currentValues() const {
    ParameterValues current{};
    for (int i = 0; i < kParamCount; ++i)
        current[static_cast<size_t>(i)] = values[i].load(std::memory_order_relaxed);
    return current;
}

void TavimoProcessor::setHighQuality(bool high) {
    highQuality.exchange(high ? 1 : 0);
}

} // namespace tav::plugin
