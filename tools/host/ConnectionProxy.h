#pragma once

#include "pluginterfaces/vst/ivstmessage.h"

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tav::host {

using namespace Steinberg;

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

} // namespace tav::host
