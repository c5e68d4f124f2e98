#include "ui/win32/D2dCanvas.h"

#include "ui/win32/TextLayoutCache.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace tav::ui {
namespace {

constexpr float kTextGamma = 1.8f;
constexpr float kPathMiterLimit = 10.0f;

D2D1_MATRIX_3X2_F scaling(float scale) {
    D2D1_MATRIX_3X2_F m{};
    m._11 = scale;
    m._22 = scale;
    return m;
}

// Path space to pixels: scaled by the path scale, moved to (x, y), then the canvas's own scale.
D2D1_MATRIX_3X2_F placement(float pathScale, float x, float y, float canvasScale) {
    D2D1_MATRIX_3X2_F m = scaling(pathScale * canvasScale);
    m._31 = x * canvasScale;
    m._32 = y * canvasScale;
    return m;
}

D2D1_RECT_F rectOf(float x, float y, float width, float height) {
    return D2D1_RECT_F{x, y, x + width, y + height};
}

std::string_view textOf(const char* text, int32_t length) {
    return text != nullptr && length > 0 ? std::string_view(text, static_cast<size_t>(length))
                                         : std::string_view();
}

// The first line's baseline below the layout's top; 0 for a layout without lines. DirectWrite
// fills nothing when the buffer is short, so a long block is read whole.
float firstBaseline(IDWriteTextLayout* layout) {
    constexpr UINT32 kUsualLines = 8;
    DWRITE_LINE_METRICS lines[kUsualLines] = {};
    UINT32 count = 0;
    HRESULT result = layout->GetLineMetrics(lines, kUsualLines, &count);
    if (result == E_NOT_SUFFICIENT_BUFFER && count > 0) {
        std::vector<DWRITE_LINE_METRICS> all(count);
        result = layout->GetLineMetrics(all.data(), count, &count);
        return SUCCEEDED(result) && count > 0 ? all[0].baseline : 0.0f;
    }
    return SUCCEEDED(result) && count > 0 ? lines[0].baseline : 0.0f;
}

DWRITE_TEXT_METRICS metricsOf(IDWriteTextLayout* layout) {
    DWRITE_TEXT_METRICS metrics{};
    if (FAILED(layout->GetMetrics(&metrics)))
        return DWRITE_TEXT_METRICS{};
    return metrics;
}

} // namespace

D2dCanvas::D2dCanvas(GraphicsResources& resources, ID2D1RenderTarget* target, float scale)
    : resources(resources), target(target), scale(scale), baseTransform(scaling(scale)) {
    if (target == nullptr)
        return;
    target->SetTransform(&baseTransform);
    target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
    if (IDWriteFactory* write = resources.writeFactory()) {
        ComPtr<IDWriteRenderingParams> params;
        if (SUCCEEDED(write->CreateCustomRenderingParams(
                kTextGamma, 0.0f, 0.0f, DWRITE_PIXEL_GEOMETRY_FLAT,
                DWRITE_RENDERING_MODE_NATURAL_SYMMETRIC, &params)))
            target->SetTextRenderingParams(params.Get());
    }
    const D2D1_COLOR_F black{0.0f, 0.0f, 0.0f, 1.0f};
    target->CreateSolidColorBrush(&black, nullptr, &brush);
    if (ID2D1Factory* factory = resources.d2dFactory()) {
        const D2D1_STROKE_STYLE_PROPERTIES properties{D2D1_CAP_STYLE_SQUARE,
                                                      D2D1_CAP_STYLE_SQUARE,
                                                      D2D1_CAP_STYLE_FLAT,
                                                      D2D1_LINE_JOIN_MITER,
                                                      kPathMiterLimit,
                                                      D2D1_DASH_STYLE_SOLID,
                                                      0.0f};
        factory->CreateStrokeStyle(&properties, nullptr, 0, &pathStroke);
    }
}

ID2D1SolidColorBrush* D2dCanvas::brushOf(const Color& color) {
    if (!brush)
        return nullptr;
    const D2D1_COLOR_F value{color.r, color.g, color.b, color.a};
    brush->SetColor(&value);
    return brush.Get();
}

void D2dCanvas::fillRect(float x, float y, float width, float height, const Color& color) {
    if (ID2D1SolidColorBrush* paint = brushOf(color)) {
        const D2D1_RECT_F rect = rectOf(x, y, width, height);
        target->FillRectangle(&rect, paint);
    }
}

void D2dCanvas::fillRoundedRect(float x, float y, float width, float height, float radius,
                                const Color& color) {
    if (ID2D1SolidColorBrush* paint = brushOf(color)) {
        const D2D1_ROUNDED_RECT rect{rectOf(x, y, width, height), radius, radius};
        target->FillRoundedRectangle(&rect, paint);
    }
}

void D2dCanvas::strokeRect(float x, float y, float width, float height, float radius,
                           float strokeWidth, const Color& color) {
    ID2D1SolidColorBrush* paint = brushOf(color);
    if (paint == nullptr)
        return;
    // The outline runs half a stroke inside, so the ink covers exactly the given bounds.
    const float half = strokeWidth / 2.0f;
    const D2D1_RECT_F inset = rectOf(x + half, y + half, width - strokeWidth, height - strokeWidth);
    if (radius <= 0.0f) {
        target->DrawRectangle(&inset, paint, strokeWidth, nullptr);
        return;
    }
    const float corner = std::max(0.0f, radius - half);
    const D2D1_ROUNDED_RECT rounded{inset, corner, corner};
    target->DrawRoundedRectangle(&rounded, paint, strokeWidth, nullptr);
}

void D2dCanvas::strokePolyline(const Point* points, int32_t count, float strokeWidth,
                               const Color& color) {
    if (points == nullptr || count < 2 || resources.d2dFactory() == nullptr)
        return;
    ID2D1SolidColorBrush* paint = brushOf(color);
    ComPtr<ID2D1PathGeometry> line;
    ComPtr<ID2D1GeometrySink> sink;
    if (paint == nullptr || FAILED(resources.d2dFactory()->CreatePathGeometry(&line)) ||
        FAILED(line->Open(&sink)))
        return;
    sink->BeginFigure(D2D1_POINT_2F{points[0].x, points[0].y}, D2D1_FIGURE_BEGIN_HOLLOW);
    for (int32_t i = 1; i < count; ++i)
        sink->AddLine(D2D1_POINT_2F{points[i].x, points[i].y});
    sink->EndFigure(D2D1_FIGURE_END_OPEN);
    if (SUCCEEDED(sink->Close()))
        target->DrawGeometry(line.Get(), paint, strokeWidth, nullptr);
}

void D2dCanvas::drawPath(const char* path, float x, float y, float pathScale, const Color& color,
                         float strokeWidth, bool fill) {
    ID2D1PathGeometry* geometry = resources.pathGeometry(path);
    ID2D1SolidColorBrush* paint = brushOf(color);
    if (geometry == nullptr || paint == nullptr)
        return;
    const D2D1_MATRIX_3X2_F placed = placement(pathScale, x, y, scale);
    target->SetTransform(&placed);
    if (fill)
        target->FillGeometry(geometry, paint, nullptr);
    else
        target->DrawGeometry(geometry, paint, strokeWidth, pathStroke.Get());
    target->SetTransform(&baseTransform);
}

void D2dCanvas::fillPath(const char* path, float x, float y, float pathScale, const Color& color) {
    drawPath(path, x, y, pathScale, color, 0.0f, true);
}

void D2dCanvas::strokePath(const char* path, float x, float y, float pathScale, float strokeWidth,
                           const Color& color) {
    drawPath(path, x, y, pathScale, color, strokeWidth, false);
}

IDWriteTextLayout* D2dCanvas::layoutOf(const char* text, int32_t length, const TextStyle& style,
                                       float maxWidth, float lineHeight) {
    if (resources.writeFactory() == nullptr)
        return nullptr;
    return TextLayoutCache::instance().layout(resources, textOf(text, length), style, maxWidth,
                                              lineHeight);
}

void D2dCanvas::drawText(const char* text, int32_t length, float x, float y, const TextStyle& style,
                         const Color& color, int32_t align) {
    IDWriteTextLayout* layout = layoutOf(text, length, style, 0.0f, 0.0f);
    ID2D1SolidColorBrush* paint = brushOf(color);
    if (layout == nullptr || paint == nullptr)
        return;
    if (align == kAlignCenter)
        x -= metricsOf(layout).widthIncludingTrailingWhitespace / 2.0f;
    target->DrawTextLayout(D2D1_POINT_2F{x, y - firstBaseline(layout)}, layout, paint,
                           D2D1_DRAW_TEXT_OPTIONS_NONE);
}

float D2dCanvas::measureText(const char* text, int32_t length, const TextStyle& style) {
    IDWriteTextLayout* layout = layoutOf(text, length, style, 0.0f, 0.0f);
    return layout != nullptr ? metricsOf(layout).widthIncludingTrailingWhitespace : 0.0f;
}

float D2dCanvas::drawTextBlock(const char* text, int32_t length, float x, float y, float maxWidth,
                               float lineHeight, const TextStyle& style, const Color& color) {
    IDWriteTextLayout* layout = layoutOf(text, length, style, maxWidth, lineHeight);
    ID2D1SolidColorBrush* paint = brushOf(color);
    if (layout == nullptr || paint == nullptr)
        return 0.0f;
    target->DrawTextLayout(D2D1_POINT_2F{x, y - firstBaseline(layout)}, layout, paint,
                           D2D1_DRAW_TEXT_OPTIONS_NONE);
    return metricsOf(layout).height;
}

float D2dCanvas::measureTextBlock(const char* text, int32_t length, float maxWidth,
                                  float lineHeight, const TextStyle& style) {
    IDWriteTextLayout* layout = layoutOf(text, length, style, maxWidth, lineHeight);
    return layout != nullptr ? metricsOf(layout).height : 0.0f;
}

} // namespace tav::ui
