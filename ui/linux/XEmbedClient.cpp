#include "ui/linux/XEmbedClient.h"

#include "ui/linux/XEmbed.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace tav::ui {
namespace {

// The property and the messages alike are lists of 32-bit words.
constexpr uint8_t kWordFormat = 32;

std::array<uint32_t, 2> infoWith(uint32_t flags) {
    return {xembed::kVersion, flags};
}

xcb_intern_atom_cookie_t askForAtom(xcb_connection_t* connection, const char* name) {
    // Not "only if it exists": on a bare server no client has made these names yet.
    return xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
}

xcb_atom_t atomOf(xcb_connection_t* connection, xcb_intern_atom_cookie_t cookie) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    xcb_atom_t atom = XCB_ATOM_NONE;
    if (reply != nullptr)
        atom = reply->atom;
    std::free(reply);
    return atom;
}

} // namespace

bool XEmbedClient::internAtoms(xcb_connection_t* connection) {
    connection_ = connection;
    const xcb_intern_atom_cookie_t info = askForAtom(connection, xembed::kInfoAtomName);
    const xcb_intern_atom_cookie_t message = askForAtom(connection, xembed::kMessageAtomName);
    infoAtom_ = atomOf(connection, info);
    messageAtom_ = atomOf(connection, message);
    return infoAtom_ != XCB_ATOM_NONE && messageAtom_ != XCB_ATOM_NONE;
}

xcb_void_cookie_t XEmbedClient::announce(xcb_window_t window, xcb_window_t parent) {
    window_ = window;
    parent_ = parent;
    // Not mapped yet. The window maps itself, since hosts that only reparent it never would, and
    // the flag follows once the server has done it.
    const std::array<uint32_t, 2> info = infoWith(0);
    return xcb_change_property_checked(connection_, XCB_PROP_MODE_REPLACE, window_, infoAtom_,
                                       infoAtom_, kWordFormat, info.size(), info.data());
}

void XEmbedClient::markMapped() {
    if (markedMapped_)
        return;
    markedMapped_ = true;
    const std::array<uint32_t, 2> info = infoWith(xembed::kFlagMapped);
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, infoAtom_, infoAtom_,
                        kWordFormat, info.size(), info.data());
    xcb_flush(connection_);
}

void XEmbedClient::onClientMessage(const xcb_client_message_event_t& message) {
    if (message.type != messageAtom_ || message.format != kWordFormat || message.window != window_)
        return;
    const uint32_t time = message.data.data32[0];
    switch (message.data.data32[1]) {
    case xembed::kEmbeddedNotify: {
        const xcb_window_t embedder = message.data.data32[3];
        embedder_ = embedder != XCB_WINDOW_NONE ? embedder : parent_;
        return;
    }
    case xembed::kFocusIn:
        takeFocus(time);
        return;
    case xembed::kFocusOut:
        giveFocusBack(time);
        return;
    case xembed::kWindowActivate:
    case xembed::kWindowDeactivate:
        return; // the view looks the same whether its top-level window is active or not
    default:
        return;
    }
}

void XEmbedClient::requestFocus(uint32_t time) {
    if (embedder_ == XCB_WINDOW_NONE)
        return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = kWordFormat;
    event.window = embedder_;
    event.type = messageAtom_;
    event.data.data32[0] = time;
    event.data.data32[1] = xembed::kRequestFocus;
    // No event mask: the event goes to the client that made the embedder's window.
    xcb_send_event(connection_, 0, embedder_, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection_);
}

// Keys then come to the window through the X focus, as they do after a click.
void XEmbedClient::takeFocus(uint32_t time) {
    xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_PARENT, window_, time);
    xcb_flush(connection_);
}

// The embedder holds the keyboard again: if the X focus is still the window's, the embedder gets
// it back, or keys meant for its other widgets would keep coming here.
void XEmbedClient::giveFocusBack(uint32_t time) {
    xcb_get_input_focus_reply_t* focus =
        xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr);
    const bool ours = focus != nullptr && focus->focus == window_;
    std::free(focus);
    if (!ours)
        return;
    const xcb_window_t embedder = embedder_ != XCB_WINDOW_NONE ? embedder_ : parent_;
    xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_PARENT, embedder, time);
    xcb_flush(connection_);
}

} // namespace tav::ui
