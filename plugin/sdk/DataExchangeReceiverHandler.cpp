#include "plugin/sdk/DataExchangeReceiverHandler.h"

#include "plugin/sdk/DataExchangeMessages.h"

#include "pluginterfaces/base/smartpointer.h"

#include <cstring>

namespace tav::sdk {

using namespace Steinberg;
using namespace Steinberg::Vst;
namespace dx = dataexchange;

namespace {

DataExchangeUserContextID contextOf(IAttributeList& attributes) {
    int64 context = 0;
    attributes.getInt(dx::kContextAttr, context);
    return static_cast<DataExchangeUserContextID>(context);
}

} // namespace

DataExchangeReceiverHandler::DataExchangeReceiverHandler(IDataExchangeReceiver* receiver)
    : receiver(receiver) {}

bool DataExchangeReceiverHandler::onMessage(IMessage* message) {
    if (message == nullptr || message->getMessageID() == nullptr)
        return false;
    const char* id = message->getMessageID();
    const bool opened = std::strcmp(id, dx::kQueueOpenedMessage) == 0;
    const bool closed = std::strcmp(id, dx::kQueueClosedMessage) == 0;
    const bool blocks = std::strcmp(id, dx::kBlocksMessage) == 0;
    if (!opened && !closed && !blocks)
        return false;
    IAttributeList* attributes = message->getAttributes();
    if (attributes == nullptr || receiver == nullptr)
        return true;

    if (opened) {
        int64 blockSize = 0;
        attributes->getInt(dx::kBlockSizeAttr, blockSize);
        queueOpen = true;
        // Messages arrive on the UI thread; the receiver's wish for a background thread
        // cannot be granted here, and it is told so with every batch.
        TBool dispatchOnBackgroundThread = false;
        receiver->queueOpened(contextOf(*attributes), static_cast<uint32>(blockSize),
                              dispatchOnBackgroundThread);
    } else if (closed) {
        queueOpen = false;
        receiver->queueClosed(contextOf(*attributes));
    } else {
        queueOpen = true; // blocks prove a message queue even if its opening was missed
        receiveBlocks(*attributes);
    }
    return true;
}

void DataExchangeReceiverHandler::receiveBlocks(IAttributeList& attributes) {
    int64 count = 0;
    if (attributes.getInt(dx::kNumBlocksAttr, count) != kResultTrue || count <= 0)
        return;
    const uint32 numBlocks = static_cast<uint32>(count > dx::kMaxBlocks ? dx::kMaxBlocks : count);
    DataExchangeBlock blocks[dx::kMaxBlocks];
    char name[16];
    for (uint32 i = 0; i < numBlocks; ++i) {
        dx::blockAttributeName(i, name);
        const void* data = nullptr;
        uint32 size = 0;
        if (attributes.getBinary(name, data, size) != kResultTrue || data == nullptr) {
            data = nullptr;
            size = 0;
        }
        blocks[i] = {const_cast<void*>(data), size, i};
    }
    receiver->onDataExchangeBlocksReceived(contextOf(attributes), numBlocks, blocks, false);
}

bool DataExchangeReceiverHandler::requestPendingBlocks(const ComponentBase& owner) {
    if (!queueOpen)
        return false;
    IPtr<IMessage> message = owned(owner.allocateMessage());
    if (!message)
        return false;
    message->setMessageID(dx::kPullMessage);
    return owner.sendMessage(message) == kResultTrue;
}

} // namespace tav::sdk
