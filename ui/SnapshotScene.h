#pragma once

#include "ui/Window.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tav::ui {

// Everything a snapshot of the editor can show.
struct SnapshotState {
    int32_t theme = kThemePaper;
    float morph = 0.5f;
    int32_t algorithm = 0;
    float mix = 1.0f;      // 0..1
    float outputDb = 0.0f; // -24..+12
    bool bypass = false;
    bool highQuality = false;
    bool morphAutomated = false;
    bool playingA = true; // silent inputs bring up the status messages
    bool playingB = true;
    float levelA = 0.74f; // meter levels 0..1 of the inputs that play
    float levelB = 0.62f;
    Overlay overlay = Overlay::None;
    ElementId hover = ElementId::None;
    std::optional<Point> hoverAt; // a pointer position in view units, after the overlay opened
    ElementId focus = ElementId::None;
    // The presets the menu offers, the one the pill names, and whether it was edited.
    std::vector<PresetEntry> presets;
    std::string presetName = "Init";
    bool presetEdited = false;
    int32_t loadedPreset = -1;
    // With the name field open: what was typed into it (else it shows the preset's name).
    std::optional<std::string> typedName;
    std::string notice; // a notice on the status card
};

// Puts a view into a chosen state through its public operations, as a user and a host would;
// each platform's snapshot then paints it with its own canvas. UI thread; allocates.
class SnapshotScene {
public:
    static constexpr float kMinScale = 0.8f;
    static constexpr float kMaxScale = 2.0f;

    // Two seconds of analysis frames with a tonal A and a breathy B (or silence), then the
    // parameters and presets, the overlay (by pointer, or by keyboard when focus names its
    // opener; the name field through the preset menu's "Save as…"), the pointer position and
    // the keyboard focus.
    static void prepare(Window& window, const SnapshotState& state);

    // Any thread. Pixels per view unit of a snapshot: clamped to 0.8..2, 1 when not finite. The
    // image is round(760 x scale) x round(500 x scale) pixels.
    static float clampScale(float scale);

    // UI thread. The centre of the box hit testing finds the element in, in the current state;
    // nothing where it cannot be hit.
    static std::optional<Point> centreOf(const Window& window, ElementId element);
};

} // namespace tav::ui
