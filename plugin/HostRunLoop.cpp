#include "plugin/HostRunLoop.h"

#include <algorithm>
#include <atomic>

namespace tav::plugin {

using namespace Steinberg;

// One registration: the host holds it as a timer or an event handler and may keep a reference
// after it is removed; by then it has no client and does nothing.
class HostRunLoop::Handler final : public Linux::ITimerHandler, public Linux::IEventHandler {
public:
    explicit Handler(ui::RunLoopClient& client) : client(&client) {}
    virtual ~Handler() = default;

    ui::RunLoopClient* owner() const { return client; }
    void forget() { client = nullptr; }

    void PLUGIN_API onTimer() override {
        if (client != nullptr)
            client->onTimer();
    }
    void PLUGIN_API onFDIsSet(Linux::FileDescriptor /*fd*/) override {
        if (client != nullptr)
            client->onDescriptorReady();
    }

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        if (FUnknownPrivate::iidEqual(iid, Linux::ITimerHandler::iid) ||
            FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
            addRef();
            *obj = static_cast<Linux::ITimerHandler*>(this);
            return kResultOk;
        }
        if (FUnknownPrivate::iidEqual(iid, Linux::IEventHandler::iid)) {
            addRef();
            *obj = static_cast<Linux::IEventHandler*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return ++references; }
    uint32 PLUGIN_API release() override {
        const uint32 left = --references;
        if (left == 0)
            delete this;
        return left;
    }

private:
    ui::RunLoopClient* client;
    std::atomic<uint32> references{1};
};

HostRunLoop::HostRunLoop(Linux::IRunLoop* loop) : hostLoop(loop) {}

HostRunLoop::~HostRunLoop() {
    for (IPtr<Handler>& handler : timers) {
        hostLoop->unregisterTimer(handler);
        handler->forget();
    }
    for (IPtr<Handler>& handler : descriptors) {
        hostLoop->unregisterEventHandler(handler);
        handler->forget();
    }
}

bool HostRunLoop::addTimer(ui::RunLoopClient& client, uint32_t milliseconds) {
    IPtr<Handler> handler = owned(new Handler(client));
    if (hostLoop->registerTimer(handler, milliseconds) != kResultOk)
        return false;
    timers.push_back(handler);
    return true;
}

bool HostRunLoop::addDescriptor(ui::RunLoopClient& client, int fd) {
    IPtr<Handler> handler = owned(new Handler(client));
    if (hostLoop->registerEventHandler(handler, fd) != kResultOk)
        return false;
    descriptors.push_back(handler);
    return true;
}

void HostRunLoop::remove(ui::RunLoopClient& client) {
    const auto ownedBy = [&client](const IPtr<Handler>& handler) {
        return handler->owner() == &client;
    };
    for (IPtr<Handler>& handler : timers) {
        if (ownedBy(handler)) {
            hostLoop->unregisterTimer(handler);
            handler->forget();
        }
    }
    for (IPtr<Handler>& handler : descriptors) {
        if (ownedBy(handler)) {
            hostLoop->unregisterEventHandler(handler);
            handler->forget();
        }
    }
    const auto forgotten = [](const IPtr<Handler>& handler) { return handler->owner() == nullptr; };
    std::erase_if(timers, forgotten);
    std::erase_if(descriptors, forgotten);
}

} // namespace tav::plugin
