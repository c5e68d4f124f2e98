#include "ui/linux/NativeWindow.h"
#include "support/XvfbServer.h"
#include "ui/EditorLayout.h"
#include "ui/linux/SnapshotRenderer.h"
#include "ui/linux/XEmbed.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tav::ui {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(5);

// A run loop as small as a host's: poll on the registered descriptors, with a timeout up to the
// next timer. Removal may happen inside a callback.
class PollRunLoop final : public RunLoop {
public:
    bool refuseDescriptors = false;

    bool addTimer(RunLoopClient& client, uint32_t milliseconds) override {
        timers[&client] = {std::chrono::milliseconds(milliseconds), Clock::now()};
        return true;
    }
    bool addDescriptor(RunLoopClient& client, int fd) override {
        if (refuseDescriptors)
            return false;
        descriptors[&client] = fd;
        return true;
    }
    void remove(RunLoopClient& client) override {
        timers.erase(&client);
        descriptors.erase(&client);
    }
    size_t registrations() const { return timers.size() + descriptors.size(); }

    // Runs until the condition holds or a few seconds passed; the condition's last value.
    bool runUntil(const std::function<bool()>& done) {
        const auto deadline = Clock::now() + kPatience;
        while (!done()) {
            if (Clock::now() > deadline)
                return false;
            runOnce();
        }
        return true;
    }

    void runFor(std::chrono::milliseconds span) {
        const auto end = Clock::now() + span;
        runUntil([&] { return Clock::now() >= end; });
    }

private:
    struct Timer {
        std::chrono::milliseconds period;
        Clock::time_point last;
    };

    void runOnce() {
        std::vector<pollfd> fds;
        std::vector<RunLoopClient*> owners;
        for (const auto& [client, fd] : descriptors) {
            fds.push_back({fd, POLLIN, 0});
            owners.push_back(client);
        }
        poll(fds.data(), fds.size(), 5);
        for (size_t i = 0; i < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) != 0 && descriptors.contains(owners[i]))
                owners[i]->onDescriptorReady();
        }
        const auto now = Clock::now();
        std::vector<RunLoopClient*> due;
        for (auto& [client, timer] : timers) {
            if (now - timer.last >= timer.period) {
                timer.last = now;
                due.push_back(client);
            }
        }
        for (RunLoopClient* client : due) {
            if (timers.contains(client))
                client->onTimer();
        }
    }

    std::map<RunLoopClient*, Timer> timers;
    std::map<RunLoopClient*, int> descriptors;
};

struct Edit {
    char kind; // b(egin), p(erform), e(nd)
    int32_t index;
    float value;
    bool operator==(const Edit& other) const {
        return kind == other.kind && index == other.index && std::abs(value - other.value) < 1e-4f;
    }
};

class RecordingListener final : public WindowListener {
public:
    void beginEdit(int32_t index) override { edits.push_back({'b', index, 0.0f}); }
    void performEdit(int32_t index, float value) override { edits.push_back({'p', index, value}); }
    void endEdit(int32_t index) override { edits.push_back({'e', index, 0.0f}); }
    std::vector<Edit> edits;
};

std::ostream& operator<<(std::ostream& out, const Edit& edit) {
    return out << edit.kind << edit.index << "=" << edit.value;
}

// One private X server per test, a top-level window as the host's parent and an own connection
// for synthetic input and reading pixels back.
class NativeWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<test::XvfbServer>(1600, 1200, serverOptions);
        ASSERT_TRUE(server->ok()) << "Xvfb did not start (run scripts/setup)";
        setenv("DISPLAY", server->display().c_str(), 1);
        connection = xcb_connect(server->display().c_str(), nullptr);
        ASSERT_EQ(xcb_connection_has_error(connection), 0);
        screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    }

    void TearDown() override {
        window.reset();
        if (connection != nullptr)
            xcb_disconnect(connection);
    }

    xcb_window_t makeParent(int width, int height) {
        const xcb_window_t parent = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, parent, screen->root, 0, 0,
                          static_cast<uint16_t>(width), static_cast<uint16_t>(height), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_map_window(connection, parent);
        xcb_flush(connection);
        return parent;
    }

    // The editor's window as a child of a new parent of the same size, shown on screen.
    void open(int width, int height, Window& view) {
        parent = makeParent(width, height);
        window = std::make_unique<NativeWindow>(view, ticks, loop);
        ASSERT_TRUE(window->create(parent, width, height, TAVIMO_FONTS_DIR));
        ASSERT_TRUE(loop.runUntil([&] { return viewable(window->windowId()); }));
    }

    bool viewable(xcb_window_t id) {
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, id), nullptr);
        const bool result =
            attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        free(attributes);
        return result;
    }

    void fake(uint8_t type, uint8_t detail, int16_t x = 0, int16_t y = 0) {
        xcb_test_fake_input(connection, type, detail, XCB_CURRENT_TIME, screen->root, x, y, 0);
        xcb_flush(connection);
    }
    void moveTo(int x, int y) {
        fake(XCB_MOTION_NOTIFY, 0, static_cast<int16_t>(x), static_cast<int16_t>(y));
    }
    void button(bool down) { fake(down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, 1); }
    void key(xcb_keysym_t symbol, bool down) {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, symbol);
        ASSERT_NE(codes, nullptr);
        fake(down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, codes[0]);
        free(codes);
        xcb_key_symbols_free(symbols);
    }

    // The window's pixels as 0xRRGGBB, row by row.
    std::vector<uint32_t> windowPixels(int width, int height) {
        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window->windowId(), 0, 0,
                          static_cast<uint16_t>(width), static_cast<uint16_t>(height), ~0u),
            nullptr);
        std::vector<uint32_t> pixels;
        if (reply == nullptr)
            return pixels;
        const auto* data = reinterpret_cast<const uint32_t*>(xcb_get_image_data(reply));
        pixels.assign(data, data + width * height);
        free(reply);
        for (uint32_t& pixel : pixels)
            pixel &= 0xffffff;
        return pixels;
    }

    // Paints a frame: what reaches the screen is what a snapshot of the view shows.
    void expectWindowMatchesSnapshot(Window& view, float scale) {
        const auto resources = CairoResources::create(TAVIMO_FONTS_DIR);
        ASSERT_TRUE(resources);
        window->paintNow();
        const SurfacePtr snapshot = SnapshotRenderer::render(view, *resources, scale);
        const std::vector<uint32_t> expected = imagePixels(snapshot.get());
        const int bad = differing(windowPixels(static_cast<int>(Window::kWidth * scale),
                                               static_cast<int>(Window::kHeight * scale)),
                                  expected);
        EXPECT_GE(bad, 0);
        EXPECT_LT(bad, static_cast<int>(expected.size() / 1000)) << "pixels differ";
    }

    void expectWindowShowsTheView(bool sharedMemory);

    xcb_window_t inputFocus() {
        xcb_get_input_focus_reply_t* reply =
            xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
        xcb_window_t focus = XCB_WINDOW_NONE;
        if (reply != nullptr)
            focus = reply->focus;
        free(reply);
        return focus;
    }

    static std::vector<uint32_t> imagePixels(cairo_surface_t* image) {
        const int width = cairo_image_surface_get_width(image);
        const int height = cairo_image_surface_get_height(image);
        const int stride = cairo_image_surface_get_stride(image);
        std::vector<uint32_t> pixels;
        for (int y = 0; y < height; ++y) {
            const auto* row =
                reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(image) + y * stride);
            for (int x = 0; x < width; ++x)
                pixels.push_back(row[x] & 0xffffff);
        }
        return pixels;
    }

    // Pixels whose channels differ by more than a small rounding step.
    static int differing(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
        if (a.size() != b.size())
            return -1;
        int count = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            for (int shift = 0; shift < 24; shift += 8) {
                const int ca = static_cast<int>((a[i] >> shift) & 0xff);
                const int cb = static_cast<int>((b[i] >> shift) & 0xff);
                if (std::abs(ca - cb) > 2) {
                    ++count;
                    break;
                }
            }
        }
        return count;
    }

    std::vector<std::string> serverOptions;
    std::unique_ptr<test::XvfbServer> server;
    xcb_connection_t* connection = nullptr;
    xcb_screen_t* screen = nullptr;
    xcb_window_t parent = 0;
    PollRunLoop loop;
    int tickCount = 0;
    TickCallback ticks = [this](Window&, float) { ++tickCount; };
    std::unique_ptr<NativeWindow> window;
};

// Synthetic input on the screen reaches the view as the same calls, in view units, that a
// second view receives directly.
TEST_F(NativeWindowTest, InputReachesTheViewInViewUnits) {
    for (const float scale : {1.0f, 1.5f}) {
        SCOPED_TRACE(scale);
        RecordingListener viaWindow, direct;
        Window view(&viaWindow), expected(&direct);
        const int width = static_cast<int>(Window::kWidth * scale);
        open(width, static_cast<int>(Window::kHeight * scale), view);
        const auto px = [scale](float units) { return static_cast<int>(units * scale); };

        // A click, a drag, a key with Shift, a double click, then the pointer leaves.
        moveTo(px(250), px(200));
        button(true);
        button(false);
        expected.onMouseMove(250, 200);
        expected.onMouseDown(250, 200);
        expected.onMouseUp(250, 200);

        moveTo(px(300), px(220));
        button(true);
        moveTo(px(400), px(220));
        button(false);
        expected.onMouseMove(300, 220);
        expected.onMouseDown(300, 220);
        expected.onMouseMove(400, 220);
        expected.onMouseUp(400, 220);
        // Keys go where the press put the focus: let the window handle the press first.
        loop.runUntil([&] { return viaWindow.edits.size() >= direct.edits.size(); });

        key(0xffe1, true); // Shift_L
        key(0xff53, true); // Right
        key(0xff53, false);
        key(0xffe1, false);
        expected.onKey(Key::Right, true);

        moveTo(px(500), px(180));
        button(true);
        button(false);
        button(true);
        button(false);
        expected.onMouseMove(500, 180);
        expected.onMouseDown(500, 180);
        expected.onMouseUp(500, 180);
        expected.onDoubleClick(500, 180);
        expected.onMouseUp(500, 180);

        loop.runUntil([&] { return viaWindow.edits.size() >= direct.edits.size(); });
        ASSERT_EQ(viaWindow.edits, direct.edits);
        EXPECT_NEAR(view.morph(), 0.5f, 1e-6f); // the double click's reset came last
        EXPECT_EQ(view.hovered(), ElementId::MorphArea);

        moveTo(width + 40, 40);
        EXPECT_TRUE(loop.runUntil([&] { return view.hovered() == ElementId::None; }));
        window.reset();
    }
}

// Real key events type into the open name field through the server's keyboard map (Shift makes
// a capital, Space a space); the keys that are not typing keep their meaning.
TEST_F(NativeWindowTest, KeysTypeIntoTheOpenNameField) {
    struct Saver final : WindowListener {
        void beginEdit(int32_t) override {}
        void performEdit(int32_t, float) override {}
        void endEdit(int32_t) override {}
        void savePresetAs(const std::string& name) override { saved.push_back(name); }
        std::vector<std::string> saved;
    } listener;
    Window view(&listener);
    view.setPresets({{"Drum Skin", "Full transformations"}});
    open(760, 500, view);

    const Point pill = EditorLayout::kPresetPill.centre();
    moveTo(static_cast<int>(pill.x), static_cast<int>(pill.y));
    button(true);
    button(false);
    ASSERT_TRUE(loop.runUntil([&] { return view.overlay() == Overlay::PresetMenu; }));
    const auto tap = [this](xcb_keysym_t symbol) {
        key(symbol, true);
        key(symbol, false);
    };
    tap(0xff52); // Up, round to "Save as…"
    tap(0xff0d); // Return
    ASSERT_TRUE(loop.runUntil([&] { return view.nameFieldOpen(); }));

    key(0xffe1, true); // Shift_L
    tap('p');
    key(0xffe1, false);
    for (const xcb_keysym_t symbol :
         {xcb_keysym_t('a'), xcb_keysym_t('d'), xcb_keysym_t(' '), xcb_keysym_t('2'),
          xcb_keysym_t(0xff08) /* BackSpace */, xcb_keysym_t('3')})
        tap(symbol);
    ASSERT_TRUE(loop.runUntil([&] { return view.nameField().text() == "Pad 3"; }))
        << view.nameField().text();
    tap(0xff0d);
    ASSERT_TRUE(loop.runUntil([&] { return !listener.saved.empty(); }));
    EXPECT_EQ(listener.saved, std::vector<std::string>{"Pad 3"});
    EXPECT_FALSE(view.nameFieldOpen());
}

// What reaches the screen is what a snapshot of the same view shows, at every size.
void NativeWindowTest::expectWindowShowsTheView(bool sharedMemory) {
    Window view;
    SnapshotState state;
    state.hover = ElementId::MorphArea;
    SnapshotScene::prepare(view, state);
    open(760, 500, view);
    EXPECT_EQ(window->usesSharedMemory(), sharedMemory);
    EXPECT_EQ(window->drawingScale(), 1.0f);

    for (const float scale : {1.0f, 1.5f}) {
        SCOPED_TRACE(scale);
        const int width = static_cast<int>(Window::kWidth * scale);
        const int height = static_cast<int>(Window::kHeight * scale);
        if (scale != 1.0f) {
            xcb_configure_window(connection, parent,
                                 XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                                 std::vector<uint32_t>{uint32_t(width), uint32_t(height)}.data());
            // The host has resized its window before it tells the editor.
            free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
            window->resize(width, height);
        }
        EXPECT_EQ(window->drawingScale(), scale);
        xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(
            connection, xcb_get_geometry(connection, window->windowId()), nullptr);
        ASSERT_NE(geometry, nullptr);
        EXPECT_EQ(geometry->width, width);
        EXPECT_EQ(geometry->height, height);
        free(geometry);

        view.setMorph(scale == 1.0f ? 0.3f : 0.7f); // a frame that changes only a part
        expectWindowMatchesSnapshot(view, scale);
    }
}

TEST_F(NativeWindowTest, WindowShowsTheViewAndFollowsResizes) {
    expectWindowShowsTheView(true);
}

// A server that cannot share memory (a remote display) gets each frame as image requests.
class NativeWindowWithoutSharedMemoryTest : public NativeWindowTest {
protected:
    NativeWindowWithoutSharedMemoryTest() { serverOptions = {"-extension", "MIT-SHM"}; }
};

TEST_F(NativeWindowWithoutSharedMemoryTest, FramesTravelAsPlainImages) {
    expectWindowShowsTheView(false);
}

// The embedding side of XEmbed as a toolkit socket plays it: it hears of the child from
// CreateNotify and reads the info property then, maps the child and tells it that it is
// embedded, active and focused, and answers a focus request with the focus. It names the
// protocol's atoms only when the child appears, so on a fresh server the window names them first.
class XEmbedSocket {
public:
    XEmbedSocket(xcb_connection_t* connection, xcb_window_t socket)
        : connection(connection), socket(socket) {
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, socket, XCB_CW_EVENT_MASK, &mask);
        // The keyboard is the top-level window's, as in a toolkit's window.
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, socket, XCB_CURRENT_TIME);
        xcb_flush(connection);
    }

    // Handles the events that have arrived.
    void pump() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_CREATE_NOTIFY)
                embed(reinterpret_cast<const xcb_create_notify_event_t*>(event)->window);
            else if (type == XCB_CLIENT_MESSAGE)
                answer(*reinterpret_cast<const xcb_client_message_event_t*>(event));
            free(event);
        }
    }

    // Waits for the child's CreateNotify without running the window's loop, as a host's own
    // event loop would hear of it; false after a few seconds without it.
    bool waitForChild() {
        const auto deadline = Clock::now() + kPatience;
        for (pump(); client == XCB_WINDOW_NONE; pump()) {
            if (Clock::now() > deadline)
                return false;
            pollfd readable{xcb_get_file_descriptor(connection), POLLIN, 0};
            poll(&readable, 1, 10);
        }
        return true;
    }

    void send(uint32_t message, uint32_t detail = 0, uint32_t data1 = 0, uint32_t data2 = 0) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = client;
        event.type = messageAtom;
        event.data.data32[0] = XCB_CURRENT_TIME;
        event.data.data32[1] = message;
        event.data.data32[2] = detail;
        event.data.data32[3] = data1;
        event.data.data32[4] = data2;
        xcb_send_event(connection, 0, client, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(connection);
    }

    // [version, flags] when the child has a well-formed property.
    std::optional<std::array<uint32_t, 2>> info() {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, client, infoAtom, infoAtom, 0, 2), nullptr);
        std::optional<std::array<uint32_t, 2>> words;
        if (reply != nullptr && reply->type == infoAtom && reply->format == 32 &&
            xcb_get_property_value_length(reply) == 8 && reply->bytes_after == 0) {
            const auto* value = static_cast<const uint32_t*>(xcb_get_property_value(reply));
            words = std::array<uint32_t, 2>{value[0], value[1]};
        }
        free(reply);
        return words;
    }

    xcb_window_t client = XCB_WINDOW_NONE;
    int focusRequests = 0;

private:
    void embed(xcb_window_t child) {
        client = child;
        infoAtom = atom(xembed::kInfoAtomName);
        messageAtom = atom(xembed::kMessageAtomName);
        const auto found = info();
        if (!found) {
            ADD_FAILURE() << "no _XEMBED_INFO when the child's CreateNotify arrived";
            return;
        }
        EXPECT_EQ((*found)[0], xembed::kVersion);
        EXPECT_EQ((*found)[1] & xembed::kFlagMapped, 0u) << "the child asks to be shown at once";
        xcb_map_window(connection, client);
        send(xembed::kEmbeddedNotify, 0, socket, xembed::kVersion);
        send(xembed::kWindowActivate);
        send(xembed::kFocusIn, xembed::kFocusCurrent);
    }

    void answer(const xcb_client_message_event_t& message) {
        if (message.type != messageAtom || message.window != socket ||
            message.data.data32[1] != xembed::kRequestFocus)
            return;
        ++focusRequests;
        send(xembed::kFocusIn, xembed::kFocusCurrent);
    }

    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(strlen(name)), name),
            nullptr);
        xcb_atom_t value = XCB_ATOM_NONE;
        if (reply != nullptr)
            value = reply->atom;
        free(reply);
        return value;
    }

    xcb_connection_t* connection;
    xcb_window_t socket;
    xcb_atom_t infoAtom = XCB_ATOM_NONE;
    xcb_atom_t messageAtom = XCB_ATOM_NONE;
};

// Inside a toolkit socket the window is shown as the socket expects; keys follow the focus the
// socket hands over and takes back; a click asks the socket for the focus.
TEST_F(NativeWindowTest, EmbeddedByAnXEmbedSocket) {
    RecordingListener listener;
    Window view(&listener);
    parent = makeParent(760, 500);
    XEmbedSocket socket(connection, parent);
    moveTo(1500, 1100); // off the window: keys go to the focus, not to what lies under the pointer
    window = std::make_unique<NativeWindow>(view, ticks, loop);
    ASSERT_TRUE(window->create(parent, 760, 500, TAVIMO_FONTS_DIR));
    const xcb_window_t child = window->windowId();
    ASSERT_TRUE(socket.waitForChild());
    EXPECT_EQ(socket.client, child);

    const std::array<uint32_t, 2> shown = {xembed::kVersion, xembed::kFlagMapped};
    ASSERT_TRUE(loop.runUntil([&] {
        socket.pump();
        return viewable(child) && inputFocus() == child && socket.info() == shown;
    }));
    expectWindowMatchesSnapshot(view, 1.0f);

    key(0xff09, true); // Tab
    key(0xff09, false);
    EXPECT_TRUE(loop.runUntil([&] { return view.focused() != ElementId::None; }));

    socket.send(xembed::kFocusOut);
    EXPECT_TRUE(loop.runUntil([&] { return inputFocus() == parent; }));

    moveTo(300, 200);
    button(true);
    button(false);
    EXPECT_TRUE(loop.runUntil([&] {
        socket.pump();
        return socket.focusRequests == 1 && inputFocus() == child;
    }));
}

TEST_F(NativeWindowTest, DestructionUnregistersEverything) {
    Window view;
    open(760, 500, view);
    EXPECT_EQ(loop.registrations(), 2u);
    loop.runUntil([&] { return tickCount >= 3; });
    EXPECT_GE(tickCount, 3);
    window.reset();
    EXPECT_EQ(loop.registrations(), 0u);
}

// The host destroys its window before the editor's: X reports errors, the process goes on,
// events and ticks keep coming and no frame is sent.
TEST_F(NativeWindowTest, ParentDestroyedFirstIsSurvived) {
    Window view;
    open(760, 500, view);
    xcb_destroy_window(connection, parent);
    xcb_flush(connection);
    const int ticksBefore = tickCount;
    loop.runUntil([&] { return tickCount >= ticksBefore + 5; });
    EXPECT_GE(tickCount, ticksBefore + 5);
    window->resize(900, 600);
    window->paintNow();
    EXPECT_EQ(loop.registrations(), 2u);
    window.reset();
    EXPECT_EQ(loop.registrations(), 0u);
}

TEST_F(NativeWindowTest, NoWindowWithoutFontsDisplayOrRunLoop) {
    Window view;
    const xcb_window_t host = makeParent(760, 500);
    const auto refused = [&](const char* why, const std::filesystem::path& fonts) {
        NativeWindow attempt(view, ticks, loop);
        EXPECT_FALSE(attempt.create(host, 760, 500, fonts)) << why;
        EXPECT_EQ(attempt.windowId(), 0u) << why;
        EXPECT_EQ(loop.registrations(), 0u) << why;
    };
    refused("fonts missing", std::filesystem::path(TAVIMO_FONTS_DIR) / "nowhere");
    loop.refuseDescriptors = true;
    refused("run loop refuses", TAVIMO_FONTS_DIR);
    loop.refuseDescriptors = false;
    xcb_destroy_window(connection, host);
    xcb_flush(connection);
    refused("stale parent", TAVIMO_FONTS_DIR);
    setenv("DISPLAY", ":65000", 1);
    refused("no display", TAVIMO_FONTS_DIR);
    unsetenv("DISPLAY");
    refused("no DISPLAY", TAVIMO_FONTS_DIR);
}

} // namespace
} // namespace tav::ui
