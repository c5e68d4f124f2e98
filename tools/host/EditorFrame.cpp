#include "tools/host/EditorFrame.h"

#include <algorithm>
#include <poll.h>

namespace tav::host {

EditorFrame::EditorFrame() = default;

EditorFrame::~EditorFrame() {
    for (Timer& timer : timers)
        timer.handler->release();
    for (EventHandler& entry : handlers)
        entry.handler->release();
}

tresult PLUGIN_API EditorFrame::resizeView(IPlugView* view, ViewRect* newSize) {
    if (view == nullptr || newSize == nullptr)
        return kInvalidArgument;
    if (resizeRequest && !resizeRequest(view, newSize))
        return kResultFalse;
    return view->onSize(newSize);
}

tresult PLUGIN_API EditorFrame::registerEventHandler(Linux::IEventHandler* handler,
                                                     Linux::FileDescriptor fd) {
    if (handler == nullptr || fd < 0)
        return kInvalidArgument;
    handler->addRef();
    handlers.push_back({handler, fd});
    return kResultOk;
}

tresult PLUGIN_API EditorFrame::unregisterEventHandler(Linux::IEventHandler* handler) {
    const auto last = std::remove_if(handlers.begin(), handlers.end(), [&](EventHandler& entry) {
        if (entry.handler != handler)
            return false;
        entry.handler->release();
        return true;
    });
    const bool found = last != handlers.end();
    handlers.erase(last, handlers.end());
    return found ? kResultOk : kResultFalse;
}

tresult PLUGIN_API EditorFrame::registerTimer(Linux::ITimerHandler* handler,
                                              Linux::TimerInterval milliseconds) {
    if (handler == nullptr || milliseconds == 0)
        return kInvalidArgument;
    handler->addRef();
    const auto interval = std::chrono::milliseconds(milliseconds);
    timers.push_back({handler, interval, Clock::now() + interval});
    return kResultOk;
}

tresult PLUGIN_API EditorFrame::unregisterTimer(Linux::ITimerHandler* handler) {
    const auto last = std::remove_if(timers.begin(), timers.end(), [&](Timer& timer) {
        if (timer.handler != handler)
            return false;
        timer.handler->release();
        return true;
    });
    const bool found = last != timers.end();
    timers.erase(last, timers.end());
    return found ? kResultOk : kResultFalse;
}

void EditorFrame::runOnce(std::chrono::milliseconds maxWait) {
    auto wait = maxWait;
    const Clock::time_point now = Clock::now();
    for (const Timer& timer : timers) {
        const auto untilDue =
            std::chrono::ceil<std::chrono::milliseconds>(std::max(timer.due - now, {}));
        wait = std::min(wait, untilDue);
    }
    dispatchDescriptors(wait);
    dispatchTimers();
}

void EditorFrame::runFor(std::chrono::milliseconds duration) {
    const Clock::time_point end = Clock::now() + duration;
    while (!stopRequested) {
        const Clock::time_point now = Clock::now();
        if (now >= end)
            return;
        runOnce(std::chrono::ceil<std::chrono::milliseconds>(end - now));
    }
}

// Handlers may register or unregister others while they run: work on a copy and skip any that
// went in the meantime.
void EditorFrame::dispatchDescriptors(std::chrono::milliseconds maxWait) {
    const std::vector<EventHandler> watched = handlers;
    std::vector<pollfd> fds;
    for (const EventHandler& entry : watched)
        fds.push_back({entry.fd, POLLIN, 0});
    const int ready = poll(fds.data(), fds.size(), static_cast<int>(maxWait.count()));
    if (ready <= 0)
        return;
    for (size_t i = 0; i < watched.size(); ++i) {
        if (fds[i].revents != 0 && stillHas(watched[i].handler, watched[i].fd))
            watched[i].handler->onFDIsSet(watched[i].fd);
    }
}

void EditorFrame::dispatchTimers() {
    const Clock::time_point now = Clock::now();
    std::vector<Linux::ITimerHandler*> due;
    for (Timer& timer : timers) {
        if (timer.due > now)
            continue;
        due.push_back(timer.handler);
        timer.due = std::max(timer.due + timer.interval, now);
    }
    for (Linux::ITimerHandler* handler : due) {
        if (stillHas(handler))
            handler->onTimer();
    }
}

bool EditorFrame::stillHas(Linux::ITimerHandler* handler) const {
    return std::any_of(timers.begin(), timers.end(),
                       [handler](const Timer& timer) { return timer.handler == handler; });
}

bool EditorFrame::stillHas(Linux::IEventHandler* handler, int fd) const {
    return std::any_of(handlers.begin(), handlers.end(), [&](const EventHandler& entry) {
        return entry.handler == handler && entry.fd == fd;
    });
}

tresult PLUGIN_API EditorFrame::queryInterface(const TUID iid, void** obj) {
    if (FUnknownPrivate::iidEqual(iid, IPlugFrame::iid) ||
        FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
        addRef();
        *obj = static_cast<IPlugFrame*>(this);
        return kResultOk;
    }
    if (FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid)) {
        addRef();
        *obj = static_cast<Linux::IRunLoop*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API EditorFrame::addRef() {
    return ++references;
}

uint32 PLUGIN_API EditorFrame::release() {
    const uint32 left = --references;
    if (left == 0)
        delete this;
    return left;
}

} // namespace tav::host
