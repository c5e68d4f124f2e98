#pragma once

#include <cstdint>

// The message form of the data-exchange queue, for hosts without IDataExchangeHandler.
// Both ends are this module's, so the names are its own. All messages travel on the UI
// thread over the processor/controller connection.
namespace tav::sdk::dataexchange {

// processor -> controller: the queue exists; "context", "blockSize".
inline constexpr const char* kQueueOpenedMessage = "TavimoDataExchangeOpened";
// processor -> controller: the queue is gone; "context".
inline constexpr const char* kQueueClosedMessage = "TavimoDataExchangeClosed";
// processor -> controller: finished blocks, oldest first; "context", "numBlocks", "block0"...
inline constexpr const char* kBlocksMessage = "TavimoDataExchangeBlocks";
// controller -> processor: send the finished blocks now.
inline constexpr const char* kPullMessage = "TavimoDataExchangePull";

inline constexpr const char* kContextAttr = "context";
inline constexpr const char* kBlockSizeAttr = "blockSize";
inline constexpr const char* kNumBlocksAttr = "numBlocks";

// The most blocks one queue holds, and so the most one message carries.
inline constexpr uint32_t kMaxBlocks = 64;

// "block<index>" into buffer (at least 16 characters).
inline void blockAttributeName(uint32_t index, char* buffer) {
    const char prefix[] = "block";
    int at = 0;
    for (; prefix[at] != 0; ++at)
        buffer[at] = prefix[at];
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + index % 10);
        index /= 10;
    } while (index != 0);
    while (count > 0)
        buffer[at++] = digits[--count];
    buffer[at] = 0;
}

} // namespace tav::sdk::dataexchange
