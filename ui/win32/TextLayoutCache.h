#pragma once

#include "ui/Canvas.h"
#include "ui/TextCacheKeys.h"
#include "ui/win32/GraphicsResources.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <tuple>

namespace tav::ui {

// The process-wide text layouts, one per (text, style, maximum width, line height). Made and
// used on the UI thread only; survives windows being closed and reopened.
class TextLayoutCache {
public:
    // Thread-safe on first use (function-local static); the object is then UI thread only.
    static TextLayoutCache& instance();

    // UI thread; allocates on a miss. The UTF-8 text laid out in the style, wrapped at maxWidth
    // when it is above 0, with uniform lines lineHeight tall when that is above 0; null when it
    // cannot be made (not remembered: the next call tries again).
    IDWriteTextLayout* layout(GraphicsResources& resources, std::string_view text,
                              const TextStyle& style, float maxWidth, float lineHeight);

    size_t size() const { return layouts.size(); }
    void clear() { layouts.clear(); }

private:
    using Key = text_keys::LayoutKeyOf<std::string>;
    std::map<Key, ComPtr<IDWriteTextLayout>, std::less<>> layouts;
};

// UI thread; may free. Called once per painted frame with the window's frame count: after every
// 64th frame the layout cache is cleared above 512 entries and the format cache above 256.
void trimTextCaches(uint32_t frameCount);

} // namespace tav::ui
