#pragma once

#include "ui/SnapshotScene.h"
#include "ui/Window.h"
#include "ui/linux/CairoResources.h"

#include <memory>
#include <string>

typedef struct _cairo_surface cairo_surface_t;

namespace tav::ui {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const;
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// Draws a view, put into its state by SnapshotScene, into an image. UI thread; allocates.
class SnapshotRenderer {
public:
    // The view painted on an image of round(760 x scale) x round(500 x scale) pixels; the scale
    // is clamped to 0.8..2. Null if the image cannot be made.
    static SurfacePtr render(Window& window, CairoResources& resources, float scale);

    // Writes the image as PNG; false on failure.
    static bool writePng(cairo_surface_t* surface, const std::string& file);
};

} // namespace tav::ui
