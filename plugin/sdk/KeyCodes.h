#pragma once

// The virtual key codes and modifier bits that IPlugView::onKeyDown delivers. The installed SDK
// declares the view interface but not these values; they are the VST3 interface's own numbers.

// An SDK that carries the SDK's own header declares them there; then that one is used.
#if __has_include("pluginterfaces/base/keycodes.h")
#include "pluginterfaces/base/keycodes.h"
#else
#include "pluginterfaces/base/ftypes.h"

namespace Steinberg {

enum VirtualKeyCodes : int16 {
    KEY_BACK = 1,
    KEY_TAB,
    KEY_CLEAR,
    KEY_RETURN,
    KEY_PAUSE,
    KEY_ESCAPE,
    KEY_SPACE,
    KEY_NEXT,
    KEY_END,
    KEY_HOME,
    KEY_LEFT,
    KEY_UP,
    KEY_RIGHT,
    KEY_DOWN,
    KEY_PAGEUP,
    KEY_PAGEDOWN,
    KEY_SELECT,
    KEY_PRINT,
    KEY_ENTER,
    KEY_SNAPSHOT,
    KEY_INSERT,
    KEY_DELETE,
};

enum KeyModifier : int16 {
    kShiftKey = 1 << 0,
    kAlternateKey = 1 << 1,
    kCommandKey = 1 << 2,
    kControlKey = 1 << 3,
};

} // namespace Steinberg

#endif
