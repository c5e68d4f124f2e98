// The editor host driven directly, without a window system: size rules, platform types, keys,
// the per-frame update and the gestures it turns into host edits.

#include "HostSpies.h"
#include "plugin/TavimoController.h"
#include "plugin/TavimoEditor.h"
#include "plugin/TavimoIds.h"
#include "plugin/sdk/KeyCodes.h"
#include "support/NoRefCount.h"

#include "pluginterfaces/vst/ivstmessage.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tav::plugin {
namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;

class EditorHost : public ControllerHost {
protected:
    void SetUp() override {
        ControllerHost::SetUp();
        editor = owned(static_cast<TavimoEditor*>(controller->createView(ViewType::kEditor)));
        ASSERT_TRUE(editor);
    }
    void TearDown() override {
        editor = nullptr;
        ControllerHost::TearDown();
    }

    void frames(int count, float seconds = 1.0f / 30.0f) {
        for (int i = 0; i < count; ++i)
            editor->updateFrame(editor->view(), seconds);
    }

    IPtr<TavimoEditor> editor;
};

TEST_F(EditorHost, SizeFollowsTheWidthAtAFixedAspectWithinItsRange) {
    struct Case {
        int32 width, height, wantWidth, wantHeight;
    };
    for (const Case c : {Case{1000, 10, 1000, 658}, Case{400, 900, 608, 400},
                         Case{2000, 5, 1520, 1000}, Case{900, 900, 900, 592}}) {
        ViewRect rect(10, 20, 10 + c.width, 20 + c.height);
        EXPECT_EQ(editor->checkSizeConstraint(&rect), kResultTrue);
        EXPECT_EQ(rect.left, 10);
        EXPECT_EQ(rect.top, 20);
        EXPECT_EQ(rect.getWidth(), c.wantWidth) << c.width;
        EXPECT_EQ(rect.getHeight(), c.wantHeight) << c.width;
    }
    EXPECT_EQ(editor->checkSizeConstraint(nullptr), kInvalidArgument);
    EXPECT_EQ(editor->canResize(), kResultTrue);
    ViewRect size;
    ASSERT_EQ(editor->getSize(&size), kResultOk);
    EXPECT_EQ(size.getWidth(), 760);
    EXPECT_EQ(size.getHeight(), 500);
}

TEST_F(EditorHost, AcceptsOnlyItsOwnPlatformsWindowType) {
#if defined(_WIN32)
    const char* own = kPlatformTypeHWND;
#else
    const char* own = kPlatformTypeX11EmbedWindowID;
#endif
    EXPECT_EQ(editor->isPlatformTypeSupported(own), kResultTrue);
    for (const char* other : {kPlatformTypeHWND, kPlatformTypeX11EmbedWindowID, kPlatformTypeNSView,
                              "x11embedwindowid", ""}) {
        if (std::string(other) != own) {
            EXPECT_EQ(editor->isPlatformTypeSupported(other), kResultFalse) << other;
        }
    }
    EXPECT_EQ(editor->isPlatformTypeSupported(nullptr), kResultFalse);
    int fakeWindow = 0;
    EXPECT_EQ(editor->attached(&fakeWindow, kPlatformTypeNSView), kResultFalse);
    EXPECT_EQ(editor->attached(nullptr, own), kResultFalse);
}

TEST_F(EditorHost, TheTwelveKeysReachTheViewAndNoOther) {
    // Tab walks the focus to Morph; Right steps it up, Shift+Right by less; the other keys are
    // taken too; a letter or a function key is left to the host.
    const float start = editor->view().morph();
    while (editor->view().focused() != ui::ElementId::MorphArea)
        ASSERT_EQ(editor->onKeyDown(0, KEY_TAB, 0), kResultTrue);
    EXPECT_EQ(editor->onKeyDown(0, KEY_RIGHT, 0), kResultTrue);
    const float afterRight = editor->view().morph();
    EXPECT_GT(afterRight, start);
    EXPECT_EQ(editor->onKeyDown(0, KEY_RIGHT, kShiftKey), kResultTrue);
    EXPECT_GT(editor->view().morph(), afterRight);
    EXPECT_LT(editor->view().morph() - afterRight, afterRight - start);
    EXPECT_NEAR(controller->getParamNormalized(kMorphId), editor->view().morph(), 1e-6);
    for (int16 code : {KEY_LEFT, KEY_UP, KEY_DOWN, KEY_PAGEUP, KEY_PAGEDOWN, KEY_HOME, KEY_END,
                       KEY_RETURN, KEY_ENTER, KEY_SPACE, KEY_ESCAPE})
        EXPECT_EQ(editor->onKeyDown(0, code, 0), kResultTrue) << code;
    for (int16 code : {int16(0), int16(KEY_BACK), int16(KEY_PAUSE), int16(KEY_PRINT)})
        EXPECT_EQ(editor->onKeyDown('a', code, 0), kResultFalse) << code;
    EXPECT_EQ(editor->onKeyUp(0, KEY_LEFT, 0), kResultFalse);
}

TEST_F(EditorHost, TheHostsCharactersTypeOnlyIntoTheOpenNameField) {
    ui::Window& view = editor->view();
    while (view.focused() != ui::ElementId::PresetPill)
        ASSERT_EQ(editor->onKeyDown(0, KEY_TAB, 0), kResultTrue);
    EXPECT_EQ(editor->onKeyDown('x', 0, 0), kResultFalse); // no field: left to the host
    ASSERT_EQ(editor->onKeyDown(0, KEY_RETURN, 0), kResultTrue);
    ASSERT_EQ(editor->onKeyDown(0, KEY_UP, 0), kResultTrue); // round to "Save as…"
    ASSERT_EQ(editor->onKeyDown(0, KEY_RETURN, 0), kResultTrue);
    ASSERT_TRUE(view.nameFieldOpen());
    for (const char16 c : {char16('C'), char16(0xE9), char16(' '), char16('x')})
        EXPECT_EQ(editor->onKeyDown(c, c == ' ' ? int16(KEY_SPACE) : int16(0), 0), kResultTrue);
    EXPECT_EQ(editor->onKeyDown(0, KEY_BACK, 0), kResultTrue);
    EXPECT_EQ(editor->onKeyDown('s', 0, kCommandKey), kResultFalse); // a shortcut, not typing
    EXPECT_EQ(view.nameField().text(), "C\u00E9 ");
}

TEST_F(EditorHost, ViewEditsBecomeNormalizedHostGestures) {
    editor->beginEdit(ui::kParamAlgorithm);
    editor->performEdit(ui::kParamAlgorithm, 2.0f);
    editor->endEdit(ui::kParamAlgorithm);
    editor->beginEdit(ui::kParamOutput);
    editor->performEdit(ui::kParamOutput, -6.0f);
    editor->endEdit(ui::kParamOutput);
    ASSERT_EQ(handler.edits.size(), 6u);
    EXPECT_EQ(handler.edits[0].kind, 'b');
    EXPECT_EQ(handler.edits[1].kind, 'p');
    EXPECT_NEAR(handler.edits[1].value, 2.0 / 3.0, 1e-7);
    EXPECT_EQ(handler.edits[2].kind, 'e');
    EXPECT_NEAR(handler.edits[4].value, 0.5, 1e-7);
    EXPECT_NEAR(controller->getParamNormalized(kAlgorithmId), 2.0 / 3.0, 1e-7);
    EXPECT_NEAR(controller->getParamNormalized(kOutputId), 0.5, 1e-7);
}

TEST_F(EditorHost, AutomationIndicatorFollowsHostChangesAndHoldsHalfASecond) {
    frames(2);
    EXPECT_FALSE(editor->view().morphAutomated());
    for (int i = 0; i < 30; ++i) {
        controller->setParamNormalized(kMorphId, 0.2 + 0.01 * i);
        frames(1);
        EXPECT_TRUE(editor->view().morphAutomated()) << i;
    }
    EXPECT_NEAR(editor->view().morph(), 0.49f, 1e-6);
    frames(14); // 0.467 s after the last change
    EXPECT_TRUE(editor->view().morphAutomated());
    frames(2);
    EXPECT_FALSE(editor->view().morphAutomated());

    // While the user drags Morph, host changes neither show nor move the view.
    ui::Window& view = editor->view();
    const float x = 68.0f + 624.0f * view.morph();
    view.onMouseDown(x, 200.0f);
    view.onMouseMove(x + 100.0f, 200.0f);
    const float dragged = view.morph();
    ASSERT_GT(dragged, 0.55f);
    for (int i = 0; i < 10; ++i) {
        controller->setParamNormalized(kMorphId, 0.1 + 0.01 * i);
        frames(1);
        EXPECT_FALSE(view.morphAutomated());
        EXPECT_EQ(view.morph(), dragged);
    }
    view.onMouseUp(x + 100.0f, 200.0f);
}

TEST_F(EditorHost, FlippingQualitySendsOneMessage) {
    editor->beginEdit(ui::kParamQuality);
    editor->performEdit(ui::kParamQuality, 1.0f);
    editor->endEdit(ui::kParamQuality);
    EXPECT_EQ(peer.qualityMessages, 1);
    editor->beginEdit(ui::kParamQuality);
    editor->performEdit(ui::kParamQuality, 1.0f);
    editor->endEdit(ui::kParamQuality);
    EXPECT_EQ(peer.qualityMessages, 1);
}

TEST_F(EditorHost, ThemeAndValuesOutliveDetachAndReattach) {
    controller->setParamNormalized(kMixId, 0.25);
    editor->view().setTheme(ui::kThemeInk);
    frames(1);
    EXPECT_TRUE(controller->isDarkTheme());
    // No run loop and no window system here: attaching makes no window, nothing breaks.
    int parent = 0;
#if defined(_WIN32)
    const char* own = kPlatformTypeHWND;
#else
    const char* own = kPlatformTypeX11EmbedWindowID;
#endif
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(editor->attached(&parent, own), kResultOk);
        EXPECT_EQ(editor->removed(), kResultOk);
    }
    EXPECT_EQ(editor->view().theme(), ui::kThemeInk);
    EXPECT_NEAR(editor->view().mix(), 0.25f, 1e-6);

    // A new editor starts from the controller's theme.
    IPtr<TavimoEditor> second =
        owned(static_cast<TavimoEditor*>(controller->createView(ViewType::kEditor)));
    EXPECT_EQ(second->view().theme(), ui::kThemeInk);
}

TEST_F(EditorHost, RemovingTheViewEndsAnOpenDrag) {
    ui::Window& view = editor->view();
    view.onMouseDown(380.0f, 200.0f);
    view.onMouseMove(420.0f, 200.0f);
    ASSERT_EQ(view.dragMode(), ui::DragMode::Morph);
    int parent = 0;
    editor->attached(&parent, editor->isPlatformTypeSupported(kPlatformTypeHWND) == kResultTrue
                                  ? kPlatformTypeHWND
                                  : kPlatformTypeX11EmbedWindowID);
    editor->removed();
    ASSERT_FALSE(handler.edits.empty());
    EXPECT_EQ(handler.edits.back().kind, 'e');
    EXPECT_EQ(view.dragMode(), ui::DragMode::None);
}

#if !defined(_WIN32)
TEST_F(EditorHost, SetupPageStartsTheDesktopsOpenerWithoutWaiting) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("tavimo-xdg-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path record = folder / "opened";
    {
        std::ofstream opener(folder / "xdg-open");
        // Lingers like a browser would; the editor must not wait for it.
        opener << "#!/bin/sh\necho \"$1\" > '" << record.string() << ".tmp'\nmv '"
               << record.string() << ".tmp' '" << record.string() << "'\nsleep 5\n";
    }
    fs::permissions(folder / "xdg-open", fs::perms::owner_all);
    const std::string path = folder.string() + ":" + std::getenv("PATH");
    setenv("PATH", path.c_str(), 1);

    const auto start = std::chrono::steady_clock::now();
    editor->openSetupPage();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    for (int i = 0; i < 100 && !fs::exists(record); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream opened(record);
    std::string url;
    std::getline(opened, url);
    EXPECT_EQ(url, kSetupPageUrl);
    fs::remove_all(folder);
}
#endif

} // namespace
} // namespace tav::plugin
