#pragma once

#include "ui/Canvas.h"
#include "ui/linux/CairoResources.h"

typedef struct _cairo cairo_t;

namespace tav::ui {

// The Linux canvas: draws in view units on any Cairo surface (an image for snapshots, a window),
// scaled uniformly to device pixels. Lives for one frame; UI thread only.
class CairoCanvas final : public Canvas {
public:
    // UI thread. Draws on `cairo` with `scale` device pixels per view unit (surface width / 760);
    // saves the context's state and restores it on destruction. A scale that is not a positive
    // finite number makes every operation draw nothing. Measuring needs no surface: `cairo` may
    // be null for a canvas that only measures.
    CairoCanvas(CairoResources& resources, cairo_t* cairo, float scale);
    ~CairoCanvas() override;
    CairoCanvas(const CairoCanvas&) = delete;
    CairoCanvas& operator=(const CairoCanvas&) = delete;

    void fillRect(float x, float y, float width, float height, const Color& color) override;
    void fillRoundedRect(float x, float y, float width, float height, float radius,
                         const Color& color) override;
    void strokeRect(float x, float y, float width, float height, float radius, float strokeWidth,
                    const Color& color) override;
    void strokePolyline(const Point* points, int32_t count, float strokeWidth,
                        const Color& color) override;
    void fillPath(const char* path, float x, float y, float scale, const Color& color) override;
    void strokePath(const char* path, float x, float y, float scale, float strokeWidth,
                    const Color& color) override;
    void drawText(const char* text, int32_t length, float x, float y, const TextStyle& style,
                  const Color& color, int32_t align) override;
    float measureText(const char* text, int32_t length, const TextStyle& style) override;
    float drawTextBlock(const char* text, int32_t length, float x, float y, float maxWidth,
                        float lineHeight, const TextStyle& style, const Color& color) override;
    float measureTextBlock(const char* text, int32_t length, float maxWidth, float lineHeight,
                           const TextStyle& style) override;

private:
    void setColor(const Color& color);
    bool placePath(const char* path, float x, float y, float scale);
    float blockHeight(PangoLayout* layout, float lineHeight) const;

    CairoResources& resources_;
    cairo_t* cairo_;
    bool usable_;
};

} // namespace tav::ui
