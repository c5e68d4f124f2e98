#pragma once

#include "plugin/PresetMenu.h"
#include "ui/Window.h"
#include "ui/WindowListener.h"

#include "base/source/fobject.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

#include <memory>

namespace tav::ui {
class NativeWindow;
}

namespace tav::plugin {

class TavimoController;
class HostRunLoop;

// The plug-in view the controller hands to the host: owns the editor's view for its whole life
// and, while attached to the host's window, the native child window that shows it. Edits in the
// view become host gestures through the controller; once per frame the parameter values and
// the newest analysis record are pulled into the view. Everything runs on the host's UI thread.
class TavimoEditor final : public Steinberg::Vst::EditorView, public ui::WindowListener {
public:
    static constexpr int32_t kWidth = 760;
    static constexpr int32_t kHeight = 500;
    static constexpr float kMinScale = 0.8f;
    static constexpr float kMaxScale = 2.0f;
    // How long the automation indicator stays on after the last change by the host.
    static constexpr float kAutomationHoldSeconds = 0.5f;

    // UI thread; allocates. The view starts with the controller's theme and values.
    explicit TavimoEditor(TavimoController* controller);
    ~TavimoEditor() override;

    // UI thread. Only this build's own window type: "X11EmbedWindowID" on Linux, "HWND" on
    // Windows; anything else, and null, is refused.
    Steinberg::tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString type) override;
    // UI thread. Refuses a window type this build cannot embed into; otherwise as the base.
    Steinberg::tresult PLUGIN_API attached(void* parent, Steinberg::FIDString type) override;
    Steinberg::tresult PLUGIN_API onWheel(float distance) override;
    // UI thread. The twelve keys the view understands go to it, with Shift.
    Steinberg::tresult PLUGIN_API onKeyDown(Steinberg::char16 key, Steinberg::int16 keyCode,
                                            Steinberg::int16 modifiers) override;
    Steinberg::tresult PLUGIN_API onKeyUp(Steinberg::char16 key, Steinberg::int16 keyCode,
                                          Steinberg::int16 modifiers) override;
    // UI thread. Stores the size and resizes the native window.
    Steinberg::tresult PLUGIN_API onSize(Steinberg::ViewRect* newSize) override;
    Steinberg::tresult PLUGIN_API onFocus(Steinberg::TBool state) override;
    // UI thread. Keeps a reference to the host's frame (its run loop drives the Linux window).
    Steinberg::tresult PLUGIN_API setFrame(Steinberg::IPlugFrame* frame) override;
    Steinberg::tresult PLUGIN_API canResize() override;
    // UI thread. Fixed aspect ratio, 0.8 to 2 times the default; only the width decides.
    Steinberg::tresult PLUGIN_API checkSizeConstraint(Steinberg::ViewRect* rect) override;

    // UI thread (from attached / removed). Creates and destroys the native window.
    void attachedToParent() override;
    void removedFromParent() override;

    // UI thread. The view's gestures, turned into the controller's normalized values.
    void beginEdit(int32_t index) override;
    void performEdit(int32_t index, float value) override;
    void endEdit(int32_t index) override;
    // UI thread. Opens the online setup page in the default browser; never blocks.
    void openSetupPage() override;
    // UI thread; allocates. The menu's presets: a row's values reach the processor as edits;
    // a refused file or a folder that cannot be written leaves a notice and changes nothing.
    void loadPreset(int32_t entry) override;
    void savePresetAs(const std::string& name) override;
    void renamePreset(int32_t entry, const std::string& name) override;
    void deletePreset(int32_t entry) override;

    // UI thread; never allocates. One frame: the automation indicator, the parameter values
    // (unless Morph is being dragged), the theme back into the controller, and the newest
    // analysis record or, without one, the view's timers advanced by `seconds`.
    void updateFrame(ui::Window& window, float seconds);

    ui::Window& view() { return window; }
    bool hasNativeWindow() const { return nativeWindow != nullptr; }

    OBJ_METHODS(TavimoEditor, EditorView)
    REFCOUNT_METHODS(EditorView)

private:
    void pullParameterValues();
    void pullPresets(float seconds);
    void showPresetList();
    void createNativeWindow();
    void destroyNativeWindow();

    TavimoController* tavimo;
    ui::Window window;
    Steinberg::IPtr<Steinberg::IPlugFrame> frame;
    std::unique_ptr<HostRunLoop> runLoop;
    std::unique_ptr<ui::NativeWindow> nativeWindow;
    PresetMenu presetMenu;
    std::string shownPreset;
    bool shownEdited = false;
    // The user's folder is looked at again now and then: hosts save presets into it too.
    float folderCheckIn = 0.0f;
    bool morphDragging = false;
    float automationHold = 0.0f;
};

} // namespace tav::plugin
