#pragma once

#include "model/Parameters.h"

#include <cstdint>
#include <string>

namespace tav::ui {

// The keys the view understands; the native window and the editor host translate theirs.
enum class Key : int32_t {
    Left = 0,
    Right = 1,
    Up = 2,
    Down = 3,
    PageUp = 4,
    PageDown = 5,
    Home = 6,
    End = 7,
    Tab = 8,
    Return = 9, // Return and Enter
    Space = 10,
    Escape = 11,
    Backspace = 12,
    Delete = 13, // forward delete
};

// Pointer shape the native window shows over the view.
enum class CursorKind : int32_t {
    Arrow = 0,
    Hand = 1,
    ResizeHorizontal = 2,
    ResizeVertical = 3,
};

// Parameter numbers as the view reports them to its listener: the parameter table's ids. The
// view's values: Morph and Mix normalized 0..1, Algorithm as its index, Output in dB, Bypass and
// Quality 0/1.
using ParamIndex = model::ParamId;
inline constexpr ParamIndex kParamMorph = model::kMorphId;
inline constexpr ParamIndex kParamAlgorithm = model::kAlgorithmId;
inline constexpr ParamIndex kParamMix = model::kMixId;
inline constexpr ParamIndex kParamOutput = model::kOutputId;
inline constexpr ParamIndex kParamBypass = model::kBypassId;
inline constexpr ParamIndex kParamQuality = model::kQualityId;

// The view's interactive elements, as hit testing names them.
enum class ElementId : int32_t {
    None = 0,
    Wordmark = 1,
    PresetPill = 2,
    SettingsButton = 3,
    BypassButton = 4,
    MorphArea = 5,
    AlgorithmSelector = 6,
    MixValue = 7,
    OutputValue = 8,
    AlgorithmMenuRow = 9,
    SettingsItem = 10,
    RouteButton = 11,
    PresetMenuRow = 12,    // a row of the preset menu, numbered as the menu shows them
    PresetMenuScroll = 13, // the menu's scroll strips: index -1 above the list, +1 below it
    NoticeCard = 14,       // the card of a notice; a press dismisses it
};

// What lies under a point: an element and, for menu rows and settings items, the row.
struct Hit {
    ElementId element = ElementId::None;
    int32_t index = -1;
};

// The one overlay that may be open over the view.
enum class Overlay : int32_t {
    None = 0,
    AlgorithmMenu = 1,
    SettingsPanel = 2,
    AboutCard = 3,
    PresetMenu = 4,
    NameField = 5, // the preset pill as a text field, saving or renaming a preset
};

// One row of the preset menu. Factory presets carry their category; user presets have none.
struct PresetEntry {
    std::string name;
    std::string category; // empty for a user preset
};

// What a press-and-move is changing.
enum class DragMode : int32_t {
    None = 0,
    Morph = 1,  // horizontal
    Mix = 2,    // vertical
    Output = 3, // vertical
};

} // namespace tav::ui
