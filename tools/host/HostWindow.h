#pragma once

#include <cstdint>
#include <string>

typedef struct xcb_connection_t xcb_connection_t;

namespace tav::host {

// A top-level X window for a plug-in's view to live in, as a DAW's plug-in window is: its own
// display connection, a title, and the window manager's close button. Main thread only.
class HostWindow {
public:
    // Main thread. Opens the display named by DISPLAY and maps a window of the given size;
    // throws HostError when there is no display.
    HostWindow(int width, int height, const std::string& title);
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    // The window id to hand to the view as its parent.
    uint32_t id() const { return window; }
    // The connection's descriptor, readable when events wait.
    int descriptor() const;

    // Main thread. Handles waiting events; false once the user asked to close the window or
    // the connection broke.
    bool pump();
    // Main thread. New client size in pixels.
    void resize(int width, int height);
    // Main thread. Destroys the window, leaving the connection open (as a host closing a
    // plug-in window before the plug-in noticed).
    void destroy();
    // Main thread. Waits until the server has handled every request sent so far.
    void sync();
    // Main thread; allocates. What the window shows now, with the plug-in's view inside it, as
    // a PNG file; false when it cannot be read or written.
    bool capture(const std::string& pngFile);

    xcb_connection_t* connection() const { return xcb; }

private:
    xcb_connection_t* xcb = nullptr;
    uint32_t window = 0;
    uint32_t deleteAtom = 0;
    bool open = true;
};

} // namespace tav::host
