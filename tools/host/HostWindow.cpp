#include "tools/host/HostWindow.h"

#include "tools/HostError.h"

#include <cairo.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace tav::host {
namespace {

xcb_atom_t internAtom(xcb_connection_t* xcb, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        xcb, xcb_intern_atom(xcb, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

} // namespace

HostWindow::HostWindow(int width, int height, const std::string& title) {
    xcb = xcb_connect(nullptr, nullptr);
    if (xcb == nullptr || xcb_connection_has_error(xcb) != 0) {
        if (xcb != nullptr)
            xcb_disconnect(xcb);
        throw HostError("no X display to open a window on (is DISPLAY set?)");
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(xcb)).data;
    window = xcb_generate_id(xcb);
    const uint32_t values[] = {screen->black_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(xcb, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0,
                      static_cast<uint16_t>(width), static_cast<uint16_t>(height), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    xcb_change_property(xcb, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(title.size()), title.data());
    const xcb_atom_t protocols = internAtom(xcb, "WM_PROTOCOLS");
    deleteAtom = internAtom(xcb, "WM_DELETE_WINDOW");
    xcb_change_property(xcb, XCB_PROP_MODE_REPLACE, window, protocols, XCB_ATOM_ATOM, 32, 1,
                        &deleteAtom);
    xcb_map_window(xcb, window);
    sync();
}

HostWindow::~HostWindow() {
    destroy();
    xcb_disconnect(xcb);
}

int HostWindow::descriptor() const {
    return xcb_get_file_descriptor(xcb);
}

bool HostWindow::pump() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(xcb)) {
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if (message->data.data32[0] == deleteAtom)
                open = false;
        }
        std::free(event);
    }
    return open && xcb_connection_has_error(xcb) == 0;
}

void HostWindow::resize(int width, int height) {
    const uint32_t size[] = {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
    xcb_configure_window(xcb, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
    sync();
}

void HostWindow::destroy() {
    if (window == 0)
        return;
    xcb_destroy_window(xcb, window);
    window = 0;
    sync();
}

void HostWindow::sync() {
    std::free(xcb_get_input_focus_reply(xcb, xcb_get_input_focus(xcb), nullptr));
}

bool HostWindow::capture(const std::string& pngFile) {
    if (window == 0)
        return false;
    sync();
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(xcb, xcb_get_geometry(xcb, window), nullptr);
    if (geometry == nullptr)
        return false;
    const int width = geometry->width;
    const int height = geometry->height;
    std::free(geometry);
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        xcb,
        xcb_get_image(xcb, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, static_cast<uint16_t>(width),
                      static_cast<uint16_t>(height), ~0u),
        nullptr);
    if (image == nullptr)
        return false;
    // A 24-bit visual comes as 32-bit pixels in the server's (here little-endian) order, which
    // is Cairo's RGB24 layout.
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width);
    bool written = false;
    if (xcb_get_image_data_length(image) >= stride * height) {
        cairo_surface_t* surface = cairo_image_surface_create_for_data(
            xcb_get_image_data(image), CAIRO_FORMAT_RGB24, width, height, stride);
        written = cairo_surface_write_to_png(surface, pngFile.c_str()) == CAIRO_STATUS_SUCCESS;
        cairo_surface_destroy(surface);
    }
    std::free(image);
    return written;
}

} // namespace tav::host
