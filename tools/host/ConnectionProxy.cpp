#include "tools/host/ConnectionProxy.h"

#include <string>

namespace tav::host {

ConnectionProxy::ConnectionProxy(Vst::IConnectionPoint* source)
    : sourcePoint(source){FUNKNOWN_CTOR}

      IMPLEMENT_FUNKNOWN_METHODS(ConnectionProxy, Vst::IConnectionPoint, Vst::IConnectionPoint::iid)

          tresult PLUGIN_API ConnectionProxy::connect(Vst::IConnectionPoint * destination) {
    if (destination == nullptr)
        return kInvalidArgument;
    if (destinationPoint != nullptr || sourcePoint == nullptr)
        return kResultFalse;
    destinationPoint = destination;
    const tresult result = sourcePoint->connect(this);
    if (result != kResultOk)
        destinationPoint = nullptr;
    return result;
}

tresult PLUGIN_API ConnectionProxy::disconnect(Vst::IConnectionPoint* destination) {
    if (destination == nullptr || destination != destinationPoint)
        return kInvalidArgument;
    sourcePoint->disconnect(this);
    std::lock_guard<std::mutex> guard(deliveryLock);
    destinationPoint = nullptr;
    return kResultOk;
}

void ConnectionProxy::disconnectAll() {
    if (destinationPoint != nullptr)
        disconnect(destinationPoint);
}

tresult PLUGIN_API ConnectionProxy::notify(Vst::IMessage* message) {
    std::lock_guard<std::mutex> guard(deliveryLock);
    if (destinationPoint == nullptr || message == nullptr)
        return kResultFalse;
    const char* id = message->getMessageID();
    const std::string key = id != nullptr ? id : "";
    bool found = false;
    for (auto& [name, n] : counts) {
        if (name == key) {
            ++n;
            found = true;
        }
    }
    if (!found)
        counts.emplace_back(key, 1);
    ++total;
    return destinationPoint->notify(message);
}

int ConnectionProxy::delivered(const char* messageId) const {
    std::lock_guard<std::mutex> guard(deliveryLock);
    for (const auto& [name, n] : counts)
        if (name == messageId)
            return n;
    return 0;
}

} // namespace tav::host
