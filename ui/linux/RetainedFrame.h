#pragma once

#include "ui/Window.h"
#include "ui/linux/CairoResources.h"

#include <cstdint>
#include <string>
#include <vector>

typedef struct _cairo_surface cairo_surface_t;

namespace tav::ui {

// A rectangle of device pixels, [x0, x1) x [y0, y1).
struct PixelRect {
    int32_t x0 = 0;
    int32_t y0 = 0;
    int32_t x1 = 0;
    int32_t y1 = 0;
    int32_t width() const { return x1 - x0; }
    int32_t height() const { return y1 - y0; }
};

// Keeps the last frame of a view in an image and repaints only what changed: each frame the view
// paints into a list of drawing operations; where an operation differs from the last frame's, the
// old and the new place are repainted from the new list. The image then holds
// exactly what a full repaint would. UI thread only; allocates while lists grow.
class RetainedFrame {
public:
    // UI thread. Brings `surface` (an RGB24 or ARGB32 image that holds the previous frame of
    // this object) up to date with the view at `scale` pixels per view unit; returns the
    // bands of whole rows that changed. The first frame, a new surface or scale, or invalidate()
    // repaints everything.
    const std::vector<PixelRect>& paint(Window& view, CairoResources& resources,
                                        cairo_surface_t* surface, float scale);
    // UI thread. The next paint repaints the whole image.
    void invalidate() { previous_.clear(), surface_ = nullptr; }

    struct Op {
        enum Kind : uint8_t {
            kFillRect,
            kFillRoundedRect,
            kStrokeRect,
            kPolyline,
            kFillPath,
            kStrokePath,
            kText,
            kTextBlock
        };
        Kind kind;
        int32_t align = 0;
        float v[7] = {}; // the operation's numbers, in its argument order
        Color color;
        TextStyle style;
        const char* path = nullptr; // path shapes are identified by their string's address
        std::string text;
        std::vector<Point> points;
        PixelRect bounds; // every pixel the operation may touch
        bool operator==(const Op& other) const;
    };

private:
    void addDamage(PixelRect rect);
    void mergeDamage();
    void repaint(const PixelRect& rect, CairoResources& resources, cairo_surface_t* surface,
                 float scale) const;

    std::vector<Op> previous_;
    std::vector<Op> current_;
    std::vector<PixelRect> damage_;
    cairo_surface_t* surface_ = nullptr;
    float scale_ = 0.0f;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

} // namespace tav::ui
