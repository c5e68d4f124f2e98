// The editor inside a Windows host: the built bundle is loaded as a DAW loads it, its editor is
// attached to a top-level window, input is posted to the editor's child window, and the edits
// must reach the host's component handler. Prints each failed check and exits 1 if any failed.
#include "tools/host/PluginInstance.h"
#include "tools/host/PluginModule.h"
#include "ui/Window.h"

#include "pluginterfaces/gui/iplugview.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace Steinberg;

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    if (!ok) {
        ++failures;
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    }
}

struct Edit {
    char kind; // 'b'egin, 'p'erform, 'e'nd
    Vst::ParamID id;
    double value;
};

// Records the editor's gestures as a host receives them.
class RecordingHandler : public Vst::IComponentHandler {
public:
    tresult PLUGIN_API beginEdit(Vst::ParamID id) override {
        edits.push_back({'b', id, 0.0});
        return kResultOk;
    }
    tresult PLUGIN_API performEdit(Vst::ParamID id, Vst::ParamValue value) override {
        edits.push_back({'p', id, value});
        return kResultOk;
    }
    tresult PLUGIN_API endEdit(Vst::ParamID id) override {
        edits.push_back({'e', id, 0.0});
        return kResultOk;
    }
    tresult PLUGIN_API restartComponent(int32) override { return kResultOk; }
    tresult PLUGIN_API queryInterface(const TUID iid, void** object) override {
        if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) ||
            FUnknownPrivate::iidEqual(iid, Vst::IComponentHandler::iid)) {
            addRef();
            *object = this;
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }
    // Owned by the test for its whole run.
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    std::vector<Edit> edits;
};

// A whole gesture on one parameter ending at `value`, somewhere in the recorded edits.
bool hasGesture(const std::vector<Edit>& edits, Vst::ParamID id, double value) {
    for (size_t i = 0; i + 2 < edits.size(); ++i) {
        if (edits[i].kind != 'b' || edits[i].id != id)
            continue;
        size_t j = i + 1;
        double last = -1.0;
        for (; j < edits.size() && edits[j].kind == 'p' && edits[j].id == id; ++j)
            last = edits[j].value;
        if (j < edits.size() && edits[j].kind == 'e' && edits[j].id == id &&
            std::abs(last - value) < 1e-4)
            return true;
    }
    return false;
}

HWND makeTopWindow(const wchar_t* title) {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TavimoTestHost";
        return RegisterClassExW(&windowClass) != 0;
    }();
    if (!registered)
        return nullptr;
    RECT frame{0, 0, 760, 500};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    return CreateWindowExW(0, L"TavimoTestHost", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                           frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

struct PumpCount {
    int timers = 0;
    int paints = 0;
};

// Runs the thread's messages for about `ms` milliseconds, counting what reached `child`.
PumpCount pump(int ms, HWND child = nullptr) {
    PumpCount count;
    const DWORD start = GetTickCount();
    const auto running = [&] { return GetTickCount() - start < static_cast<DWORD>(ms); };
    while (running()) {
        MSG message;
        // Frames may take longer than the timer period under Wine: the queue is never empty.
        while (running() && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (child != nullptr && message.hwnd == child) {
                count.timers += message.message == WM_TIMER;
                count.paints += message.message == WM_PAINT;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(2);
    }
    return count;
}

HWND editorWindowOf(HWND top) {
    return FindWindowExW(top, nullptr, L"TavimoView", nullptr);
}

LPARAM at(tav::ui::Point p) {
    return MAKELPARAM(static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y)));
}

void click(HWND child, tav::ui::Point p) {
    PostMessageW(child, WM_MOUSEMOVE, 0, at(p));
    PostMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at(p));
    PostMessageW(child, WM_LBUTTONUP, 0, at(p));
    pump(100);
}

void doubleClick(HWND child, tav::ui::Point p) {
    PostMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at(p));
    PostMessageW(child, WM_LBUTTONUP, 0, at(p));
    PostMessageW(child, WM_LBUTTONDBLCLK, MK_LBUTTON, at(p));
    PostMessageW(child, WM_LBUTTONUP, 0, at(p));
    pump(100);
}

void key(HWND child, WPARAM virtualKey) {
    PostMessageW(child, WM_KEYDOWN, virtualKey, 1);
    PostMessageW(child, WM_KEYUP, virtualKey, 1 | (1u << 30) | (1u << 31));
    pump(50);
}

// Where the view, in the state given by `setUp`, finds an element (and row) by hit testing.
template <typename SetUp>
std::optional<tav::ui::Point> find(SetUp setUp, tav::ui::ElementId element, int32_t index = -1) {
    tav::ui::Window mirror;
    setUp(mirror);
    for (float y = 0.5f; y < tav::ui::Window::kHeight; y += 1.0f)
        for (float x = 0.5f; x < tav::ui::Window::kWidth; x += 1.0f) {
            const tav::ui::Hit hit = mirror.hitTest(x, y);
            if (hit.element == element && (index < 0 || hit.index == index))
                return tav::ui::Point{x + 2.0f, y + 2.0f}; // a little inside the corner
        }
    return std::nullopt;
}

// Attaches the controller's editor to `top`; the view, or null (reported).
IPlugView* attachEditor(Vst::IEditController* controller, HWND top, const char* what) {
    IPlugView* view = controller->createView(Vst::ViewType::kEditor);
    check(view != nullptr, std::string(what) + ": createView(\"editor\") gives a view");
    if (view == nullptr)
        return nullptr;
    check(view->isPlatformTypeSupported(kPlatformTypeHWND) == kResultTrue,
          std::string(what) + ": \"HWND\" is supported");
    check(view->attached(top, kPlatformTypeHWND) == kResultOk, std::string(what) + ": attached");
    return view;
}

void testEditing(Vst::IEditController* controller, RecordingHandler& handler, HWND top) {
    IPlugView* view = attachEditor(controller, top, "first editor");
    if (view == nullptr)
        return;
    const HWND child = editorWindowOf(top);
    check(child != nullptr, "the editor makes its child window \"TavimoView\"");
    if (child == nullptr) {
        view->removed();
        view->release();
        return;
    }
    // About 30 frames a second on Windows. Under Wine every frame is drawn in software and the
    // first one also loads the fonts, so on a busy machine a second may not see two: wait longer.
    PumpCount frames = pump(1000, child);
    for (int more = 0; more < 18 && frames.timers < 2; ++more) {
        const PumpCount next = pump(500, child);
        frames.timers += next.timers;
        frames.paints += next.paints;
    }
    check(frames.timers >= 2, "frame timer ran " + std::to_string(frames.timers) + " times");
    check(frames.paints >= 1, "the window was painted");

    using tav::ui::ElementId;
    const auto selector = find([](tav::ui::Window&) {}, ElementId::AlgorithmSelector);
    const auto openMenu = [&](tav::ui::Window& w) {
        w.onMouseDown(selector->x, selector->y);
        w.onMouseUp(selector->x, selector->y);
    };
    check(selector.has_value(), "the view has an algorithm selector");
    if (selector) {
        click(child, *selector);
        const auto imprint = find(openMenu, ElementId::AlgorithmMenuRow, 2);
        check(imprint.has_value(), "the open menu has a third row");
        if (imprint)
            click(child, *imprint);
        check(hasGesture(handler.edits, 1, 2.0 / 3.0), "choosing Imprint in the menu edits 2/3");
        check(std::abs(controller->getParamNormalized(1) - 2.0 / 3.0) < 1e-6,
              "the controller holds Algorithm 2/3");
    }

    const tav::ui::Point quarter{68.0f + 624.0f * 0.25f, 200.0f};
    click(child, quarter);
    check(hasGesture(handler.edits, 0, 0.25), "a click in the morph area sets Morph 0.25");
    key(child, VK_RIGHT);
    key(child, VK_RIGHT);
    check(hasGesture(handler.edits, 0, 0.27), "two Right arrows step Morph to 0.27");
    doubleClick(child, quarter);
    check(hasGesture(handler.edits, 0, 0.5), "a double click sets Morph 0.5");
    check(std::abs(controller->getParamNormalized(0) - 0.5) < 1e-6,
          "the controller holds Morph 0.5");
    for (const Edit& edit : handler.edits)
        check(edit.id == 0 || edit.id == 1, "no edit of parameter " + std::to_string(edit.id));

    check(view->removed() == kResultOk, "removed");
    check(editorWindowOf(top) == nullptr, "removing the editor destroys its window");
    check(view->attached(top, kPlatformTypeHWND) == kResultOk, "attached again");
    check(editorWindowOf(top) != nullptr, "attaching again makes a new window");
    pump(200);
    view->removed();
    view->release();
}

// Two editors at once share the window class the first one registered; once it is gone (taken
// away here), no editor registers it again, so a new one gets no window but nothing breaks.
void testClassRegisteredOnce(Vst::IEditController* controller, HWND top, HWND otherTop,
                             HMODULE module) {
    IPlugView* first = attachEditor(controller, top, "editor one of two");
    IPlugView* second = attachEditor(controller, otherTop, "editor two of two");
    check(editorWindowOf(top) != nullptr && editorWindowOf(otherTop) != nullptr,
          "two editors at once each have a window");
    pump(200);
    for (IPlugView* view : {first, second})
        if (view != nullptr) {
            view->removed();
            view->release();
        }
    check(UnregisterClassW(L"TavimoView", module) != 0,
          "the module registered the class \"TavimoView\"");
    IPlugView* third = attachEditor(controller, top, "editor after the class went");
    check(editorWindowOf(top) == nullptr, "the class is not registered a second time");
    pump(100);
    if (third != nullptr) {
        third->removed();
        third->release();
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tavimo_editor_attach_test BUNDLE\n");
        return 2;
    }
    try {
        const tav::host::PluginModule module(argv[1]);
        tav::host::PluginInstance instance(module);
        RecordingHandler handler;
        Vst::IEditController* controller = instance.controller();
        controller->setComponentHandler(&handler);

        const HWND top = makeTopWindow(L"Tavimo editor test");
        const HWND otherTop = makeTopWindow(L"Tavimo editor test, second window");
        check(top != nullptr && otherTop != nullptr, "the host's windows exist");
        if (top != nullptr && otherTop != nullptr) {
            testEditing(controller, handler, top);
            testClassRegisteredOnce(controller, top, otherTop,
                                    GetModuleHandleW(module.libraryPath().wstring().c_str()));
        }
        controller->setComponentHandler(nullptr);
        // The host's windows go when the process ends: Wine 8 destroying them one after the
        // other here may end the process with an X error about the first one.
    } catch (const std::exception& error) {
        std::fprintf(stderr, "FAILED: %s\n", error.what());
        return 1;
    }
    std::printf("%s\n", failures == 0 ? "all checks passed" : "some checks failed");
    return failures == 0 ? 0 : 1;
}
