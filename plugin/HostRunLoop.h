#pragma once

#include "ui/linux/RunLoop.h"

#include "pluginterfaces/base/smartpointer.h"
#include "pluginterfaces/gui/iplugview.h"

#include <vector>

namespace tav::plugin {

// The host's run loop (from the IPlugFrame it gives the editor) seen as the native window's
// small run-loop interface: each registration becomes a reference-counted handler that the
// host calls, and that forgets its client the moment it is removed, so a late call from the
// host reaches nothing. UI thread only.
class HostRunLoop final : public ui::RunLoop {
public:
    // UI thread. `hostLoop` must not be null.
    explicit HostRunLoop(Steinberg::Linux::IRunLoop* hostLoop);
    // UI thread. Removes whatever is still registered.
    ~HostRunLoop() override;
    HostRunLoop(const HostRunLoop&) = delete;
    HostRunLoop& operator=(const HostRunLoop&) = delete;

    // UI thread; allocates.
    bool addTimer(ui::RunLoopClient& client, uint32_t milliseconds) override;
    bool addDescriptor(ui::RunLoopClient& client, int fd) override;
    // UI thread.
    void remove(ui::RunLoopClient& client) override;

private:
    class Handler;

    Steinberg::IPtr<Steinberg::Linux::IRunLoop> hostLoop;
    std::vector<Steinberg::IPtr<Handler>> timers;
    std::vector<Steinberg::IPtr<Handler>> descriptors;
};

} // namespace tav::plugin
