#pragma once

#include <cstdint>

namespace tav::ui {

// What a Linux native window asks of the loop that drives the host's UI thread: a periodic
// timer and a readable file descriptor. The editor host adapts the host's run loop to it, so
// that ui/ needs no plug-in header; tests and the command-line host bring their own.
class RunLoopClient {
public:
    virtual ~RunLoopClient() = default;
    // UI thread. The timer registered for this client fired.
    virtual void onTimer() = 0;
    // UI thread. The descriptor registered for this client has something to read.
    virtual void onDescriptorReady() = 0;
};

class RunLoop {
public:
    virtual ~RunLoop() = default;
    // UI thread; may allocate. Calls client.onTimer() about every `milliseconds`; false if the
    // loop refused.
    virtual bool addTimer(RunLoopClient& client, uint32_t milliseconds) = 0;
    // UI thread; may allocate. Calls client.onDescriptorReady() whenever `fd` is readable;
    // false if the loop refused.
    virtual bool addDescriptor(RunLoopClient& client, int fd) = 0;
    // UI thread. Removes every timer and descriptor of the client; no call reaches it after.
    virtual void remove(RunLoopClient& client) = 0;
};

} // namespace tav::ui
