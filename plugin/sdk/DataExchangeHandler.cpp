#include "plugin/sdk/DataExchangeHandler.h"

#include "plugin/sdk/DataExchangeMessages.h"

#include "pluginterfaces/vst/ivsthostapplication.h"

#include <algorithm>
#include <cstring>

namespace tav::sdk {

using namespace Steinberg;
using namespace Steinberg::Vst;
namespace dx = dataexchange;

namespace {

constexpr DataExchangeBlock kNoBlock{nullptr, 0, InvalidDataExchangeBlockID};

} // namespace

DataExchangeHandler::DataExchangeHandler(IAudioProcessor* processor, ConfigCallback configure)
    : processor(processor), configure(std::move(configure)) {}

DataExchangeHandler::~DataExchangeHandler() {
    closeQueue();
}

void DataExchangeHandler::onConnect(IConnectionPoint* newPeer, FUnknown* context) {
    peer = newPeer;
    hostContext = context;
}

void DataExchangeHandler::onDisconnect(IConnectionPoint* /*oldPeer*/) {
    closeQueue();
    peer = nullptr;
}

void DataExchangeHandler::onActivate(const ProcessSetup& setup, bool forceUseMessaging) {
    closeQueue();
    config = {};
    if (!configure || !configure(config, setup))
        return;
    if (config.blockSize == 0 || config.numBlocks == 0)
        return;
    config.numBlocks = std::min(config.numBlocks, dx::kMaxBlocks);
    if (!forceUseMessaging && openHostQueue())
        return;
    openMessageQueue();
}

void DataExchangeHandler::onDeactivate() {
    closeQueue();
}

bool DataExchangeHandler::openHostQueue() {
    if (!hostContext)
        return false;
    FUnknownPtr<IDataExchangeHandler> handler(hostContext);
    if (!handler)
        return false;
    DataExchangeQueueID queue = InvalidDataExchangeQueueID;
    if (handler->openQueue(processor, config.blockSize, config.numBlocks, config.alignment,
                           config.userContextID, &queue) != kResultTrue ||
        queue == InvalidDataExchangeQueueID)
        return false;
    hostHandler = handler;
    hostQueue = queue;
    mode = Mode::host;
    return true;
}

void DataExchangeHandler::openMessageQueue() {
    const size_t alignment = std::max<size_t>(config.alignment, alignof(std::max_align_t));
    slotStride = (config.blockSize + alignment - 1) / alignment * alignment;
    storage = std::make_unique<std::byte[]>(slotStride * config.numBlocks + alignment);
    const auto base = reinterpret_cast<uintptr_t>(storage.get());
    alignedStorage = storage.get() + ((alignment - base % alignment) % alignment);
    slots = std::make_unique<Slot[]>(config.numBlocks);
    nextSequence = 0;
    current = kNoBlock;
    mode = Mode::messages;
    sendQueueMessage(dx::kQueueOpenedMessage, true);
}

void DataExchangeHandler::closeQueue() {
    if (mode == Mode::host) {
        if (current.blockID != InvalidDataExchangeBlockID)
            hostHandler->freeBlock(hostQueue, current.blockID, false);
        hostHandler->closeQueue(hostQueue);
        hostHandler = nullptr;
        hostQueue = InvalidDataExchangeQueueID;
    } else if (mode == Mode::messages) {
        current = kNoBlock;
        sendPendingBlocks();
        sendQueueMessage(dx::kQueueClosedMessage, false);
        slots.reset();
        storage.reset();
        alignedStorage = nullptr;
    }
    current = kNoBlock;
    mode = Mode::closed;
}

std::byte* DataExchangeHandler::slotData(uint32 index) const {
    return alignedStorage + slotStride * index;
}

DataExchangeBlock DataExchangeHandler::getCurrentOrNewBlock() {
    if (current.blockID != InvalidDataExchangeBlockID)
        return current;
    if (mode == Mode::host) {
        DataExchangeBlock block = kNoBlock;
        if (hostHandler->lockBlock(hostQueue, &block) == kResultTrue && block.data != nullptr)
            current = block;
        return current;
    }
    if (mode == Mode::messages) {
        for (uint32 i = 0; i < config.numBlocks; ++i) {
            uint8_t expected = kFree;
            if (slots[i].state.compare_exchange_strong(expected, kWriting,
                                                       std::memory_order_acquire)) {
                current = {slotData(i), config.blockSize, i};
                return current;
            }
        }
    }
    return kNoBlock;
}

bool DataExchangeHandler::sendCurrentBlock() {
    if (current.blockID == InvalidDataExchangeBlockID)
        return false;
    bool sent = false;
    if (mode == Mode::host) {
        sent = hostHandler->freeBlock(hostQueue, current.blockID, true) == kResultTrue;
    } else if (mode == Mode::messages) {
        Slot& slot = slots[current.blockID];
        slot.sequence = nextSequence++;
        slot.state.store(kReady, std::memory_order_release);
        sent = true;
    }
    current = kNoBlock;
    return sent;
}

bool DataExchangeHandler::discardCurrentBlock() {
    if (current.blockID == InvalidDataExchangeBlockID)
        return false;
    if (mode == Mode::host)
        hostHandler->freeBlock(hostQueue, current.blockID, false);
    else if (mode == Mode::messages)
        slots[current.blockID].state.store(kFree, std::memory_order_release);
    current = kNoBlock;
    return true;
}

uint32 DataExchangeHandler::sendPendingBlocks() {
    if (mode != Mode::messages)
        return 0;
    uint32 ready[dx::kMaxBlocks];
    uint32 count = 0;
    for (uint32 i = 0; i < config.numBlocks; ++i) {
        uint8_t expected = kReady;
        if (slots[i].state.compare_exchange_strong(expected, kSending, std::memory_order_acquire))
            ready[count++] = i;
    }
    if (count == 0)
        return 0;
    std::sort(ready, ready + count,
              [this](uint32 a, uint32 b) { return slots[a].sequence < slots[b].sequence; });

    uint32 sent = 0;
    if (IPtr<IMessage> message = owned(allocateMessage())) {
        message->setMessageID(dx::kBlocksMessage);
        IAttributeList* attributes = message->getAttributes();
        if (attributes != nullptr) {
            attributes->setInt(dx::kContextAttr, config.userContextID);
            attributes->setInt(dx::kNumBlocksAttr, count);
            char name[16];
            for (uint32 i = 0; i < count; ++i) {
                dx::blockAttributeName(i, name);
                attributes->setBinary(name, slotData(ready[i]), config.blockSize);
            }
            if (peer && peer->notify(message) == kResultTrue)
                sent = count;
        }
    }
    // Sent or not, the blocks are free again: a later record replaces a lost one.
    for (uint32 i = 0; i < count; ++i)
        slots[ready[i]].state.store(kFree, std::memory_order_release);
    return sent;
}

bool DataExchangeHandler::onMessage(IMessage* message) {
    if (message == nullptr || message->getMessageID() == nullptr)
        return false;
    if (std::strcmp(message->getMessageID(), dx::kPullMessage) != 0)
        return false;
    sendPendingBlocks();
    return true;
}

void DataExchangeHandler::sendQueueMessage(const char* id, bool withBlockSize) {
    if (!peer)
        return;
    IPtr<IMessage> message = owned(allocateMessage());
    if (!message)
        return;
    message->setMessageID(id);
    if (IAttributeList* attributes = message->getAttributes()) {
        attributes->setInt(dx::kContextAttr, config.userContextID);
        if (withBlockSize)
            attributes->setInt(dx::kBlockSizeAttr, config.blockSize);
    }
    peer->notify(message);
}

IMessage* DataExchangeHandler::allocateMessage() const {
    FUnknownPtr<IHostApplication> host(hostContext);
    if (!host)
        return nullptr;
    TUID iid;
    IMessage::iid.toTUID(iid);
    void* object = nullptr;
    if (host->createInstance(iid, iid, &object) != kResultTrue)
        return nullptr;
    return static_cast<IMessage*>(object);
}

} // namespace tav::sdk
