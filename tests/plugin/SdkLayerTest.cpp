// The project's own SDK layer, tested directly: module hooks, the data-exchange handler on
// both transports, and the receiver side of the message transport.

#include "PluginHost.h"

#include "plugin/sdk/DataExchangeHandler.h"
#include "plugin/sdk/DataExchangeMessages.h"
#include "plugin/sdk/DataExchangeReceiverHandler.h"
#include "plugin/sdk/ModuleInit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace tav::test {
namespace {

namespace dx = tav::sdk::dataexchange;
using sdk::DataExchangeConfig;
using sdk::DataExchangeHandler;

std::vector<int> hookCalls;

const sdk::ModuleInitHook late([] { hookCalls.push_back(2); }, 10);
const sdk::ModuleInitHook early([] { hookCalls.push_back(1); }, -10);
const sdk::ModuleTerminateHook done([] { hookCalls.push_back(3); });

TEST(ModuleHooks, RunOnceOnFirstEntryAndLastExitInPriorityOrder) {
    hookCalls.clear();
    ASSERT_EQ(sdk::moduleEntryCount(), 0);
    EXPECT_TRUE(sdk::enterModule());
    EXPECT_TRUE(sdk::enterModule());
    EXPECT_EQ(hookCalls, (std::vector<int>{1, 2}));
    EXPECT_TRUE(sdk::exitModule());
    EXPECT_EQ(hookCalls.size(), 2u);
    EXPECT_TRUE(sdk::exitModule());
    EXPECT_EQ(hookCalls, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(sdk::exitModule());
    EXPECT_EQ(sdk::moduleEntryCount(), 0);
    EXPECT_EQ(hookCalls.size(), 3u);
}

bool configure(DataExchangeConfig& config, const ProcessSetup&) {
    config = {64, 4, 32, 7};
    return true;
}

// A host context that offers IDataExchangeHandler with a queue of its own.
class QueueHost : public IDataExchangeHandler {
public:
    tresult PLUGIN_API openQueue(IAudioProcessor*, uint32 blockSize, uint32 numBlocks,
                                 uint32 alignment, DataExchangeUserContextID context,
                                 DataExchangeQueueID* outID) override {
        opened = {blockSize, numBlocks, alignment, context};
        storage.assign(blockSize * numBlocks, 0);
        *outID = 5;
        return kResultTrue;
    }
    tresult PLUGIN_API closeQueue(DataExchangeQueueID id) override {
        closedQueue = id;
        return kResultTrue;
    }
    tresult PLUGIN_API lockBlock(DataExchangeQueueID, DataExchangeBlock* block) override {
        if (locked >= opened.numBlocks)
            return kResultFalse;
        *block = {storage.data() + opened.blockSize * locked, opened.blockSize, locked};
        ++locked;
        return kResultTrue;
    }
    tresult PLUGIN_API freeBlock(DataExchangeQueueID, DataExchangeBlockID id, TBool send) override {
        freed.emplace_back(id, send != 0);
        return kResultTrue;
    }
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        QUERY_INTERFACE(iid, obj, FUnknown::iid, IDataExchangeHandler)
        QUERY_INTERFACE(iid, obj, IDataExchangeHandler::iid, IDataExchangeHandler)
        *obj = nullptr;
        return kNoInterface;
    }
    TAVIMO_TEST_NO_REFCOUNT

    DataExchangeConfig opened;
    std::vector<unsigned char> storage;
    uint32 locked = 0;
    DataExchangeQueueID closedQueue = InvalidDataExchangeQueueID;
    std::vector<std::pair<DataExchangeBlockID, bool>> freed;
};

// Receives what the message transport sends.
class Receiver : public IDataExchangeReceiver {
public:
    void PLUGIN_API queueOpened(DataExchangeUserContextID context, uint32 blockSize,
                                TBool&) override {
        openedContext = context;
        openedBlockSize = blockSize;
    }
    void PLUGIN_API queueClosed(DataExchangeUserContextID) override { ++closed; }
    void PLUGIN_API onDataExchangeBlocksReceived(DataExchangeUserContextID, uint32 numBlocks,
                                                 DataExchangeBlock* blocks, TBool) override {
        std::vector<unsigned char> batch;
        for (uint32 i = 0; i < numBlocks; ++i) {
            const auto* bytes = static_cast<const unsigned char*>(blocks[i].data);
            // A block is whole when every byte carries the same mark.
            for (uint32 k = 1; k < blocks[i].size; ++k)
                torn = torn || bytes[k] != bytes[0];
            batch.push_back(bytes[0]);
        }
        batches.push_back(batch);
    }
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override {
        *obj = nullptr;
        return kNoInterface;
    }
    TAVIMO_TEST_NO_REFCOUNT

    DataExchangeUserContextID openedContext = 0;
    uint32 openedBlockSize = 0;
    int closed = 0;
    bool torn = false;
    std::vector<std::vector<unsigned char>> batches;
};

// The controller end of a connection: messages go to a receiver handler.
class ControllerEnd : public IConnectionPoint {
public:
    tresult PLUGIN_API connect(IConnectionPoint*) override { return kResultOk; }
    tresult PLUGIN_API disconnect(IConnectionPoint*) override { return kResultOk; }
    tresult PLUGIN_API notify(IMessage* message) override {
        ++messages;
        return handler.onMessage(message) ? kResultOk : kResultFalse;
    }
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override {
        *obj = nullptr;
        return kNoInterface;
    }
    TAVIMO_TEST_NO_REFCOUNT

    Receiver receiver;
    sdk::DataExchangeReceiverHandler handler{&receiver};
    int messages = 0;
};

bool fill(DataExchangeHandler& handler, unsigned char mark) {
    const DataExchangeBlock block = handler.getCurrentOrNewBlock();
    if (block.data == nullptr)
        return false;
    std::memset(block.data, mark, block.size);
    return handler.sendCurrentBlock();
}

TEST(DataExchangeHandler, UsesTheHostQueueWhenOffered) {
    QueueHost host;
    ControllerEnd controller;
    DataExchangeHandler handler(nullptr, configure);
    handler.onConnect(&controller, &host);
    handler.onActivate(ProcessSetup{});
    ASSERT_TRUE(handler.isQueueOpen());
    EXPECT_FALSE(handler.usesMessaging());
    EXPECT_EQ(host.opened.blockSize, 64u);
    EXPECT_EQ(host.opened.numBlocks, 4u);
    EXPECT_EQ(host.opened.alignment, 32u);
    EXPECT_EQ(host.opened.userContextID, 7u);

    const DataExchangeBlock first = handler.getCurrentOrNewBlock();
    EXPECT_EQ(handler.getCurrentOrNewBlock().blockID, first.blockID); // same until sent
    EXPECT_TRUE(handler.sendCurrentBlock());
    EXPECT_FALSE(handler.sendCurrentBlock()); // nothing current
    ASSERT_EQ(host.freed.size(), 1u);
    EXPECT_TRUE(host.freed[0].second);
    handler.getCurrentOrNewBlock();
    EXPECT_TRUE(handler.discardCurrentBlock());
    EXPECT_FALSE(host.freed[1].second);

    handler.onDeactivate();
    EXPECT_EQ(host.closedQueue, 5u);
    EXPECT_FALSE(handler.isQueueOpen());
    EXPECT_EQ(controller.messages, 0);
    EXPECT_EQ(handler.getCurrentOrNewBlock().data, nullptr);
}

TEST(DataExchangeHandler, MessagesCarryFinishedBlocksOldestFirstOnRequest) {
    HostApplication host;
    ControllerEnd controller;
    DataExchangeHandler handler(nullptr, configure);
    handler.onConnect(&controller, &host);
    handler.onActivate(ProcessSetup{});
    ASSERT_TRUE(handler.usesMessaging());
    EXPECT_EQ(controller.receiver.openedContext, 7u);
    EXPECT_EQ(controller.receiver.openedBlockSize, 64u);
    EXPECT_TRUE(controller.handler.isMessageQueueOpen());

    for (unsigned char mark = 1; mark <= 3; ++mark)
        ASSERT_TRUE(fill(handler, mark));
    EXPECT_TRUE(controller.receiver.batches.empty()); // nothing sent from the audio side
    EXPECT_EQ(handler.sendPendingBlocks(), 3u);
    ASSERT_EQ(controller.receiver.batches.size(), 1u);
    EXPECT_EQ(controller.receiver.batches[0], (std::vector<unsigned char>{1, 2, 3}));
    EXPECT_EQ(handler.sendPendingBlocks(), 0u);

    // Four blocks in flight fill the queue; the fifth is dropped.
    for (unsigned char mark = 4; mark <= 7; ++mark)
        ASSERT_TRUE(fill(handler, mark));
    EXPECT_FALSE(fill(handler, 8));
    auto pull = owned(new HostMessage());
    pull->setMessageID(dx::kPullMessage);
    EXPECT_TRUE(handler.onMessage(pull));
    ASSERT_EQ(controller.receiver.batches.size(), 2u);
    EXPECT_EQ(controller.receiver.batches[1], (std::vector<unsigned char>{4, 5, 6, 7}));

    auto other = owned(new HostMessage());
    other->setMessageID("Something");
    EXPECT_FALSE(handler.onMessage(other));
    EXPECT_FALSE(handler.onMessage(nullptr));

    ASSERT_TRUE(fill(handler, 9));
    handler.onDeactivate(); // the last block still goes out, then the queue closes
    ASSERT_EQ(controller.receiver.batches.size(), 3u);
    EXPECT_EQ(controller.receiver.closed, 1);
    EXPECT_FALSE(controller.handler.isMessageQueueOpen());
}

TEST(DataExchangeHandler, ForcedMessagingIgnoresTheHostQueue) {
    QueueHost queueHost;
    DataExchangeHandler handler(nullptr, configure);
    handler.onConnect(nullptr, &queueHost);
    handler.onActivate(ProcessSetup{}, true);
    EXPECT_TRUE(handler.usesMessaging());
    EXPECT_EQ(queueHost.opened.numBlocks, 0u);
    // Without a peer the blocks cannot travel, but they are freed for later ones.
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(fill(handler, 1));
        EXPECT_EQ(handler.sendPendingBlocks(), 0u);
    }
}

TEST(DataExchangeHandler, NoQueueWhenTheConfigurationDeclines) {
    DataExchangeHandler handler(nullptr,
                                [](DataExchangeConfig&, const ProcessSetup&) { return false; });
    handler.onActivate(ProcessSetup{});
    EXPECT_FALSE(handler.isQueueOpen());
    EXPECT_EQ(handler.getCurrentOrNewBlock().data, nullptr);
}

TEST(DataExchangeHandler, AudioThreadAndUiThreadNeverShareABlock) {
    HostApplication host;
    ControllerEnd controller;
    DataExchangeHandler handler(nullptr, configure);
    handler.onConnect(&controller, &host);
    handler.onActivate(ProcessSetup{});
    std::atomic<bool> running{true};
    std::thread audio([&] {
        unsigned char mark = 0;
        for (int i = 0; i < 20000; ++i)
            fill(handler, ++mark);
        running = false;
    });
    while (running)
        handler.sendPendingBlocks();
    audio.join();
    handler.sendPendingBlocks();
    EXPECT_FALSE(controller.receiver.torn);
    EXPECT_FALSE(controller.receiver.batches.empty());
}

TEST(DataExchangeReceiverHandler, AsksForBlocksOnlyWhileAMessageQueueIsOpen) {
    HostApplication host;
    auto owner = owned(new ComponentBase());
    ASSERT_EQ(owner->initialize(&host), kResultOk);
    // The processor's end, reached through a host's proxy that counts what passes.
    auto processorEnd = owned(new ComponentBase());
    auto toProcessor = owned(new tav::host::ConnectionProxy(owner));
    ASSERT_EQ(toProcessor->connect(processorEnd), kResultOk);

    Receiver receiver;
    sdk::DataExchangeReceiverHandler handler(&receiver);
    EXPECT_FALSE(handler.requestPendingBlocks(*owner));
    EXPECT_EQ(toProcessor->delivered(dx::kPullMessage), 0);

    auto opened = owned(new HostMessage());
    opened->setMessageID(dx::kQueueOpenedMessage);
    opened->getAttributes()->setInt(dx::kContextAttr, 3);
    opened->getAttributes()->setInt(dx::kBlockSizeAttr, 1088);
    ASSERT_TRUE(handler.onMessage(opened));
    EXPECT_EQ(receiver.openedContext, 3u);
    EXPECT_EQ(receiver.openedBlockSize, 1088u);
    handler.requestPendingBlocks(*owner);
    EXPECT_EQ(toProcessor->delivered(dx::kPullMessage), 1);

    auto closed = owned(new HostMessage());
    closed->setMessageID(dx::kQueueClosedMessage);
    ASSERT_TRUE(handler.onMessage(closed));
    EXPECT_EQ(receiver.closed, 1);
    EXPECT_FALSE(handler.requestPendingBlocks(*owner));
    EXPECT_EQ(toProcessor->delivered(dx::kPullMessage), 1);

    auto other = owned(new HostMessage());
    other->setMessageID("TavimoQuality");
    EXPECT_FALSE(handler.onMessage(other));
    toProcessor->disconnectAll();
    owner->terminate();
}

} // namespace
} // namespace tav::test
