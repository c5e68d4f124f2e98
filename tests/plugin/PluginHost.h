#pragma once

// A small VST3 host for tests: loads the built bundle, creates and connects the two classes
// as a host does, and offers parameter queues, streams and spies on messages and restarts.

#include "dsp/AnalysisRecord.h"

#include "support/NoRefCount.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "public.sdk/source/common/memorystream.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tav::test {

using namespace Steinberg;
using namespace Steinberg::Vst;

// The bundle's shared object with its three entry points.
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

class ParamQueue : public IParamValueQueue {
public:
    explicit ParamQueue(ParamID id) : id(id) {}
    ParamID PLUGIN_API getParameterId() override { return id; }
    int32 PLUGIN_API getPointCount() override { return static_cast<int32>(points.size()); }
    tresult PLUGIN_API getPoint(int32 index, int32& offset, ParamValue& value) override;
    tresult PLUGIN_API addPoint(int32 offset, ParamValue value, int32& index) override;
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    TAVIMO_TEST_NO_REFCOUNT

    ParamID id;
    std::vector<std::pair<int32, ParamValue>> points;
};

class ParamChanges : public IParameterChanges {
public:
    // Adds a point to the queue of id (created on first use).
    void add(ParamID id, int32 offset, ParamValue value);
    int32 PLUGIN_API getParameterCount() override { return static_cast<int32>(queues.size()); }
    IParamValueQueue* PLUGIN_API getParameterData(int32 index) override;
    IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) override;
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    TAVIMO_TEST_NO_REFCOUNT

    std::vector<std::unique_ptr<ParamQueue>> queues;
};

// Counts restartComponent flags.
class ComponentHandlerSpy : public IComponentHandler {
public:
    tresult PLUGIN_API beginEdit(ParamID) override { return kResultOk; }
    tresult PLUGIN_API performEdit(ParamID, ParamValue) override { return kResultOk; }
    tresult PLUGIN_API endEdit(ParamID) override { return kResultOk; }
    tresult PLUGIN_API restartComponent(int32 flags) override;
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    TAVIMO_TEST_NO_REFCOUNT

    std::vector<int32> restarts;
    // Called inside restartComponent, as hosts that read the latency there do.
    std::function<void(int32 flags)> onRestart;
};

// Stands between the two connection points, as a host's proxy does, and counts messages.
class ConnectionSpy : public IConnectionPoint {
public:
    tresult PLUGIN_API connect(IConnectionPoint* other) override;
    tresult PLUGIN_API disconnect(IConnectionPoint* other) override;
    tresult PLUGIN_API notify(IMessage* message) override;
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    TAVIMO_TEST_NO_REFCOUNT

    int count(const std::string& id) const;

    IConnectionPoint* target = nullptr;
    std::map<std::string, int> messages;
    int64 lastQuality = -1;
};

// The processor and controller of one plug-in instance, initialised and connected.
struct PluginInstance {
    PluginInstance();
    ~PluginInstance();

    bool ok() const { return component && processor && controller; }
    // Arranges the buses, sets up processing and activates, as a host does before audio.
    void activate(double sampleRate, int32 maxBlock, SpeakerArrangement main,
                  SpeakerArrangement side, bool sidechain);
    void deactivate();
    // One block through process; parameter changes optional.
    tresult process(const std::vector<const float*>& a, const std::vector<const float*>& b,
                    const std::vector<float*>& out, int32 numSamples,
                    IParameterChanges* changes = nullptr);
    // The processor's saved state as bytes.
    std::vector<unsigned char> processorState();

    Module module;
    std::unique_ptr<HostApplication> host; // not reference counted: owned here
    IPtr<IPluginFactory> factory;
    IPtr<IComponent> component;
    IPtr<IAudioProcessor> processor;
    IPtr<IEditController> controller;
    ComponentHandlerSpy handler;
    ConnectionSpy toProcessor;  // controller -> processor
    ConnectionSpy toController; // processor -> controller
    bool active = false;
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
