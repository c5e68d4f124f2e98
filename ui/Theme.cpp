#include "ui/Theme.h"

namespace tav::ui {
namespace {

constexpr Palette kPaper{{
    colorFromHex(0xECEBE6), // background
    colorFromHex(0xE2E0D8), // surface
    colorFromHex(0xD6D4CB), // row hover, meter track
    colorFromHex(0x0C0C0B), // ink
    colorFromHex(0x5F5E59), // muted
    colorFromHex(0x0C0C0B), // morph lines
    colorFromHex(0xFF4B1F), // accent
    colorFromHex(0x0C0C0B), // handle
    colorFromHex(0xECEBE6), // grip
    colorFromHex(0x2E40FF), // focus ring
    colorFromHex(0xB93410), // warning
}};

constexpr Palette kInk{{
    colorFromHex(0x0C0C0B),
    colorFromHex(0x1A1A18),
    colorFromHex(0x2A2A27),
    colorFromHex(0xECEBE6),
    colorFromHex(0x8A8983),
    colorFromHex(0xECEBE6),
    colorFromHex(0xFF4B1F),
    colorFromHex(0xFF4B1F),
    colorFromHex(0x0C0C0B),
    colorFromHex(0x7C88FF),
    colorFromHex(0xFF4B1F),
}};

constexpr TextStyle makeStyle(int32_t family, float size, float weight, bool italic,
                              float tracking) {
    return TextStyle{family, size, weight, 100.0f, static_cast<uint8_t>(italic ? 1 : 0), tracking};
}

// Indexed by TextRole.
constexpr TextStyle kStyles[] = {
    makeStyle(kFontMono, 10.0f, 400.0f, false, 0.06f), // Label
    makeStyle(kFontMono, 8.5f, 400.0f, false, 0.06f),  // SmallLabel
    makeStyle(kFontSans, 20.0f, 700.0f, false, 0.0f),  // Value
    makeStyle(kFontSans, 20.0f, 800.0f, false, 0.0f),  // Title
    makeStyle(kFontSans, 13.0f, 400.0f, false, 0.0f),  // Body
    makeStyle(kFontSans, 15.0f, 700.0f, false, 0.0f),  // ItemName
    makeStyle(kFontSans, 12.0f, 400.0f, false, 0.0f),  // ItemText
    makeStyle(kFontSerif, 28.0f, 500.0f, true, 0.0f),  // Display
    makeStyle(kFontSans, 15.0f, 800.0f, false, 0.0f),  // Badge
};

} // namespace

const Palette& paletteFor(int32_t theme) {
    return theme == kThemeInk ? kInk : kPaper;
}

const TextStyle& textStyle(TextRole role) {
    return kStyles[static_cast<int32_t>(role)];
}

} // namespace tav::ui
