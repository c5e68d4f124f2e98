#include "ui/linux/SnapshotRenderer.h"

#include "ui/linux/CairoCanvas.h"

#include <cairo.h>

#include <cmath>

namespace tav::ui {

void SurfaceDeleter::operator()(cairo_surface_t* surface) const {
    cairo_surface_destroy(surface);
}

SurfacePtr SnapshotRenderer::render(Window& window, CairoResources& resources, float scale) {
    scale = SnapshotScene::clampScale(scale);
    const int width = static_cast<int>(std::lround(Window::kWidth * scale));
    const int height = static_cast<int>(std::lround(Window::kHeight * scale));
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    cairo_t* cairo = cairo_create(surface.get());
    {
        // The same mapping as a window of that width: pixels per view unit = width / 760.
        CairoCanvas canvas(resources, cairo, static_cast<float>(width) / Window::kWidth);
        window.paint(canvas);
    }
    resources.finishFrame();
    const bool ok = cairo_status(cairo) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cairo);
    if (!ok)
        return nullptr;
    cairo_surface_flush(surface.get());
    return surface;
}

bool SnapshotRenderer::writePng(cairo_surface_t* surface, const std::string& file) {
    return surface != nullptr &&
           cairo_surface_write_to_png(surface, file.c_str()) == CAIRO_STATUS_SUCCESS;
}

} // namespace tav::ui
