#pragma once

#include "pluginterfaces/gui/iplugview.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

namespace tav::host {

using namespace Steinberg;

// What a Linux DAW gives a plug-in's view: the frame it may ask to resize, with the run loop
// of the host's UI thread, here a poll on descriptors plus timers. Reference counted (the view
// keeps a reference); everything runs on the thread that calls run.
class EditorFrame final : public IPlugFrame, public Linux::IRunLoop {
public:
    using ResizeRequest = std::function<bool(IPlugView* view, ViewRect* newSize)>;

    // Main thread; allocates. Starts with one reference, which the creator owns.
    EditorFrame();
    virtual ~EditorFrame();

    // Main thread. Answers the view's own resize requests; none refuses them.
    void setResizeHandler(ResizeRequest handler) { resizeRequest = std::move(handler); }

    // Main thread. Waits at most maxWait for a descriptor or the next timer, then calls the
    // handlers whose descriptors are readable and the timers that are due.
    void runOnce(std::chrono::milliseconds maxWait);
    // Main thread. Runs the loop for the given time, or until stop() (from any thread).
    void runFor(std::chrono::milliseconds duration);
    void stop() { stopRequested = true; }
    bool stopped() const { return stopRequested; }

    size_t timerCount() const { return timers.size(); }
    size_t eventHandlerCount() const { return handlers.size(); }

    tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* newSize) override;

    tresult PLUGIN_API registerEventHandler(Linux::IEventHandler* handler,
                                            Linux::FileDescriptor fd) override;
    tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler* handler) override;
    tresult PLUGIN_API registerTimer(Linux::ITimerHandler* handler,
                                     Linux::TimerInterval milliseconds) override;
    tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler* handler) override;

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    uint32 PLUGIN_API addRef() override;
    uint32 PLUGIN_API release() override;

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        Linux::ITimerHandler* handler;
        Clock::duration interval;
        Clock::time_point due;
    };
    struct EventHandler {
        Linux::IEventHandler* handler;
        int fd;
    };

    void dispatchDescriptors(std::chrono::milliseconds maxWait);
    void dispatchTimers();
    bool stillHas(Linux::ITimerHandler* handler) const;
    bool stillHas(Linux::IEventHandler* handler, int fd) const;

    std::vector<Timer> timers;
    std::vector<EventHandler> handlers;
    ResizeRequest resizeRequest;
    std::atomic<bool> stopRequested{false};
    std::atomic<uint32> references{1};
};

} // namespace tav::host
