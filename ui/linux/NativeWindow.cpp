#include "ui/linux/NativeWindow.h"

#include "ui/linux/RetainedFrame.h"
#include "ui/linux/XEmbedClient.h"

#include <cairo.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xcb_cursor.h>
#include <xcb/xcb_keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>

namespace tav::ui {
namespace {

// A second press this soon and this close to the first is a double click.
constexpr uint32_t kDoubleClickMs = 400;
constexpr int kDoubleClickPixels = 4;

constexpr uint8_t kLeftButton = 1;
// The wheel is buttons 4 (up) and 5 (down), one press a notch.
constexpr uint8_t kWheelUp = 4;
constexpr uint8_t kWheelDown = 5;
constexpr uint32_t kEventMask = XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS |
                                XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
                                XCB_EVENT_MASK_LEAVE_WINDOW | XCB_EVENT_MASK_KEY_PRESS |
                                XCB_EVENT_MASK_STRUCTURE_NOTIFY;

// Cursor names of the X cursor themes, in CursorKind order.
constexpr std::array<const char*, 4> kCursorNames = {"left_ptr", "hand2", "sb_h_double_arrow",
                                                     "sb_v_double_arrow"};

// Key symbols (X11/keysymdef.h) of the keys the view understands.
std::optional<Key> keyOf(xcb_keysym_t symbol) {
    switch (symbol) {
    case 0xff51: // Left
    case 0xff96: // KP_Left
        return Key::Left;
    case 0xff53: // Right
    case 0xff98: // KP_Right
        return Key::Right;
    case 0xff52: // Up
    case 0xff97: // KP_Up
        return Key::Up;
    case 0xff54: // Down
    case 0xff99: // KP_Down
        return Key::Down;
    case 0xff55: // Prior
    case 0xff9a: // KP_Prior
        return Key::PageUp;
    case 0xff56: // Next
    case 0xff9b: // KP_Next
        return Key::PageDown;
    case 0xff50: // Home
    case 0xff95: // KP_Home
        return Key::Home;
    case 0xff57: // End
    case 0xff9c: // KP_End
        return Key::End;
    case 0xff09: // Tab
    case 0xfe20: // ISO_Left_Tab
        return Key::Tab;
    case 0xff0d: // Return
    case 0xff8d: // KP_Enter
        return Key::Return;
    case 0x0020: // space
        return Key::Space;
    case 0xff1b: // Escape
        return Key::Escape;
    case 0xff08: // BackSpace
        return Key::Backspace;
    case 0xffff: // Delete
    case 0xff9f: // KP_Delete
        return Key::Delete;
    default:
        return std::nullopt;
    }
}

// The server round trip that tells every earlier request has been handled.
void sync(xcb_connection_t* connection) {
    free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

// A 32-bit pixel layout the frame image can be put in as it is: 24-bit true colour, red in the
// high byte, least significant byte first (what Cairo's RGB24 image holds on this machine).
bool screenTakesRgb24(const xcb_setup_t* setup, const xcb_screen_t* screen) {
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST || screen->root_depth != 24)
        return false;
    bool fourBytes = false;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem;
         xcb_format_next(&formats)) {
        if (formats.data->depth == 24)
            fourBytes = formats.data->bits_per_pixel == 32;
    }
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem;
         xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
             xcb_visualtype_next(&visuals)) {
            const xcb_visualtype_t* visual = visuals.data;
            if (visual->visual_id == screen->root_visual)
                return fourBytes && visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
                       visual->red_mask == 0xff0000 && visual->green_mask == 0xff00 &&
                       visual->blue_mask == 0xff;
        }
    }
    return false;
}

// A child window of the parent, or 0 when the parent does not exist (any more). It has no
// background: the frame covers every pixel, so the server never clears it first. The XEmbed info
// travels in the same batch as the creation and nothing is sent between them: the server handles
// one connection's requests in order, so an embedder that reads the property as soon as it hears
// of the window finds it.
xcb_window_t createChild(xcb_connection_t* connection, const xcb_screen_t* screen,
                         xcb_window_t parent, int32_t width, int32_t height, XEmbedClient& xembed) {
    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t values[] = {XCB_BACK_PIXMAP_NONE, 0, XCB_GRAVITY_NORTH_WEST, kEventMask,
                               screen->default_colormap};
    const xcb_void_cookie_t created = xcb_create_window_checked(
        connection, screen->root_depth, window, parent, 0, 0, static_cast<uint16_t>(width),
        static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
        XCB_CW_BACK_PIXMAP | XCB_CW_BORDER_PIXEL | XCB_CW_BIT_GRAVITY | XCB_CW_EVENT_MASK |
            XCB_CW_COLORMAP,
        values);
    const xcb_void_cookie_t announced = xembed.announce(window, parent);
    xcb_generic_error_t* creationError = xcb_request_check(connection, created);
    xcb_generic_error_t* announceError = xcb_request_check(connection, announced);
    const bool ok = creationError == nullptr && announceError == nullptr;
    free(creationError);
    free(announceError);
    return ok ? window : 0;
}

// The off-screen frame: pixels in a shared memory segment the server reads directly, or in
// ordinary memory sent with each frame when the server cannot share (remote, no extension).
class FrameImage {
public:
    FrameImage(xcb_connection_t* connection, int32_t width, int32_t height)
        : connection_(connection), width_(std::max(width, 1)), height_(std::max(height, 1)),
          stride_(cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width_)) {
        const size_t bytes = static_cast<size_t>(stride_) * static_cast<size_t>(height_);
        if (!attachSharedMemory(bytes)) {
            plain_.reset(static_cast<unsigned char*>(std::calloc(bytes, 1)));
            pixels_ = plain_.get();
        }
        if (pixels_ != nullptr)
            surface_ = cairo_image_surface_create_for_data(pixels_, CAIRO_FORMAT_RGB24, width_,
                                                           height_, stride_);
    }

    ~FrameImage() {
        if (surface_ != nullptr)
            cairo_surface_destroy(surface_);
        if (segment_ != 0) {
            xcb_shm_detach(connection_, segment_);
            xcb_flush(connection_);
        }
        if (shared_ != nullptr)
            shmdt(shared_);
    }
    FrameImage(const FrameImage&) = delete;
    FrameImage& operator=(const FrameImage&) = delete;

    bool ok() const {
        return surface_ != nullptr && cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS;
    }
    cairo_surface_t* surface() const { return surface_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    bool shared() const { return segment_ != 0; }

    // Sends a band of whole rows to the drawable; the caller syncs before the pixels change.
    void put(xcb_drawable_t drawable, xcb_gcontext_t gc, int32_t top, int32_t bottom) const {
        top = std::clamp(top, 0, height_);
        bottom = std::clamp(bottom, top, height_);
        if (bottom == top)
            return;
        const auto w = static_cast<uint16_t>(width_);
        if (shared()) {
            xcb_shm_put_image(connection_, drawable, gc, w, static_cast<uint16_t>(height_), 0,
                              static_cast<uint16_t>(top), w, static_cast<uint16_t>(bottom - top), 0,
                              static_cast<int16_t>(top), 24, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment_,
                              0);
            return;
        }
        // A request has a size limit: send strips of whole rows that fit.
        constexpr uint32_t kHeaderBytes = 64;
        const uint32_t limit = xcb_get_maximum_request_length(connection_) * 4u - kHeaderBytes;
        const int32_t rowsPerStrip = std::max<int32_t>(1, static_cast<int32_t>(limit / stride_));
        for (int32_t row = top; row < bottom; row += rowsPerStrip) {
            const int32_t rows = std::min(rowsPerStrip, bottom - row);
            xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, gc, w,
                          static_cast<uint16_t>(rows), 0, static_cast<int16_t>(row), 0, 24,
                          static_cast<uint32_t>(rows * stride_), pixels_ + row * stride_);
        }
    }

private:
    struct FreeDeleter {
        void operator()(unsigned char* p) const { std::free(p); }
    };

    bool attachSharedMemory(size_t bytes) {
        const xcb_query_extension_reply_t* extension =
            xcb_get_extension_data(connection_, &xcb_shm_id);
        if (extension == nullptr || !extension->present)
            return false;
        const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (id < 0)
            return false;
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return false;
        }
        const xcb_shm_seg_t segment = xcb_generate_id(connection_);
        xcb_generic_error_t* error =
            xcb_request_check(connection_, xcb_shm_attach_checked(connection_, segment,
                                                                  static_cast<uint32_t>(id), 0));
        // Marked for removal now: the segment goes when both sides have let go, even after a crash.
        shmctl(id, IPC_RMID, nullptr);
        if (error != nullptr) {
            free(error);
            shmdt(address);
            return false;
        }
        shared_ = address;
        segment_ = segment;
        pixels_ = static_cast<unsigned char*>(address);
        return true;
    }

    xcb_connection_t* connection_;
    int32_t width_;
    int32_t height_;
    int32_t stride_;
    void* shared_ = nullptr;
    xcb_shm_seg_t segment_ = 0;
    std::unique_ptr<unsigned char, FreeDeleter> plain_;
    unsigned char* pixels_ = nullptr;
    cairo_surface_t* surface_ = nullptr;
};

} // namespace

struct NativeWindow::Connection {
    xcb_connection_t* connection = nullptr;
    xcb_window_t window = 0;
    xcb_gcontext_t gc = 0;
    xcb_cursor_context_t* cursorContext = nullptr;
    std::array<xcb_cursor_t, 4> cursors{};
    int32_t shownCursor = -1; // none set yet
    xcb_key_symbols_t* keySymbols = nullptr;
    // The keyboard map as XKB describes it, for turning keys into typed text; null where the
    // server has no XKB.
    xkb_context* xkbContext = nullptr;
    xkb_keymap* xkbKeymap = nullptr;
    xkb_state* xkbState = nullptr;
    int32_t xkbDevice = -1;
    std::unique_ptr<FrameImage> frame;
    RetainedFrame retained;
    XEmbedClient xembed;
    bool exposed = true;     // the server lost the window's pixels: put the whole frame
    bool windowGone = false; // destroyed with its parent, or never usable
    bool pressed = false;    // the first press of a possible double click
    uint32_t pressTime = 0;
    int16_t pressX = 0;
    int16_t pressY = 0;

    ~Connection() {
        frame.reset();
        if (keySymbols != nullptr)
            xcb_key_symbols_free(keySymbols);
        releaseKeymap();
        if (xkbContext != nullptr)
            xkb_context_unref(xkbContext);
        for (xcb_cursor_t cursor : cursors) {
            if (cursor != 0)
                xcb_free_cursor(connection, cursor);
        }
        if (cursorContext != nullptr)
            xcb_cursor_context_free(cursorContext);
        if (gc != 0)
            xcb_free_gc(connection, gc);
        if (window != 0 && !windowGone)
            xcb_destroy_window(connection, window);
        xcb_disconnect(connection);
    }

    int32_t width() const { return frame ? frame->width() : 0; }

    void releaseKeymap() {
        if (xkbState != nullptr)
            xkb_state_unref(xkbState);
        if (xkbKeymap != nullptr)
            xkb_keymap_unref(xkbKeymap);
        xkbState = nullptr;
        xkbKeymap = nullptr;
    }

    // The core keyboard's map, read (again, after the server's map changed) from the server.
    void loadKeymap() {
        releaseKeymap();
        if (xkbContext == nullptr || xkbDevice < 0)
            return;
        xkbKeymap = xkb_x11_keymap_new_from_device(xkbContext, connection, xkbDevice,
                                                   XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (xkbKeymap != nullptr)
            xkbState = xkb_x11_state_new_from_device(xkbKeymap, connection, xkbDevice);
    }

    // The text a key types with the modifiers and group of its event, into `text`; false for
    // none or a control character (Return, Tab, Backspace, a Control chord).
    bool textOf(uint8_t keycode, uint16_t state, char (&text)[32]) {
        if (xkbState == nullptr)
            return false;
        // The core state holds the eight real modifiers in XKB's order and the group in bits
        // 13 and 14; locked or latched makes no difference to a single lookup.
        xkb_state_update_mask(xkbState, state & 0xffu, 0, 0, 0, 0, (state >> 13) & 3u);
        const int length = xkb_state_key_get_utf8(xkbState, keycode, text, sizeof text);
        if (length <= 0 || length >= static_cast<int>(sizeof text))
            return false;
        const auto first = static_cast<unsigned char>(text[0]);
        return first >= 0x20 && first != 0x7f;
    }
};

NativeWindow::NativeWindow(Window& view, TickCallback tick, RunLoop& runLoop)
    : view_(view), tick_(std::move(tick)), runLoop_(runLoop) {}

NativeWindow::~NativeWindow() {
    destroy();
}

void NativeWindow::destroy() {
    if (registered_)
        runLoop_.remove(*this);
    registered_ = false;
    x_.reset();
    resources_.reset();
}

bool NativeWindow::create(uint32_t parentWindowId, int32_t width, int32_t height,
                          const std::filesystem::path& fontsFolder) {
    destroy();
    resources_ = CairoResources::create(fontsFolder);
    if (!resources_)
        return false;

    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    auto x = std::make_unique<Connection>();
    x->connection = connection;
    if (xcb_connection_has_error(connection)) {
        destroy();
        return false;
    }
    const xcb_setup_t* setup = xcb_get_setup(connection);
    auto screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    xcb_screen_t* screen = screens.data;
    if (screen == nullptr || !screenTakesRgb24(setup, screen)) {
        destroy();
        return false;
    }

    if (!x->xembed.internAtoms(connection)) {
        destroy();
        return false;
    }
    x->window = createChild(connection, screen, parentWindowId, std::max(width, 1),
                            std::max(height, 1), x->xembed);
    if (x->window == 0) {
        destroy();
        return false;
    }
    x->gc = xcb_generate_id(connection);
    const uint32_t noExposures = 0;
    xcb_create_gc(connection, x->gc, x->window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    if (xcb_cursor_context_new(connection, screen, &x->cursorContext) >= 0) {
        for (size_t i = 0; i < kCursorNames.size(); ++i)
            x->cursors[i] = xcb_cursor_load_cursor(x->cursorContext, kCursorNames[i]);
    }
    x->keySymbols = xcb_key_symbols_alloc(connection);
    if (xkb_x11_setup_xkb_extension(
            connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr) != 0) {
        x->xkbContext = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        x->xkbDevice = xkb_x11_get_core_keyboard_device_id(connection);
        x->loadKeymap();
    }
    x->frame = std::make_unique<FrameImage>(connection, width, height);
    x_ = std::move(x);
    if (!x_->frame->ok()) {
        destroy();
        return false;
    }
    updateCursor();
    xcb_map_window(connection, x_->window);
    xcb_flush(connection);

    registered_ = true; // remove() is harmless for a half-registered client
    if (!runLoop_.addTimer(*this, kFrameIntervalMs) ||
        !runLoop_.addDescriptor(*this, xcb_get_file_descriptor(connection))) {
        destroy();
        return false;
    }
    lastTick_ = std::chrono::steady_clock::now();
    return true;
}

void NativeWindow::resize(int32_t width, int32_t height) {
    if (!x_ || x_->windowGone)
        return;
    width = std::max(width, 1);
    height = std::max(height, 1);
    const uint32_t values[] = {0, 0, static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
    xcb_configure_window(x_->connection, x_->window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    auto frame = std::make_unique<FrameImage>(x_->connection, width, height);
    if (frame->ok()) {
        x_->frame = std::move(frame);
        x_->retained.invalidate();
        x_->exposed = true;
    }
    paintFrame();
}

uint32_t NativeWindow::windowId() const {
    return x_ ? x_->window : 0;
}

float NativeWindow::drawingScale() const {
    return x_ ? paintScale(x_->width()) : 0.0f;
}

bool NativeWindow::usesSharedMemory() const {
    return x_ && x_->frame->shared();
}

void NativeWindow::paintNow() {
    paintFrame();
}

void NativeWindow::onTimer() {
    drainEvents();
    const auto now = std::chrono::steady_clock::now();
    const float elapsed = std::chrono::duration<float>(now - lastTick_).count();
    lastTick_ = now;
    if (tick_)
        tick_(view_, std::min(elapsed, kMaxFrameSeconds));
    paintFrame();
}

void NativeWindow::onDescriptorReady() {
    if (drainEvents())
        paintFrame();
}

// Handles every event queued on the connection; true when the view needs a new frame. A broken
// connection leaves the run loop, since its descriptor would stay readable for ever.
bool NativeWindow::drainEvents() {
    if (!x_)
        return false;
    bool redraw = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(x_->connection)) {
        redraw = handleEvent(event) || redraw;
        free(event);
    }
    if (xcb_connection_has_error(x_->connection)) {
        x_->windowGone = true;
        if (registered_)
            runLoop_.remove(*this);
        registered_ = false;
        return false;
    }
    if (redraw)
        updateCursor();
    return redraw;
}

bool NativeWindow::handleEvent(const void* rawEvent) {
    const auto* event = static_cast<const xcb_generic_event_t*>(rawEvent);
    const float scale = inputScale(x_->width());
    switch (event->response_type & 0x7f) {
    case 0: { // an error: the window named as missing means it is gone (its parent went first)
        const auto* error = static_cast<const xcb_generic_error_t*>(rawEvent);
        const bool missing = error->error_code == XCB_WINDOW || error->error_code == XCB_DRAWABLE;
        if (missing && error->resource_id == x_->window)
            x_->windowGone = true;
        return false;
    }
    case XCB_EXPOSE:
        x_->exposed = true;
        return static_cast<const xcb_expose_event_t*>(rawEvent)->count == 0;
    case XCB_DESTROY_NOTIFY:
        if (static_cast<const xcb_destroy_notify_event_t*>(rawEvent)->window == x_->window)
            x_->windowGone = true;
        return false;
    case XCB_BUTTON_PRESS: {
        const auto* press = static_cast<const xcb_button_press_event_t*>(rawEvent);
        if (press->detail == kWheelUp || press->detail == kWheelDown) {
            view_.onWheel(press->event_x / scale, press->event_y / scale,
                          press->detail == kWheelUp ? 1.0f : -1.0f);
            return true;
        }
        if (press->detail != kLeftButton)
            return false;
        return handlePress(press->event_x, press->event_y, press->time);
    }
    case XCB_BUTTON_RELEASE: {
        const auto* release = static_cast<const xcb_button_release_event_t*>(rawEvent);
        if (release->detail != kLeftButton)
            return false;
        view_.onMouseUp(release->event_x / scale, release->event_y / scale);
        return true;
    }
    case XCB_MOTION_NOTIFY: {
        const auto* motion = static_cast<const xcb_motion_notify_event_t*>(rawEvent);
        view_.onMouseMove(motion->event_x / scale, motion->event_y / scale);
        return true;
    }
    case XCB_LEAVE_NOTIFY:
        if (static_cast<const xcb_leave_notify_event_t*>(rawEvent)->detail ==
            XCB_NOTIFY_DETAIL_INFERIOR)
            return false;
        view_.onMouseLeave();
        return true;
    case XCB_KEY_PRESS: {
        const auto* key = static_cast<const xcb_key_press_event_t*>(rawEvent);
        return handleKey(key->detail, key->state);
    }
    case XCB_MAP_NOTIFY:
        if (static_cast<const xcb_map_notify_event_t*>(rawEvent)->window == x_->window)
            x_->xembed.markMapped();
        return false;
    case XCB_CLIENT_MESSAGE:
        x_->xembed.onClientMessage(*static_cast<const xcb_client_message_event_t*>(rawEvent));
        return false;
    case XCB_MAPPING_NOTIFY:
        xcb_refresh_keyboard_mapping(x_->keySymbols,
                                     const_cast<xcb_mapping_notify_event_t*>(
                                         static_cast<const xcb_mapping_notify_event_t*>(rawEvent)));
        x_->loadKeymap();
        return false;
    default:
        return false;
    }
}

// The pointer is grabbed by the server while the button is down, so the moves and the release
// of a drag come here even outside the window.
bool NativeWindow::handlePress(int16_t x, int16_t y, uint32_t time) {
    xcb_set_input_focus(x_->connection, XCB_INPUT_FOCUS_PARENT, x_->window, time);
    x_->xembed.requestFocus(time);
    const float scale = inputScale(x_->width());
    const bool twice = x_->pressed && time - x_->pressTime <= kDoubleClickMs &&
                       std::abs(x - x_->pressX) <= kDoubleClickPixels &&
                       std::abs(y - x_->pressY) <= kDoubleClickPixels;
    if (twice) {
        x_->pressed = false; // a third press starts a new pair
        view_.onDoubleClick(x / scale, y / scale);
        return true;
    }
    x_->pressed = true;
    x_->pressTime = time;
    x_->pressX = x;
    x_->pressY = y;
    view_.onMouseDown(x / scale, y / scale);
    return true;
}

bool NativeWindow::handleKey(uint8_t keycode, uint16_t state) {
    // While the name field is open a key that types something types it (Space too); the rest
    // keep their meaning.
    char text[32];
    if (view_.nameFieldOpen() && x_->textOf(keycode, state, text)) {
        view_.onText(text);
        return true;
    }
    if (x_->keySymbols == nullptr)
        return false;
    const std::optional<Key> key = keyOf(xcb_key_symbols_get_keysym(x_->keySymbols, keycode, 0));
    if (!key)
        return false;
    view_.onKey(*key, (state & XCB_MOD_MASK_SHIFT) != 0);
    return true;
}

void NativeWindow::updateCursor() {
    const auto kind = static_cast<int32_t>(view_.cursorKind());
    if (kind == x_->shownCursor || kind < 0 || kind >= static_cast<int32_t>(kCursorNames.size()))
        return;
    const xcb_cursor_t cursor = x_->cursors[static_cast<size_t>(kind)];
    if (cursor == 0 || x_->windowGone)
        return;
    xcb_change_window_attributes(x_->connection, x_->window, XCB_CW_CURSOR, &cursor);
    x_->shownCursor = kind;
}

// Repaints what changed since the last frame and puts those rows on the window (all of them
// after an expose), then waits for the server: the next frame is drawn into the same pixels, and
// an error on the window (its parent gone) has arrived by the next drain.
void NativeWindow::paintFrame() {
    if (!x_ || x_->windowGone || !x_->frame)
        return;
    FrameImage& frame = *x_->frame;
    const std::vector<PixelRect>& damage =
        x_->retained.paint(view_, *resources_, frame.surface(), paintScale(frame.width()));
    if (x_->exposed) {
        frame.put(x_->window, x_->gc, 0, frame.height());
        x_->exposed = false;
    } else if (damage.empty()) {
        return; // nothing changed: no request, no round trip
    } else {
        for (const PixelRect& band : damage)
            frame.put(x_->window, x_->gc, band.y0, band.y1);
    }
    sync(x_->connection);
}

} // namespace tav::ui
