#pragma once

// The plug-in tests' host: the built bundle loaded, and its two classes created, initialised
// and connected by the command-line host's own classes (tools/host) as a DAW does. On top, the
// raw calls the tests make: bus layouts and blocks of their choosing, each restart request as
// it came, streams and state bytes.

#include "dsp/AnalysisRecord.h"

#include "support/NoRefCount.h"
#include "tools/host/ComponentHandler.h"
#include "tools/host/ConnectionProxy.h"
#include "tools/host/ParameterChanges.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/PluginModule.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "public.sdk/source/common/memorystream.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tav::test {

using namespace Steinberg;
using namespace Steinberg::Vst;
using host::ParameterChanges;

// The bundle's shared object with its three entry points, opened directly for the tests of
// the entry points and the factory themselves.
class Module {
public:
    Module();
    ~Module();
    bool loaded() const { return handle != nullptr; }

    using GetFactoryFunction = IPluginFactory* (*)();
    using EntryFunction = bool (*)(void*);
    using ExitFunction = bool (*)();

    void* handle = nullptr;
    GetFactoryFunction getFactory = nullptr;
    EntryFunction entry = nullptr;
    ExitFunction exit = nullptr;
};

// The host's component handler, also keeping every restart request as it came (the host's
// own merges them into flags).
class RestartLoggingHandler : public host::ComponentHandler {
public:
    // Main thread.
    tresult PLUGIN_API restartComponent(int32 flags) override;

    std::vector<int32> restarts;
    // Called inside restartComponent, as hosts that read the latency there do.
    std::function<void(int32 flags)> onRestart;
};

// One plug-in instance as the host makes it: processor and controller initialised, connected
// through the host's proxies and given the processor's state.
class PluginInstance {
public:
    // Main thread; allocates. ok() tells whether the host could make the instance.
    PluginInstance();
    ~PluginInstance();
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    // Success, or what the host said when it could not make the instance.
    testing::AssertionResult ok() const;
    // Arranges the buses, sets up processing and activates, as a host does before audio.
    void activate(double sampleRate, int32 maxBlock, SpeakerArrangement main,
                  SpeakerArrangement side, bool sidechain);
    void deactivate();
    // One block through process, exactly these channels on each bus; parameter changes optional.
    tresult process(const std::vector<const float*>& a, const std::vector<const float*>& b,
                    const std::vector<float*>& out, int32 numSamples,
                    IParameterChanges* changes = nullptr);
    // The processor's saved state as bytes.
    std::vector<unsigned char> processorState();

    // Declared first, so that it outlives the instance that hands it to the controller.
    RestartLoggingHandler handler;
    // Borrowed from the host's instance; valid while this lives.
    IComponent* component = nullptr;
    IAudioProcessor* processor = nullptr;
    IEditController* controller = nullptr;
    const host::ConnectionProxy* toProcessor = nullptr;  // controller -> processor
    const host::ConnectionProxy* toController = nullptr; // processor -> controller
    bool active = false;

private:
    std::string failure;
    std::unique_ptr<host::PluginModule> module;
    std::unique_ptr<host::PluginInstance> instance;
};

// A stream holding exactly these bytes (a copy), positioned at the start.
IPtr<MemoryStream> streamOf(const std::vector<unsigned char>& bytes);
std::vector<unsigned char> bytesOf(MemoryStream& stream);

// Little-endian stream builders.
void appendInt32(std::vector<unsigned char>& bytes, int32_t value);
void appendDouble(std::vector<unsigned char>& bytes, double value);

// A parameter display string as ASCII.
std::string toAscii(const String128 text);

} // namespace tav::test
