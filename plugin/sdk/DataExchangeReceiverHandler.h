#pragma once

#include "plugin/sdk/DataExchangeInterfaces.h"

#include "pluginterfaces/vst/ivstmessage.h"
#include "public.sdk/source/vst/vstcomponentbase.h"

namespace tav::sdk {

// Controller side of the data-exchange queue for hosts without IDataExchangeHandler: turns
// the processor's messages into IDataExchangeReceiver calls (on the UI thread, where
// messages arrive) and asks the processor for its finished blocks.
class DataExchangeReceiverHandler {
public:
    // UI thread. receiver is the controller's own interface (not referenced).
    explicit DataExchangeReceiverHandler(Steinberg::Vst::IDataExchangeReceiver* receiver);

    // UI thread; never allocates. True if the message was one of the queue's and was
    // handed to the receiver; false for any other message.
    bool onMessage(Steinberg::Vst::IMessage* message);

    // UI thread; allocates a message. While a message queue is open, asks the processor to
    // send its finished blocks; they arrive through onMessage. Returns whether it asked.
    bool requestPendingBlocks(const Steinberg::Vst::ComponentBase& owner);

    // UI thread. Whether the processor announced a message queue that is still open.
    bool isMessageQueueOpen() const { return queueOpen; }

private:
    void receiveBlocks(Steinberg::Vst::IAttributeList& attributes);

    Steinberg::Vst::IDataExchangeReceiver* receiver;
    bool queueOpen = false;
};

} // namespace tav::sdk
