#pragma once

#include "ui/Canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <tuple>

// How both canvases key their caches of text formats and text layouts: style values compared
// to two decimals, as the view's values are, and the family any unknown value draws as.
namespace tav::ui::text_keys {

// A style value to hundredths: multiplied, 0.5 added, truncated; non-finite values count as 0.
inline int64_t hundredths(float value) {
    if (!std::isfinite(value))
        return 0;
    const double scaled = std::clamp(static_cast<double>(value) * 100.0 + 0.5, -1e15, 1e15);
    return static_cast<int64_t>(scaled);
}

// Sans and Serif as themselves; any other value draws as Mono.
inline int32_t familyOf(const TextStyle& style) {
    return style.family == kFontSans || style.family == kFontSerif ? style.family : kFontMono;
}

// Italic flag, width, weight, size, family.
using FormatKey = std::tuple<uint8_t, int64_t, int64_t, int64_t, int32_t>;

inline FormatKey formatKey(const TextStyle& style) {
    return {style.italic, hundredths(style.width), hundredths(style.weight), hundredths(style.size),
            familyOf(style)};
}

// Text first, compared byte-wise, then family, size, weight, width, tracking, maximum width, line
// height and italic flag. Looked up by a view of the text, so a hit copies nothing.
template <typename Text>
using LayoutKeyOf =
    std::tuple<Text, int32_t, int64_t, int64_t, int64_t, int64_t, int64_t, int64_t, uint8_t>;

template <typename Text>
LayoutKeyOf<Text> layoutKey(Text text, const TextStyle& style, float maxWidth, float lineHeight) {
    return {text,
            familyOf(style),
            hundredths(style.size),
            hundredths(style.weight),
            hundredths(style.width),
            hundredths(style.tracking),
            hundredths(maxWidth),
            hundredths(lineHeight),
            style.italic};
}

} // namespace tav::ui::text_keys
