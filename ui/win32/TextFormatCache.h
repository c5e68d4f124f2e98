#pragma once

#include "ui/Canvas.h"
#include "ui/TextCacheKeys.h"
#include "ui/win32/GraphicsResources.h"

#include <cstdint>
#include <map>
#include <tuple>

namespace tav::ui {

// The process-wide text formats, one per (italic, width, weight, size, family). Made and used on
// the UI thread only; survives windows being closed and reopened.
class TextFormatCache {
public:
    // Thread-safe on first use (function-local static); the object is then UI thread only.
    static TextFormatCache& instance();

    // UI thread; allocates on a miss. The format of the style with the resources' fonts, or null
    // when it cannot be made (remembered until the cache is next cleared).
    IDWriteTextFormat* format(GraphicsResources& resources, const TextStyle& style);

    size_t size() const { return formats.size(); }
    void clear() { formats.clear(); }

private:
    using Key = text_keys::FormatKey;
    std::map<Key, ComPtr<IDWriteTextFormat>> formats;
};

} // namespace tav::ui
