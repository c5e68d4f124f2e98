#pragma once

#include "ui/Canvas.h"
#include "ui/win32/GraphicsResources.h"

#include <cstdint>
#include <map>
#include <tuple>

namespace tav::ui {

// A style value to hundredths (multiplied, 0.5 added, truncated), so values that agree to two
// decimals share cache entries. Non-finite values count as 0.
int64_t hundredths(float value);

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
    using Key = std::tuple<uint8_t, int64_t, int64_t, int64_t, int32_t>;
    std::map<Key, ComPtr<IDWriteTextFormat>> formats;
};

} // namespace tav::ui
