#pragma once

#include "ui/NativeWindowCommon.h"
#include "ui/win32/GraphicsResources.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>

namespace tav::ui {

class Window;

// The Win32 child window that hosts the view inside the host's window: turns messages into
// calls on the view in view units, runs the 33 ms frame timer and paints every frame with a
// D2dCanvas on a window render target. UI thread only.
class NativeWindow {
public:
    // UI thread. The view must outlive this window; `tick` may be empty.
    NativeWindow(Window& view, TickCallback tick);
    // UI thread. Destroys the window if it exists.
    ~NativeWindow();
    NativeWindow(const NativeWindow&) = delete;
    NativeWindow& operator=(const NativeWindow&) = delete;

    // UI thread; allocates. Loads the fonts from `fontsFolder` and makes a child window of
    // `parent` (the host's HWND) of width x height pixels; false when the fonts cannot be loaded
    // or the window cannot be made (there is then no window).
    bool create(void* parent, int32_t width, int32_t height,
                const std::filesystem::path& fontsFolder);
    // UI thread. Moves the window to (0, 0) with the new size and repaints it.
    void resize(int32_t width, int32_t height);

    // The window, or null before create and after a failed one.
    HWND handle() const { return window; }

private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void paintFrame();
    void tickFrame();
    bool onCharacter(char16_t unit);
    void redraw();
    void destroy();

    Window& view;
    TickCallback tick;
    GraphicsResources resources;
    ComPtr<ID2D1HwndRenderTarget> renderTarget;
    HWND window = nullptr;
    int64_t previousCount = 0;
    int64_t countFrequency = 1;
    bool leaveRequested = false;
    uint32_t frameCount = 0;
    char16_t highSurrogate = 0; // the first half of a character typed in two messages
};

} // namespace tav::ui
