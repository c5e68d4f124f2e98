#pragma once

#include "plugin/sdk/DataExchangeInterfaces.h"

#include "pluginterfaces/base/smartpointer.h"
#include "pluginterfaces/vst/ivstmessage.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace tav::sdk {

// The shape of a processor's data-exchange queue.
struct DataExchangeConfig {
    Steinberg::uint32 blockSize = 0;
    Steinberg::uint32 numBlocks = 0;
    Steinberg::uint32 alignment = 0;
    Steinberg::Vst::DataExchangeUserContextID userContextID = 0;
};

// Processor side of the data-exchange queue: the audio thread fills blocks and sends them to
// the edit controller without allocating, locking or waiting.
//
// With a host that offers IDataExchangeHandler, the host's queue carries the blocks.
// Otherwise the handler keeps its own preallocated blocks and the audio thread only marks
// them finished; they travel as one message on the UI thread, never on the audio thread:
// when the controller asks for them (its pull message, answered in the processor's
// notify), and once more when the processor is deactivated. A full queue drops the block.
class DataExchangeHandler {
public:
    using ConfigCallback =
        std::function<bool(DataExchangeConfig& config, const Steinberg::Vst::ProcessSetup& setup)>;

    // UI thread; allocates. processor is the owner's IAudioProcessor (not referenced).
    DataExchangeHandler(Steinberg::Vst::IAudioProcessor* processor, ConfigCallback configure);
    // UI thread. Closes an open queue.
    ~DataExchangeHandler();

    DataExchangeHandler(const DataExchangeHandler&) = delete;
    DataExchangeHandler& operator=(const DataExchangeHandler&) = delete;

    // UI thread. The processor was connected to its controller.
    void onConnect(Steinberg::Vst::IConnectionPoint* peer, Steinberg::FUnknown* hostContext);
    // UI thread. The connection goes away: closes an open queue first.
    void onDisconnect(Steinberg::Vst::IConnectionPoint* peer);
    // UI thread; allocates. Opens the queue for the setup (the host's, unless forced to
    // messages or the host has none).
    void onActivate(const Steinberg::Vst::ProcessSetup& setup, bool forceUseMessaging = false);
    // UI thread. Sends what is finished and closes the queue.
    void onDeactivate();

    // Audio thread; never allocates or locks. The block being filled, or a new one; a block
    // with null data when none is free or no queue is open.
    Steinberg::Vst::DataExchangeBlock getCurrentOrNewBlock();
    // Audio thread; never allocates or locks. Hands the current block to the controller.
    bool sendCurrentBlock();
    // Audio thread; never allocates or locks. Gives the current block back unsent.
    bool discardCurrentBlock();

    // UI thread; allocates the message. Sends the finished blocks of the message queue,
    // oldest first, as one message; returns how many were sent.
    Steinberg::uint32 sendPendingBlocks();
    // UI thread. Takes the controller's pull request; false for any other message.
    bool onMessage(Steinberg::Vst::IMessage* message);

    // Any thread. Whether a queue is open, and whether it is the message queue.
    bool isQueueOpen() const { return mode != Mode::closed; }
    bool usesMessaging() const { return mode == Mode::messages; }

private:
    enum class Mode { closed, host, messages };
    enum SlotState : uint8_t { kFree, kWriting, kReady, kSending };
    struct Slot {
        std::atomic<uint8_t> state{kFree};
        uint64_t sequence = 0;
    };

    bool openHostQueue();
    void openMessageQueue();
    void closeQueue();
    void sendQueueMessage(const char* id, bool withBlockSize);
    Steinberg::Vst::IMessage* allocateMessage() const;
    std::byte* slotData(Steinberg::uint32 index) const;

    Steinberg::Vst::IAudioProcessor* processor;
    ConfigCallback configure;
    Steinberg::IPtr<Steinberg::Vst::IConnectionPoint> peer;
    Steinberg::IPtr<Steinberg::FUnknown> hostContext;
    Steinberg::IPtr<Steinberg::Vst::IDataExchangeHandler> hostHandler;

    Mode mode = Mode::closed;
    DataExchangeConfig config;
    Steinberg::Vst::DataExchangeQueueID hostQueue = Steinberg::Vst::InvalidDataExchangeQueueID;
    Steinberg::Vst::DataExchangeBlock current{nullptr, 0,
                                              Steinberg::Vst::InvalidDataExchangeBlockID};

    std::unique_ptr<Slot[]> slots;
    std::unique_ptr<std::byte[]> storage;
    std::byte* alignedStorage = nullptr;
    size_t slotStride = 0;
    uint64_t nextSequence = 0;
};

} // namespace tav::sdk
