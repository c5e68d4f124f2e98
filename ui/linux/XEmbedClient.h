#pragma once

#include <xcb/xcb.h>

#include <cstdint>

namespace tav::ui {

// The editor window's side of XEmbed: the info property a toolkit socket reads as soon as it
// hears of the window, the focus the embedder hands over by message, and the focus request a
// click makes. A parent that speaks no XEmbed sends no message and is sent none, so the window
// works the same under a host that only reparents it. UI thread only; never flushes the
// announcement, so that it can travel with the window's creation.
class XEmbedClient {
public:
    // UI thread; one round trip, allocates its replies. Interns the protocol's atoms on the
    // window's own connection, creating them where the server has none yet. False when the server
    // does not answer.
    bool internAtoms(xcb_connection_t* connection);
    // UI thread; queues a request and sends nothing. Puts the info property (not mapped) on the
    // new child of `parent`; queue it right behind the window's creation.
    xcb_void_cookie_t announce(xcb_window_t window, xcb_window_t parent);
    // UI thread. The server reports the window mapped: the info property says so from now on.
    void markMapped();
    // UI thread; a focus-out costs one round trip. Acts on one client message to the window;
    // any that is not XEmbed's, or whose number it does not know, changes nothing.
    void onClientMessage(const xcb_client_message_event_t& message);
    // UI thread. The view was clicked at `time`: asks the embedder for the focus, once one has
    // said it embeds the window.
    void requestFocus(uint32_t time);

private:
    void takeFocus(uint32_t time);
    void giveFocusBack(uint32_t time);

    xcb_connection_t* connection_ = nullptr;
    xcb_atom_t infoAtom_ = XCB_ATOM_NONE;
    xcb_atom_t messageAtom_ = XCB_ATOM_NONE;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    xcb_window_t parent_ = XCB_WINDOW_NONE;
    xcb_window_t embedder_ = XCB_WINDOW_NONE; // none until XEMBED_EMBEDDED_NOTIFY
    bool markedMapped_ = false;
};

} // namespace tav::ui
