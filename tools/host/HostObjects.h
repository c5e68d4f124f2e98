#pragma once

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

#include <array>
#include <atomic>
#include <mutex>
#include <vector>

// The small objects a host hands a plug-in: its application context, the parameter
// queues of one block, the connection between processor and controller, and the
// component handler that hears edits and restart requests.
namespace tav::host {

using namespace Steinberg;

// The host context passed to initialize: the SDK's application object under this host's name.
class HostContext : public Vst::HostApplication {
public:
    // Main thread. Writes "tavimo" into name.
    tresult PLUGIN_API getName(Vst::String128 name) override;
};

// One parameter's points for one block. Capacity is fixed when constructed.
class ParamValueQueue : public Vst::IParamValueQueue {
public:
    explicit ParamValueQueue(Vst::ParamID id, int capacity = 16);
    virtual ~ParamValueQueue() = default;

    // Main thread; never allocates once constructed.
    void clear() { count = 0; }

    Vst::ParamID PLUGIN_API getParameterId() override { return paramId; }
    int32 PLUGIN_API getPointCount() override { return count; }
    tresult PLUGIN_API getPoint(int32 index, int32& sampleOffset, Vst::ParamValue& value) override;
    tresult PLUGIN_API addPoint(int32 sampleOffset, Vst::ParamValue value, int32& index) override;

    DECLARE_FUNKNOWN_METHODS

private:
    struct Point {
        int32 offset;
        Vst::ParamValue value;
    };
    Vst::ParamID paramId;
    std::vector<Point> points;
    int32 count = 0;
};

// The parameter changes of one block: one queue per parameter touched in it.
class ParameterChanges : public Vst::IParameterChanges {
public:
    ParameterChanges();
    virtual ~ParameterChanges();

    // Main thread. Empties every queue; the queues themselves are kept for the next block.
    void clear();
    // Main thread. Adds one point for id at offset (a new queue on first use of id).
    void add(Vst::ParamID id, int32 sampleOffset, Vst::ParamValue value);

    int32 PLUGIN_API getParameterCount() override { return used; }
    Vst::IParamValueQueue* PLUGIN_API getParameterData(int32 index) override;
    Vst::IParamValueQueue* PLUGIN_API addParameterData(const Vst::ParamID& id,
                                                       int32& index) override;

    DECLARE_FUNKNOWN_METHODS

private:
    std::vector<ParamValueQueue*> queues;
    int32 used = 0;
};

// One direction of the processor-controller connection, as hosts insert between the two:
// messages sent into it reach the peer it was made for. It counts what passes through.
class ConnectionProxy : public Vst::IConnectionPoint {
public:
    explicit ConnectionProxy(Vst::IConnectionPoint* source);
    virtual ~ConnectionProxy() = default;

    // Any thread. Connects the source to this proxy, which forwards to destination.
    tresult PLUGIN_API connect(Vst::IConnectionPoint* destination) override;
    tresult PLUGIN_API disconnect(Vst::IConnectionPoint* destination) override;
    // Any thread: a plug-in may send from a worker thread, so delivery is serialised.
    tresult PLUGIN_API notify(Vst::IMessage* message) override;

    // Main thread. Undoes connect, if it was made.
    void disconnectAll();

    // How many messages with the given id were delivered.
    int delivered(const char* messageId) const;
    int deliveredTotal() const { return total.load(); }

    DECLARE_FUNKNOWN_METHODS

private:
    Vst::IConnectionPoint* sourcePoint;
    Vst::IConnectionPoint* destinationPoint = nullptr;
    mutable std::mutex deliveryLock;
    std::vector<std::pair<std::string, int>> counts;
    std::atomic<int> total{0};
};

// Hears the controller: parameter edits are ignored offline, restart requests are recorded.
class ComponentHandler : public Vst::IComponentHandler {
public:
    ComponentHandler();
    virtual ~ComponentHandler() = default;

    tresult PLUGIN_API beginEdit(Vst::ParamID) override { return kResultOk; }
    tresult PLUGIN_API performEdit(Vst::ParamID, Vst::ParamValue) override { return kResultOk; }
    tresult PLUGIN_API endEdit(Vst::ParamID) override { return kResultOk; }
    tresult PLUGIN_API restartComponent(int32 flags) override;

    // Main thread. Restart flags asked for since the last call; clears them.
    int32 takeRestartFlags() { return pendingFlags.exchange(0); }

    DECLARE_FUNKNOWN_METHODS

private:
    std::atomic<int32> pendingFlags{0};
};

} // namespace tav::host
