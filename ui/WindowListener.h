#pragma once

#include <cstdint>
#include <string>

namespace tav::ui {

// Receives the view's edits as host gestures (begin, perform, end) and its requests.
// The editor host implements it; every call comes on the UI thread.
class WindowListener {
public:
    virtual ~WindowListener() = default;

    // UI thread. A gesture on the parameter (ParamIndex) starts.
    virtual void beginEdit(int32_t index) = 0;
    // UI thread. The parameter takes a new value in its plain units.
    virtual void performEdit(int32_t index, float value) = 0;
    // UI thread. The gesture on the parameter ends.
    virtual void endEdit(int32_t index) = 0;
    // UI thread. The user asked for the online setup page; ignored unless overridden.
    virtual void openSetupPage() {}

    // The preset menu's requests, entries numbered as in Window::setPresets; ignored unless
    // overridden. The host answers with Window::setCurrentPreset (or a notice).
    // UI thread. Load the entry; -1 loads Init.
    virtual void loadPreset(int32_t /*entry*/) {}
    // UI thread. Save the current values as a user preset of this name (trimmed, never empty);
    // when a user preset of the name exists, the view has asked the user before.
    virtual void savePresetAs(const std::string& /*name*/) {}
    // UI thread. Give the user preset a new name; the view has asked before replacing another.
    virtual void renamePreset(int32_t /*entry*/, const std::string& /*name*/) {}
    // UI thread. Delete the user preset; the view has asked once.
    virtual void deletePreset(int32_t /*entry*/) {}
};

} // namespace tav::ui
