#include "tools/host/PluginInstance.h"

#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "public.sdk/source/common/memorystream.h"

#include <cstring>

namespace tav::host {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr const char* kProcessorCategory = kVstAudioEffectClass;
constexpr int32 kProcessorStateVersion = 2;

template <typename Interface>
Interface* queryFrom(FUnknown* object) {
    Interface* result = nullptr;
    if (object != nullptr &&
        object->queryInterface(Interface::iid, reinterpret_cast<void**>(&result)) != kResultOk)
        return nullptr;
    return result;
}

SpeakerArrangement arrangementFor(int channels) {
    return channels == 1 ? SpeakerArr::kMono : SpeakerArr::kStereo;
}

void writeInt32(MemoryStream& stream, int32 value) {
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(static_cast<uint32>(value) >> (8 * i));
    stream.write(bytes, 4, nullptr);
}

void writeDouble(MemoryStream& stream, double value) {
    uint64 raw;
    std::memcpy(&raw, &value, 8);
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<unsigned char>(raw >> (8 * i));
    stream.write(bytes, 8, nullptr);
}

} // namespace

PluginInstance::PluginInstance(const PluginModule& module) {
    try {
        create(module);
    } catch (...) {
        destroy();
        throw;
    }
}

void PluginInstance::create(const PluginModule& module) {
    hostContext = std::make_unique<HostContext>();
    componentHandler = new ComponentHandler;

    const PluginClass& processorClass = module.findClass(kProcessorCategory);
    processorComponent =
        static_cast<IComponent*>(module.createInstance(processorClass.cid, IComponent::iid));
    if (processorComponent == nullptr)
        throw HostError("plug-in could not create its processor \"" + processorClass.name + "\"");
    if (processorComponent->initialize(hostContext.get()) != kResultOk)
        throw HostError("plug-in processor refused to initialise");
    audioProcessor = queryFrom<IAudioProcessor>(processorComponent);
    if (audioProcessor == nullptr)
        throw HostError("plug-in processor is not an audio processor");

    TUID controllerId{};
    if (processorComponent->getControllerClassId(controllerId) == kResultOk) {
        editController = static_cast<IEditController*>(
            module.createInstance(controllerId, IEditController::iid));
        if (editController != nullptr && editController->initialize(hostContext.get()) != kResultOk)
            throw HostError("plug-in controller refused to initialise");
    }
    if (editController == nullptr) {
        editController = queryFrom<IEditController>(processorComponent);
        controllerIsComponent = editController != nullptr;
    }
    if (editController == nullptr)
        throw HostError("plug-in has no edit controller class");
    editController->setComponentHandler(componentHandler);
    connect();

    // Hand the processor's own state to the controller, as a host does after creating both.
    MemoryStream state;
    if (processorComponent->getState(&state) == kResultOk) {
        state.seek(0, IBStream::kIBSeekSet, nullptr);
        editController->setComponentState(&state);
    }
    componentHandler->takeRestartFlags();
}

PluginInstance::~PluginInstance() {
    destroy();
}

void PluginInstance::destroy() {
    if (active)
        activate(false);
    disconnect();
    if (editController != nullptr) {
        editController->setComponentHandler(nullptr);
        if (!controllerIsComponent)
            editController->terminate();
        editController->release();
        editController = nullptr;
    }
    if (audioProcessor != nullptr) {
        audioProcessor->release();
        audioProcessor = nullptr;
    }
    if (processorComponent != nullptr) {
        processorComponent->terminate();
        processorComponent->release();
        processorComponent = nullptr;
    }
    if (componentHandler != nullptr) {
        componentHandler->release();
        componentHandler = nullptr;
    }
}

void PluginInstance::connect() {
    if (controllerIsComponent)
        return;
    auto* processorPoint = queryFrom<IConnectionPoint>(processorComponent);
    auto* controllerPoint = queryFrom<IConnectionPoint>(editController);
    if (processorPoint != nullptr && controllerPoint != nullptr) {
        processorToController = new ConnectionProxy(processorPoint);
        controllerToProcessor = new ConnectionProxy(controllerPoint);
        processorToController->connect(controllerPoint);
        controllerToProcessor->connect(processorPoint);
    }
    if (processorPoint != nullptr)
        processorPoint->release();
    if (controllerPoint != nullptr)
        controllerPoint->release();
    if (processorToController == nullptr) {
        // Keep the accessors valid for a module whose objects cannot be connected.
        processorToController = new ConnectionProxy(nullptr);
        controllerToProcessor = new ConnectionProxy(nullptr);
    }
}

void PluginInstance::disconnect() {
    for (ConnectionProxy** proxy : {&processorToController, &controllerToProcessor}) {
        if (*proxy == nullptr)
            continue;
        (*proxy)->disconnectAll();
        (*proxy)->release();
        *proxy = nullptr;
    }
}

void PluginInstance::restoreParameters(const ParameterSet& values) {
    MemoryStream state;
    writeInt32(state, kProcessorStateVersion);
    for (double value :
         {values.morph, values.algorithm, values.mix, values.output, values.bypass, values.quality})
        writeDouble(state, value);
    state.seek(0, IBStream::kIBSeekSet, nullptr);
    if (processorComponent->setState(&state) != kResultOk)
        throw HostError("plug-in refused its parameter state");
    state.seek(0, IBStream::kIBSeekSet, nullptr);
    if (editController->setComponentState(&state) != kResultOk)
        throw HostError("plug-in controller refused the processor's state");
}

void PluginInstance::setupProcessing(const ProcessingSetup& setup) {
    if (active)
        activate(false);
    SpeakerArrangement inputs[2] = {arrangementFor(setup.mainChannels),
                                    arrangementFor(setup.sideChannels)};
    SpeakerArrangement outputs[1] = {arrangementFor(setup.mainChannels)};
    const int32 inputBuses = setup.sideChannels > 0 ? 2 : 1;
    if (audioProcessor->setBusArrangements(inputs, 2, outputs, 1) != kResultOk)
        throw HostError("plug-in refused the bus layout (" + std::to_string(setup.mainChannels) +
                        " main, " + std::to_string(setup.sideChannels) + " sidechain channels)");
    processorComponent->activateBus(kAudio, kInput, 0, true);
    processorComponent->activateBus(kAudio, kInput, 1, inputBuses == 2);
    processorComponent->activateBus(kAudio, kOutput, 0, true);
    if (audioProcessor->canProcessSampleSize(kSample32) != kResultTrue)
        throw HostError("plug-in cannot process 32-bit float samples");

    ProcessSetup processSetup{};
    processSetup.processMode = setup.realtime ? kRealtime : kOffline;
    processSetup.symbolicSampleSize = kSample32;
    processSetup.maxSamplesPerBlock = setup.maxBlockSize;
    processSetup.sampleRate = setup.sampleRate;
    if (audioProcessor->setupProcessing(processSetup) != kResultOk)
        throw HostError("plug-in refused the processing setup");
    current = setup;
}

void PluginInstance::activate(bool on) {
    if (on == active)
        return;
    if (on) {
        if (processorComponent->setActive(true) != kResultOk)
            throw HostError("plug-in refused to activate");
        audioProcessor->setProcessing(true);
        samplePosition = 0;
    } else {
        audioProcessor->setProcessing(false);
        processorComponent->setActive(false);
    }
    active = on;
}

int PluginInstance::latencySamples() const {
    return static_cast<int>(audioProcessor->getLatencySamples());
}

void PluginInstance::process(const float* const* main, const float* const* side, float* const* out,
                             int numSamples, ParameterChanges* changes) {
    AudioBusBuffers inputs[2]{};
    inputs[0].numChannels = current.mainChannels;
    inputs[0].channelBuffers32 = const_cast<float**>(main);
    inputs[1].numChannels = side != nullptr ? current.sideChannels : 0;
    inputs[1].channelBuffers32 = const_cast<float**>(side);
    AudioBusBuffers outputs[1]{};
    outputs[0].numChannels = current.mainChannels;
    outputs[0].channelBuffers32 = const_cast<float**>(out);

    ProcessContext context{};
    context.state = ProcessContext::kPlaying;
    context.sampleRate = current.sampleRate;
    context.projectTimeSamples = samplePosition;

    ProcessData data{};
    data.processMode = current.realtime ? kRealtime : kOffline;
    data.symbolicSampleSize = kSample32;
    data.numSamples = numSamples;
    data.numInputs = current.sideChannels > 0 ? 2 : 1;
    data.numOutputs = 1;
    data.inputs = inputs;
    data.outputs = outputs;
    data.inputParameterChanges = changes;
    data.processContext = &context;
    audioProcessor->process(data);
    samplePosition += numSamples;
}

} // namespace tav::host
