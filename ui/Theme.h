#pragma once

#include "ui/Canvas.h"

#include <cstdint>

namespace tav::ui {

inline constexpr int32_t kThemePaper = 0; // light
inline constexpr int32_t kThemeInk = 1;   // dark

// The roles of the eleven colours of each theme.
enum PaletteIndex : int32_t {
    kColorBackground = 0,
    kColorSurface = 1,
    kColorRowHover = 2,
    kColorInk = 3,
    kColorMuted = 4,
    kColorLines = 5,
    kColorAccent = 6,
    kColorHandle = 7,
    kColorGrip = 8,
    kColorFocus = 9,
    kColorWarning = 10,
};

inline constexpr int32_t kPaletteSize = 11;

// One theme's colours, all opaque.
struct Palette {
    Color colors[kPaletteSize];
    const Color& operator[](int32_t index) const { return colors[index]; }
};

// 8-bit sRGB 0xRRGGBB as a canvas colour.
constexpr Color colorFromHex(uint32_t rgb) {
    return Color{static_cast<float>((rgb >> 16) & 0xFF) / 255.0f,
                 static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                 static_cast<float>(rgb & 0xFF) / 255.0f, 1.0f};
}

// Any thread. "Paper" for theme 0, "Ink" for theme 1; any other value reads as "Paper".
const Palette& paletteFor(int32_t theme);

// The text styles of the view.
enum class TextRole : int32_t {
    Label = 0,
    SmallLabel,
    Value,
    Title,
    Body,
    ItemName,
    ItemText,
    Display,
    Badge,
};

// Any thread. The canvas style of a role.
const TextStyle& textStyle(TextRole role);

} // namespace tav::ui
