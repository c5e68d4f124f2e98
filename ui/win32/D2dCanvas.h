#pragma once

#include "ui/Canvas.h"
#include "ui/win32/GraphicsResources.h"

namespace tav::ui {

// The Windows canvas: draws in view units with Direct2D and DirectWrite on a render target (the
// editor window's, or a bitmap for snapshots), scaled uniformly to device pixels. Lives for one
// frame, between the target's BeginDraw and EndDraw; UI thread only.
class D2dCanvas final : public Canvas {
public:
    // UI thread; allocates the frame's brush and stroke style. Sets the base transform (`scale`
    // pixels per view unit) and the text rendering on `target`.
    D2dCanvas(GraphicsResources& resources, ID2D1RenderTarget* target, float scale);
    ~D2dCanvas() override = default;
    D2dCanvas(const D2dCanvas&) = delete;
    D2dCanvas& operator=(const D2dCanvas&) = delete;

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
    // The brush in the operation's colour; null when the frame has none.
    ID2D1SolidColorBrush* brushOf(const Color& color);
    IDWriteTextLayout* layoutOf(const char* text, int32_t length, const TextStyle& style,
                                float maxWidth, float lineHeight);
    void drawPath(const char* path, float x, float y, float scale, const Color& color,
                  float strokeWidth, bool fill);

    GraphicsResources& resources;
    ID2D1RenderTarget* target;
    float scale;
    D2D1_MATRIX_3X2_F baseTransform;
    ComPtr<ID2D1SolidColorBrush> brush;
    ComPtr<ID2D1StrokeStyle> pathStroke;
};

} // namespace tav::ui
