#include "PluginHost.h"

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

tresult PLUGIN_API RestartLoggingHandler::restartComponent(int32 flags) {
    restarts.push_back(flags);
    if (onRestart)
        onRestart(flags);
    return ComponentHandler::restartComponent(flags);
}

PluginInstance::PluginInstance() {
    try {
        module = std::make_unique<host::PluginModule>(TAVIMO_TEST_BUNDLE);
        instance = std::make_unique<host::PluginInstance>(*module);
    } catch (const host::HostError& error) {
        failure = error.what();
        return;
    }
    component = instance->component();
    processor = instance->processor();
    controller = instance->controller();
    toProcessor = &instance->toProcessor();
    toController = &instance->toController();
    controller->setComponentHandler(&handler);
}

PluginInstance::~PluginInstance() {
    if (active)
        deactivate();
}

testing::AssertionResult PluginInstance::ok() const {
    if (instance)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << failure;
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
