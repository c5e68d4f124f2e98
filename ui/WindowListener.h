#pragma once

#include <cstdint>

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
};

} // namespace tav::ui
