#pragma once

#include "ui/NativeWindowCommon.h"
#include "ui/Window.h"
#include "ui/linux/CairoResources.h"
#include "ui/linux/RunLoop.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace tav::ui {

// The editor's X11 child window: hosts the view inside the window id the host gives, on a display
// connection of its own (xcb, so an X error arrives as an event and never ends the process). The
// frame timer and the connection's descriptor run through the host's run loop; there is no thread.
// Every frame is painted off-screen and put on the window in one request (shared memory where the
// server offers it), so nothing flickers. It is an XEmbed client for hosts whose parent is a
// toolkit socket, and maps itself for hosts that only give it a parent. UI thread only.
class NativeWindow final : private RunLoopClient {
public:
    // UI thread. `view` and `runLoop` must outlive the window; `tick` may be empty.
    NativeWindow(Window& view, TickCallback tick, RunLoop& runLoop);
    // UI thread. Unregisters from the run loop, then destroys the window and closes its connection.
    ~NativeWindow() override;
    NativeWindow(const NativeWindow&) = delete;
    NativeWindow& operator=(const NativeWindow&) = delete;

    // UI thread; allocates. Loads the fonts, connects to the display named by DISPLAY and makes a
    // child of `parentWindowId` of the size in pixels, then starts the frame timer. False, with no
    // window and nothing registered, when the fonts, the display, the parent or the run loop fail.
    bool create(uint32_t parentWindowId, int32_t width, int32_t height,
                const std::filesystem::path& fontsFolder);
    // UI thread; allocates. Moves the window to (0, 0) with the new size in pixels and repaints.
    void resize(int32_t width, int32_t height);
    // UI thread. The X window id; 0 when there is none.
    uint32_t windowId() const;

    // UI thread. Paints one frame and puts it on the window, returning once the server has it.
    void paintNow();
    // UI thread. Device pixels per view unit of the frames drawn now (window width / 760).
    float drawingScale() const;
    // UI thread. Whether frames travel through shared memory (else as plain image requests).
    bool usesSharedMemory() const;

private:
    struct Connection;

    void onTimer() override;
    void onDescriptorReady() override;

    void destroy();
    bool drainEvents();
    bool handleEvent(const void* event);
    bool handlePress(int16_t x, int16_t y, uint32_t time);
    bool handleKey(uint8_t keycode, uint16_t state);
    void updateCursor();
    void paintFrame();

    Window& view_;
    TickCallback tick_;
    RunLoop& runLoop_;
    std::unique_ptr<CairoResources> resources_;
    std::unique_ptr<Connection> x_;
    bool registered_ = false;
    std::chrono::steady_clock::time_point lastTick_{};
};

} // namespace tav::ui
