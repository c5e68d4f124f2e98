#pragma once

#include "ui/Window.h"
#include "ui/win32/GraphicsResources.h"

#include <filesystem>

namespace tav::ui {

// Draws a view, put into its state by SnapshotScene, with the Direct2D canvas into a WIC bitmap
// and writes it as PNG with WIC. UI thread; allocates.
class WicSnapshotRenderer {
public:
    // The view painted on an image of round(760 x scale) x round(500 x scale) pixels (the scale
    // clamped to 0.8..2) and written to `file` as PNG; false when the image cannot be drawn or
    // written. Initialises COM on the calling thread if it is not yet.
    static bool writePng(Window& window, GraphicsResources& resources, float scale,
                         const std::filesystem::path& file);
};

} // namespace tav::ui
