// The built bundle's editor on a private X server, hosted as a Linux DAW hosts it: a top-level
// window, a frame with a run loop, gestures reaching the host's component handler.

#include "support/XvfbServer.h"
#include "tools/host/EditorFrame.h"
#include "tools/host/HostWindow.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/PluginModule.h"
#include "ui/Window.h"
#include "ui/linux/SnapshotRenderer.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"

#include <cairo.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <vector>

namespace tav::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tav::host;

constexpr uint32_t kPaperBackground = 0xECEBE6;

struct Child {
    xcb_window_t id = 0;
    int width = 0;
    int height = 0;
};

class EditorWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok()) << "Xvfb did not start";
        setenv("DISPLAY", server.display().c_str(), 1);
        module = std::make_unique<PluginModule>(bundle);
        instance = std::make_unique<PluginInstance>(*module);
        instance->handler().recordEdits();
        view = instance->controller()->createView("editor");
        ASSERT_NE(view, nullptr);
        host = std::make_unique<HostWindow>(760, 500, "test");
        frame = owned(new EditorFrame());
    }
    void TearDown() override {
        if (view != nullptr) {
            view->removed();
            view->setFrame(nullptr);
            view->release();
        }
        instance.reset();
    }

    void attach() {
        ASSERT_EQ(view->setFrame(frame), kResultTrue);
        const auto parent = reinterpret_cast<void*>(static_cast<uintptr_t>(host->id()));
        ASSERT_EQ(view->attached(parent, kPlatformTypeX11EmbedWindowID), kResultOk);
        frame->runFor(300ms);
    }

    // The plug-in's child window inside the host window.
    std::optional<Child> child() {
        xcb_connection_t* x = host->connection();
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(x, xcb_query_tree(x, host->id()), nullptr);
        std::optional<Child> found;
        if (tree != nullptr && xcb_query_tree_children_length(tree) > 0) {
            const xcb_window_t id = xcb_query_tree_children(tree)[0];
            xcb_get_geometry_reply_t* geometry =
                xcb_get_geometry_reply(x, xcb_get_geometry(x, id), nullptr);
            if (geometry != nullptr)
                found = Child{id, geometry->width, geometry->height};
            std::free(geometry);
        }
        std::free(tree);
        return found;
    }

    uint32_t pixel(int x, int y) {
        xcb_connection_t* c = host->connection();
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, host->id(), static_cast<int16_t>(x),
                          static_cast<int16_t>(y), 1, 1, ~0u),
            nullptr);
        uint32_t value = 0;
        if (image != nullptr && xcb_get_image_data_length(image) >= 4)
            value = *reinterpret_cast<const uint32_t*>(xcb_get_image_data(image)) & 0xFFFFFF;
        std::free(image);
        return value;
    }

    void fake(uint8_t type, uint8_t detail, int x = 0, int y = 0) {
        xcb_connection_t* c = host->connection();
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        xcb_test_fake_input(c, type, detail, XCB_CURRENT_TIME, screen->root,
                            static_cast<int16_t>(x), static_cast<int16_t>(y), 0);
        host->sync();
        frame->runFor(40ms);
    }
    void moveTo(float x, float y) { fake(XCB_MOTION_NOTIFY, 0, std::lround(x), std::lround(y)); }
    void click(float x, float y) {
        moveTo(x, y);
        fake(XCB_BUTTON_PRESS, 1);
        fake(XCB_BUTTON_RELEASE, 1);
    }

    // Where an element is in the view's current state, in view units.
    static ui::Point centreOf(ui::Window& model, ui::ElementId element) {
        const auto at = ui::SnapshotScene::centreOf(model, element);
        EXPECT_TRUE(at.has_value());
        return at.value_or(ui::Point{});
    }

    std::string gestures() {
        std::string text;
        for (const EditEvent& edit : instance->handler().takeEdits()) {
            text += edit.kind;
            text += std::to_string(edit.id);
            if (edit.kind == 'p')
                text += "=" + std::to_string(std::lround(edit.value * 1000.0));
            text += " ";
        }
        return text;
    }

    XvfbServer server;
    fs::path bundle = TAVIMO_BUNDLE;
    std::unique_ptr<PluginModule> module;
    std::unique_ptr<PluginInstance> instance;
    IPlugView* view = nullptr;
    std::unique_ptr<HostWindow> host;
    IPtr<EditorFrame> frame;
};

TEST_F(EditorWindow, OpensInTheHostWindowAndTurnsInputIntoHostGestures) {
    attach();
    const auto shown = child();
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->width, 760);
    EXPECT_EQ(shown->height, 500);
    EXPECT_EQ(pixel(2, 2), kPaperBackground);
    EXPECT_EQ(pixel(757, 497), kPaperBackground);

    // The algorithm menu: open it, pick the third entry.
    ui::Window model;
    const ui::Point selector = centreOf(model, ui::ElementId::AlgorithmSelector);
    click(selector.x, selector.y);
    model.onMouseDown(selector.x, selector.y);
    model.onMouseUp(selector.x, selector.y);
    ASSERT_EQ(model.overlay(), ui::Overlay::AlgorithmMenu);
    const ui::Point row = centreOf(model, ui::ElementId::AlgorithmMenuRow);
    float third = row.y;
    for (float y = 0.0f; y < ui::Window::kHeight; y += 1.0f) {
        const ui::Hit hit = model.hitTest(row.x, y);
        if (hit.element == ui::ElementId::AlgorithmMenuRow && hit.index == 2) {
            third = y + 4.0f;
            break;
        }
    }
    click(row.x, third);
    EXPECT_EQ(gestures(), "b1 p1=667 e1 ");
    EXPECT_NEAR(instance->controller()->getParamNormalized(1), 2.0 / 3.0, 1e-6);

    // Morph: a drag to the right, then the host's arrow keys, then a double click back to 0.5.
    const float morphX = 68.0f + 624.0f * 0.5f;
    moveTo(morphX, 200.0f);
    fake(XCB_BUTTON_PRESS, 1);
    moveTo(morphX + 62.4f, 200.0f);
    fake(XCB_BUTTON_RELEASE, 1);
    const double dragged = instance->controller()->getParamNormalized(0);
    EXPECT_NEAR(dragged, 0.6, 0.01);
    std::string drag = gestures();
    EXPECT_EQ(drag.substr(0, 3), "b0 ");
    EXPECT_EQ(drag.substr(drag.size() - 3), "e0 ");

    EXPECT_EQ(view->onKeyDown(0, 11 /* KEY_LEFT */, 0), kResultTrue);
    EXPECT_NEAR(instance->controller()->getParamNormalized(0), dragged - 0.01, 1e-4);
    EXPECT_EQ(gestures().substr(0, 3), "b0 ");

    moveTo(morphX + 30.0f, 200.0f);
    fake(XCB_BUTTON_PRESS, 1);
    fake(XCB_BUTTON_RELEASE, 1);
    fake(XCB_BUTTON_PRESS, 1);
    fake(XCB_BUTTON_RELEASE, 1);
    EXPECT_NEAR(instance->controller()->getParamNormalized(0), 0.5, 1e-6);
}

TEST_F(EditorWindow, ResizesThroughTheHostAndUnregistersWhenRemoved) {
    attach();
    ViewRect rect(0, 0, 1140, 9999);
    ASSERT_EQ(view->checkSizeConstraint(&rect), kResultTrue);
    ASSERT_EQ(rect.getHeight(), 750);
    host->resize(rect.getWidth(), rect.getHeight());
    ASSERT_EQ(view->onSize(&rect), kResultTrue);
    frame->runFor(200ms);
    const auto shown = child();
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->width, 1140);
    EXPECT_EQ(shown->height, 750);
    // The accent line sits at 68 + 624 x Morph view units, scaled by 1.5.
    const int line = std::lround((68.0f + 624.0f * 0.5f) * 1.5f);
    EXPECT_NE(pixel(line, 300), kPaperBackground);
    EXPECT_EQ(pixel(1137, 747), kPaperBackground);

    EXPECT_GT(frame->timerCount(), 0u);
    EXPECT_GT(frame->eventHandlerCount(), 0u);
    EXPECT_EQ(view->removed(), kResultOk);
    EXPECT_EQ(frame->timerCount(), 0u);
    EXPECT_EQ(frame->eventHandlerCount(), 0u);
    EXPECT_FALSE(child().has_value());

    // Attached again, the view comes back.
    attach();
    EXPECT_TRUE(child().has_value());
    EXPECT_GT(frame->timerCount(), 0u);
}

TEST_F(EditorWindow, NoRunLoopOrParentGoneFirstLeavesTheHostRunning) {
    // A host frame without a run loop: no window, no crash.
    const auto parent = reinterpret_cast<void*>(static_cast<uintptr_t>(host->id()));
    EXPECT_EQ(view->attached(parent, kPlatformTypeX11EmbedWindowID), kResultOk);
    EXPECT_FALSE(child().has_value());
    EXPECT_EQ(view->removed(), kResultOk);

    // The host destroys its window before removing the view.
    attach();
    ASSERT_TRUE(child().has_value());
    host->destroy();
    frame->runFor(300ms);
    EXPECT_EQ(view->removed(), kResultOk);
    EXPECT_EQ(frame->timerCount(), 0u);
}

TEST_F(EditorWindow, MissingFontMeansNoWindowAndNothingElseBreaks) {
    // A copy of the bundle with one font file missing.
    const fs::path copy =
        fs::temp_directory_path() / ("tavimo-nofont-" + std::to_string(::getpid())) / "Tavimo.vst3";
    fs::remove_all(copy.parent_path());
    fs::create_directories(copy.parent_path());
    fs::copy(bundle, copy, fs::copy_options::recursive);
    fs::remove(copy / "Contents/Resources/Fonts/DepartureMono-Regular.otf");
    if (view != nullptr) {
        view->release();
        view = nullptr;
    }
    instance.reset();
    module = std::make_unique<PluginModule>(copy);
    instance = std::make_unique<PluginInstance>(*module);
    view = instance->controller()->createView("editor");
    ASSERT_NE(view, nullptr);
    attach();
    EXPECT_FALSE(child().has_value());
    EXPECT_EQ(frame->timerCount(), 0u);
    EXPECT_EQ(view->onKeyDown(0, 11, 0), kResultTrue); // the view still takes keys
    view->removed();
    view->setFrame(nullptr);
    view->release();
    view = nullptr;
    instance.reset();
    module.reset();
    fs::remove_all(copy.parent_path());
}

TEST(EditorCommand, OpensALiveWindowAndClosesCleanly) {
    XvfbServer server;
    ASSERT_TRUE(server.ok());
    const fs::path folder =
        fs::temp_directory_path() / ("tavimo-editor-cmd-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path picture = folder / "editor.png";
    const std::string command = "DISPLAY=" + server.display() +
                                " '" TAVIMO_EXECUTABLE "' editor --seconds 2 --screenshot '" +
                                picture.string() + "' > /dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    cairo_surface_t* image = cairo_image_surface_create_from_png(picture.c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(image), 760);
    EXPECT_EQ(cairo_image_surface_get_height(image), 500);
    const auto* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    const auto at = [&](int x, int y) {
        return *reinterpret_cast<const uint32_t*>(data + y * stride + 4 * x) & 0xFFFFFF;
    };
    EXPECT_EQ(at(3, 3), kPaperBackground);
    EXPECT_NE(at(380, 300), kPaperBackground); // the accent line at Morph 0.5
    cairo_surface_destroy(image);
    fs::remove_all(folder);
}

} // namespace
} // namespace tav::test

namespace tav::test {
namespace {

TEST(BundleSnapshots, NamedAfterTheProcessorClassAtOneAndTwoTimes) {
    const host::PluginModule module(TAVIMO_BUNDLE);
    const Steinberg::FUID uid =
        Steinberg::FUID::fromTUID(module.findClass(kVstAudioEffectClass).cid);
    Steinberg::char8 id[33] = {};
    uid.toString(id);
    ASSERT_EQ(std::string(id).size(), 32u);
    const fs::path folder = fs::path(TAVIMO_BUNDLE) / "Contents/Resources/Snapshots";
    for (const auto& [suffix, width, height] :
         {std::tuple{"_snapshot.png", 760, 500}, std::tuple{"_snapshot_2.0x.png", 1520, 1000}}) {
        const fs::path file = folder / (std::string(id) + suffix);
        cairo_surface_t* image = cairo_image_surface_create_from_png(file.c_str());
        EXPECT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS) << file;
        EXPECT_EQ(cairo_image_surface_get_width(image), width);
        EXPECT_EQ(cairo_image_surface_get_height(image), height);
        cairo_surface_destroy(image);
    }
}

} // namespace
} // namespace tav::test
