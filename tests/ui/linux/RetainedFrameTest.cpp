#include "ui/linux/RetainedFrame.h"
#include "ui/ViewFixtures.h"
#include "ui/linux/CairoCanvas.h"
#include "ui/linux/SnapshotRenderer.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

namespace tav::ui {
namespace {

SurfacePtr makeImage(int width, int height) {
    return SurfacePtr(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
}

void paintWhole(Window& view, CairoResources& resources, cairo_surface_t* image, float scale) {
    cairo_t* cairo = cairo_create(image);
    {
        CairoCanvas canvas(resources, cairo, scale);
        view.paint(canvas);
    }
    cairo_destroy(cairo);
    cairo_surface_flush(image);
}

bool samePixels(cairo_surface_t* a, cairo_surface_t* b) {
    const int height = cairo_image_surface_get_height(a);
    const int stride = cairo_image_surface_get_stride(a);
    const int rowBytes = cairo_image_surface_get_width(a) * 4;
    for (int y = 0; y < height; ++y) {
        if (std::memcmp(cairo_image_surface_get_data(a) + y * stride,
                        cairo_image_surface_get_data(b) + y * stride, rowBytes) != 0)
            return false;
    }
    return true;
}

// Frame after frame, the retained image equals a full repaint of the view, while values,
// hover, overlays, theme and the animated field change, and most frames repaint only a part.
TEST(RetainedFrameTest, EveryFrameEqualsAFullRepaint) {
    auto resources = CairoResources::create(TAVIMO_FONTS_DIR);
    ASSERT_TRUE(resources);
    const AnalysisRecord flat = test::inputRecord(true, true, 0.3f);
    const AnalysisRecord aOnly = test::inputRecord(true, false, 0.8f);
    const std::vector<std::pair<const char*, std::function<void(Window&)>>> steps = {
        {"nothing", [](Window&) {}},
        {"field glides", [&](Window& v) { v.updateSignals(flat, 1.0f / 30.0f); }},
        {"field glides on", [&](Window& v) { v.updateSignals(flat, 1.0f / 30.0f); }},
        {"morph", [](Window& v) { v.setMorph(0.2f); }},
        {"mix and output", [](Window& v) { v.setMix(0.4f), v.setOutput(-6.5f); }},
        {"hover settings", [](Window& v) { v.onMouseMove(626.0f, 27.0f); }},
        {"hover morph", [](Window& v) { v.onMouseMove(300.0f, 200.0f); }},
        {"leave", [](Window& v) { v.onMouseLeave(); }},
        {"menu", [](Window& v) { v.onMouseDown(421.0f, 450.0f), v.onMouseUp(421.0f, 450.0f); }},
        {"menu row", [](Window& v) { v.onKey(Key::Down, false); }},
        {"menu closed", [](Window& v) { v.onKey(Key::Escape, false); }},
        {"focus", [](Window& v) { v.onKey(Key::Tab, true); }},
        {"theme", [](Window& v) { v.setTheme(kThemeInk); }},
        {"bypass", [](Window& v) { v.setBypass(true); }},
        {"bypass off", [](Window& v) { v.setBypass(false); }},
        {"B goes silent", [&](Window& v) { v.updateSignals(aOnly, 0.2f); }},
        {"B silent", [&](Window& v) { v.updateSignals(aOnly, 0.2f); }},
    };

    for (const float scale : {1.0f, 1.5f}) {
        Window view;
        SnapshotScene::prepare(view, SnapshotState{});
        const int width = static_cast<int>(Window::kWidth * scale);
        const int height = static_cast<int>(Window::kHeight * scale);
        const SurfacePtr retained = makeImage(width, height);
        const SurfacePtr whole = makeImage(width, height);
        RetainedFrame frame;
        frame.paint(view, *resources, retained.get(), scale);
        int partial = 0;
        for (const auto& [what, step] : steps) {
            step(view);
            const std::vector<PixelRect>& damage =
                frame.paint(view, *resources, retained.get(), scale);
            int64_t repainted = 0;
            for (const PixelRect& rect : damage)
                repainted += int64_t(rect.width()) * rect.height();
            partial += repainted < int64_t(width) * height ? 1 : 0;
            paintWhole(view, *resources, whole.get(), scale);
            EXPECT_TRUE(samePixels(retained.get(), whole.get())) << what << " at " << scale;
        }
        EXPECT_GE(partial, static_cast<int>(steps.size()) / 2) << scale;
    }
}

} // namespace
} // namespace tav::ui
