#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>

namespace tav::ui {

class Window;

// What both native windows (ui/linux, ui/win32) share: the frame clock, the scale rule, the
// font files and the per-frame callback into the editor host.

// UI thread. Called once per frame before the frame is painted, with the seconds since the
// previous frame (capped at kMaxFrameSeconds, so an animation never jumps after a stall).
using TickCallback = std::function<void(Window& view, float seconds)>;

inline constexpr uint32_t kFrameIntervalMs = 33;
inline constexpr float kMaxFrameSeconds = 0.25f;

// Every 64th frame the text caches are trimmed once they pass these sizes.
inline constexpr uint32_t kCacheTrimInterval = 64;
inline constexpr size_t kMaxCachedLayouts = 512;
inline constexpr size_t kMaxCachedFormats = 256;

// The three font files, in loading order, in the bundle's Resources/Fonts folder. Without all
// three no editor window is made: there is no fallback to system fonts.
inline constexpr const char* kFontFiles[3] = {
    "Anybody-Variable.ttf",
    "BodoniModa-Italic-Variable.ttf",
    "DepartureMono-Regular.otf",
};

// Device pixels per view unit for painting: the client width over the view's 760 units.
inline float paintScale(int32_t clientWidth) {
    return static_cast<float>(clientWidth) / 760.0f;
}

// The same for input, kept away from zero so a tiny window still maps points finitely.
inline float inputScale(int32_t clientWidth) {
    return std::max(paintScale(clientWidth), 0.1f);
}

} // namespace tav::ui
