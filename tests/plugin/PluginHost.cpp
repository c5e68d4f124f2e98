#include "PluginHost.h"

#include "pluginterfaces/vst/ivstmessage.h"

#include <cstring>
#include <dlfcn.h>

namespace tav::test {

Module::Module() {
    handle = dlopen(TAVIMO_TEST_BUNDLE, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return;
    getFactory = reinterpret_cast<GetFactoryFunction>(dlsym(handle, "GetPluginFactory"));
    entry = reinterpret_cast<EntryFunction>(dlsym(handle, "ModuleEntry"));
    exit = reinterpret_cast<ExitFunction>(dlsym(handle, "ModuleExit"));
    if (entry != nullptr)
        entry(handle);
}

Module::~Module() {
    if (handle == nullptr)
        return;
    if (exit != nullptr)
        exit();
    dlclose(handle);
}

tresult PLUGIN_API ParamQueue::getPoint(int32 index, int32& offset, ParamValue& value) {
    if (index < 0 || index >= getPointCount())
        return kResultFalse;
    offset = points[static_cast<size_t>(index)].first;
    value = points[static_cast<size_t>(index)].second;
    return kResultTrue;
}

tresult PLUGIN_API ParamQueue::addPoint(int32 offset, ParamValue value, int32& index) {
    index = getPointCount();
    points.emplace_back(offset, value);
    return kResultTrue;
}

tresult PLUGIN_API ParamQueue::queryInterface(const TUID iid, void** obj) {
    QUERY_INTERFACE(iid, obj, FUnknown::iid, IParamValueQueue)
    QUERY_INTERFACE(iid, obj, IParamValueQueue::iid, IParamValueQueue)
    *obj = nullptr;
    return kNoInterface;
}

void ParamChanges::add(ParamID id, int32 offset, ParamValue value) {
    int32 index = 0;
    IParamValueQueue* queue = addParameterData(id, index);
    queue->addPoint(offset, value, index);
}

IParamValueQueue* PLUGIN_API ParamChanges::getParameterData(int32 index) {
    if (index < 0 || index >= getParameterCount())
        return nullptr;
    return queues[static_cast<size_t>(index)].get();
}

IParamValueQueue* PLUGIN_API ParamChanges::addParameterData(const ParamID& id, int32& index) {
    for (size_t i = 0; i < queues.size(); ++i) {
        if (queues[i]->id == id) {
            index = static_cast<int32>(i);
            return queues[i].get();
        }
    }
    queues.push_back(std::make_unique<ParamQueue>(id));
    index = static_cast<int32>(queues.size() - 1);
    return queues.back().get();
}

tresult PLUGIN_API ParamChanges::queryInterface(const TUID iid, void** obj) {
    QUERY_INTERFACE(iid, obj, FUnknown::iid, IParameterChanges)
    QUERY_INTERFACE(iid, obj, IParameterChanges::iid, IParameterChanges)
    *obj = nullptr;
    return kNoInterface;
}

tresult PLUGIN_API ComponentHandlerSpy::restartComponent(int32 flags) {
    restarts.push_back(flags);
    if (onRestart)
        onRestart(flags);
    return kResultOk;
}

tresult PLUGIN_API ComponentHandlerSpy::queryInterface(const TUID iid, void** obj) {
    QUERY_INTERFACE(iid, obj, FUnknown::iid, IComponentHandler)
    QUERY_INTERFACE(iid, obj, IComponentHandler::iid, IComponentHandler)
    *obj = nullptr;
    return kNoInterface;
}

tresult PLUGIN_API ConnectionSpy::connect(IConnectionPoint* other) {
    target = other;
    return kResultOk;
}

tresult PLUGIN_API ConnectionSpy::disconnect(IConnectionPoint* /*other*/) {
    target = nullptr;
    return kResultOk;
}

tresult PLUGIN_API ConnectionSpy::notify(IMessage* message) {
    if (message == nullptr || message->getMessageID() == nullptr)
        return kInvalidArgument;
    messages[message->getMessageID()]++;
    if (IAttributeList* attributes = message->getAttributes())
        attributes->getInt("quality", lastQuality);
    return target != nullptr ? target->notify(message) : kResultFalse;
}

tresult PLUGIN_API ConnectionSpy::queryInterface(const TUID iid, void** obj) {
    QUERY_INTERFACE(iid, obj, FUnknown::iid, IConnectionPoint)
    QUERY_INTERFACE(iid, obj, IConnectionPoint::iid, IConnectionPoint)
    *obj = nullptr;
    return kNoInterface;
}

int ConnectionSpy::count(const std::string& id) const {
    const auto it = messages.find(id);
    return it == messages.end() ? 0 : it->second;
}

PluginInstance::PluginInstance() : host(std::make_unique<HostApplication>()) {
    if (!module.loaded() || module.getFactory == nullptr)
        return;
    factory = owned(module.getFactory());
    if (!factory)
        return;
    PClassInfo processorInfo;
    if (factory->getClassInfo(0, &processorInfo) != kResultOk)
        return;
    void* object = nullptr;
    if (factory->createInstance(processorInfo.cid, IComponent::iid, &object) != kResultOk)
        return;
    component = owned(static_cast<IComponent*>(object));
    if (component->initialize(host.get()) != kResultOk)
        return;
    processor = FUnknownPtr<IAudioProcessor>(component);

    TUID controllerId;
    if (component->getControllerClassId(controllerId) != kResultOk)
        return;
    object = nullptr;
    if (factory->createInstance(controllerId, IEditController::iid, &object) != kResultOk)
        return;
    controller = owned(static_cast<IEditController*>(object));
    if (controller->initialize(host.get()) != kResultOk)
        return;
    controller->setComponentHandler(&handler);

    FUnknownPtr<IConnectionPoint> processorPoint(component);
    FUnknownPtr<IConnectionPoint> controllerPoint(controller);
    toProcessor.connect(processorPoint);
    toController.connect(controllerPoint);
    processorPoint->connect(&toController);
    controllerPoint->connect(&toProcessor);

    MemoryStream state;
    component->getState(&state);
    state.seek(0, IBStream::kIBSeekSet, nullptr);
    controller->setComponentState(&state);
}

PluginInstance::~PluginInstance() {
    if (active)
        deactivate();
    if (component && controller) {
        FUnknownPtr<IConnectionPoint> processorPoint(component);
        FUnknownPtr<IConnectionPoint> controllerPoint(controller);
        processorPoint->disconnect(&toController);
        controllerPoint->disconnect(&toProcessor);
    }
    if (controller) {
        controller->setComponentHandler(nullptr);
        controller->terminate();
    }
    if (component)
        component->terminate();
    controller = nullptr;
    processor = nullptr;
    component = nullptr;
    factory = nullptr;
}

void PluginInstance::activate(double sampleRate, int32 maxBlock, SpeakerArrangement main,
                              SpeakerArrangement side, bool sidechain) {
    SpeakerArrangement inputs[2] = {main, side};
    SpeakerArrangement outputs[1] = {main};
    processor->setBusArrangements(inputs, 2, outputs, 1);
    component->activateBus(kAudio, kInput, 1, sidechain);
    ProcessSetup setup{kOffline, kSample32, maxBlock, sampleRate};
    processor->setupProcessing(setup);
    component->setActive(true);
    processor->setProcessing(true);
    active = true;
}

void PluginInstance::deactivate() {
    processor->setProcessing(false);
    component->setActive(false);
    active = false;
}

tresult PluginInstance::process(const std::vector<const float*>& a,
                                const std::vector<const float*>& b, const std::vector<float*>& out,
                                int32 numSamples, IParameterChanges* changes) {
    AudioBusBuffers inputs[2]{};
    inputs[0].numChannels = static_cast<int32>(a.size());
    inputs[0].channelBuffers32 = const_cast<float**>(a.data());
    inputs[1].numChannels = static_cast<int32>(b.size());
    inputs[1].channelBuffers32 = b.empty() ? nullptr : const_cast<float**>(b.data());
    AudioBusBuffers outputs[1]{};
    outputs[0].numChannels = static_cast<int32>(out.size());
    outputs[0].channelBuffers32 = const_cast<float**>(out.data());
    ProcessData data;
    data.processMode = kOffline;
    data.symbolicSampleSize = kSample32;
    data.numSamples = numSamples;
    data.numInputs = 2;
    data.numOutputs = 1;
    data.inputs = inputs;
    data.outputs = outputs;
    data.inputParameterChanges = changes;
    return processor->process(data);
}

std::vector<unsigned char> PluginInstance::processorState() {
    MemoryStream stream;
    component->getState(&stream);
    return bytesOf(stream);
}

IPtr<MemoryStream> streamOf(const std::vector<unsigned char>& bytes) {
    auto stream = owned(new MemoryStream());
    int32 written = 0;
    if (!bytes.empty())
        stream->write(const_cast<unsigned char*>(bytes.data()), static_cast<int32>(bytes.size()),
                      &written);
    stream->seek(0, IBStream::kIBSeekSet, nullptr);
    return stream;
}

std::vector<unsigned char> bytesOf(MemoryStream& stream) {
    int64 end = 0;
    stream.seek(0, IBStream::kIBSeekEnd, &end);
    const auto* data = reinterpret_cast<const unsigned char*>(stream.getData());
    return std::vector<unsigned char>(data, data + end);
}

void appendInt32(std::vector<unsigned char>& bytes, int32_t value) {
    uint32_t bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

void appendDouble(std::vector<unsigned char>& bytes, double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    for (int i = 0; i < 8; ++i)
        bytes.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

std::string toAscii(const String128 text) {
    std::string result;
    for (int i = 0; i < 128 && text[i] != 0; ++i)
        result.push_back(text[i] < 128 ? static_cast<char>(text[i]) : '?');
    return result;
}

} // namespace tav::test
