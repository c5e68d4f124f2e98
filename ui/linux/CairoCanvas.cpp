#include "ui/linux/CairoCanvas.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string_view>

namespace tav::ui {
namespace {

constexpr double kBaselineFraction = 0.8; // baseline of a fixed-height line, from its top
constexpr double kMiterLimit = 10.0;

bool finite(float v) {
    return std::isfinite(v);
}

bool finiteBox(float x, float y, float width, float height) {
    return std::isfinite(x) && std::isfinite(y) && std::isfinite(width) && std::isfinite(height);
}

std::string_view textOf(const char* text, int32_t length) {
    if (text == nullptr || length <= 0)
        return {};
    return {text, static_cast<size_t>(length)};
}

void roundedRectPath(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::min({r, w / 2.0, h / 2.0});
    if (r <= 0.0) {
        cairo_rectangle(cr, x, y, w, h);
        return;
    }
    constexpr double quarter = std::numbers::pi / 2.0;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -quarter, 0.0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0.0, quarter);
    cairo_arc(cr, x + r, y + h - r, r, quarter, 2.0 * quarter);
    cairo_arc(cr, x + r, y + r, r, 2.0 * quarter, 3.0 * quarter);
    cairo_close_path(cr);
}

// Quadratic segments become the equivalent cubic ones.
void appendShape(cairo_t* cr, const PathShape& shape) {
    for (const PathFigure& figure : shape.figures) {
        cairo_move_to(cr, figure.start.x, figure.start.y);
        Point current = figure.start;
        for (const PathSegment& segment : figure.segments) {
            if (segment.kind == PathSegment::kQuadratic) {
                const double c1x = current.x + 2.0 / 3.0 * (segment.control.x - current.x);
                const double c1y = current.y + 2.0 / 3.0 * (segment.control.y - current.y);
                const double c2x = segment.end.x + 2.0 / 3.0 * (segment.control.x - segment.end.x);
                const double c2y = segment.end.y + 2.0 / 3.0 * (segment.control.y - segment.end.y);
                cairo_curve_to(cr, c1x, c1y, c2x, c2y, segment.end.x, segment.end.y);
            } else {
                cairo_line_to(cr, segment.end.x, segment.end.y);
            }
            current = segment.end;
        }
        if (figure.closed)
            cairo_close_path(cr);
    }
}

// Tracking is extra space after every character, the last one of a line included; the text engine
// leaves it off at the end of a line, so it is added back.
double trailingTracking(const TextStyle& style) {
    return CairoResources::trackingUnits(style) / static_cast<double>(PANGO_SCALE);
}

double widthWithTrailingSpace(PangoLayout* layout, const TextStyle& style) {
    PangoRectangle logical{};
    pango_layout_get_extents(layout, nullptr, &logical);
    if (logical.width <= 0)
        return 0.0;
    return logical.width / static_cast<double>(PANGO_SCALE) + trailingTracking(style);
}

} // namespace

CairoCanvas::CairoCanvas(CairoResources& resources, cairo_t* cairo, float scale)
    : resources_(resources), cairo_(cairo),
      usable_(cairo != nullptr && finite(scale) && scale > 0.0f &&
              cairo_status(cairo) == CAIRO_STATUS_SUCCESS) {
    if (!usable_)
        return;
    cairo_save(cairo_);
    cairo_scale(cairo_, scale, scale);
    cairo_set_antialias(cairo_, CAIRO_ANTIALIAS_DEFAULT);
}

CairoCanvas::~CairoCanvas() {
    if (usable_)
        cairo_restore(cairo_);
}

void CairoCanvas::setColor(const Color& color) {
    cairo_set_source_rgba(cairo_, color.r, color.g, color.b, color.a);
}

void CairoCanvas::fillRect(float x, float y, float width, float height, const Color& color) {
    if (!usable_ || !finiteBox(x, y, width, height))
        return;
    setColor(color);
    cairo_rectangle(cairo_, x, y, width, height);
    cairo_fill(cairo_);
}

void CairoCanvas::fillRoundedRect(float x, float y, float width, float height, float radius,
                                  const Color& color) {
    if (!usable_ || !finiteBox(x, y, width, height) || !(width > 0.0f) || !(height > 0.0f))
        return;
    setColor(color);
    roundedRectPath(cairo_, x, y, width, height, finite(radius) ? radius : 0.0f);
    cairo_fill(cairo_);
}

void CairoCanvas::strokeRect(float x, float y, float width, float height, float radius,
                             float strokeWidth, const Color& color) {
    if (!usable_ || !finiteBox(x, y, width, height) || !finite(strokeWidth) || strokeWidth <= 0.0f)
        return;
    // The outline runs half a stroke inside the bounds, so the ink covers exactly the bounds.
    const double half = strokeWidth / 2.0;
    const double innerWidth = width - strokeWidth;
    const double innerHeight = height - strokeWidth;
    if (!(innerWidth >= 0.0) || !(innerHeight >= 0.0))
        return;
    const double innerRadius = radius > 0.0f ? std::max(0.0, radius - half) : 0.0;
    setColor(color);
    roundedRectPath(cairo_, x + half, y + half, innerWidth, innerHeight, innerRadius);
    cairo_set_line_width(cairo_, strokeWidth);
    cairo_set_line_join(cairo_, CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cairo_, kMiterLimit);
    cairo_stroke(cairo_);
}

void CairoCanvas::strokePolyline(const Point* points, int32_t count, float strokeWidth,
                                 const Color& color) {
    if (!usable_ || points == nullptr || count < 2 || !finite(strokeWidth) || strokeWidth <= 0.0f)
        return;
    for (int32_t i = 0; i < count; ++i) {
        if (!finite(points[i].x) || !finite(points[i].y))
            return;
    }
    if (resources_.strokes().strokePolyline(cairo_, points, count, strokeWidth, color))
        return;
    setColor(color);
    cairo_move_to(cairo_, points[0].x, points[0].y);
    for (int32_t i = 1; i < count; ++i)
        cairo_line_to(cairo_, points[i].x, points[i].y);
    cairo_set_line_width(cairo_, strokeWidth);
    cairo_set_line_cap(cairo_, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cairo_, CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cairo_, kMiterLimit);
    cairo_stroke(cairo_);
}

bool CairoCanvas::placePath(const char* path, float x, float y, float scale) {
    if (!usable_ || !finite(x) || !finite(y) || !finite(scale) || scale == 0.0f)
        return false;
    const PathShape* shape = resources_.path(path);
    if (shape == nullptr)
        return false;
    // Scale by the path scale first, then move by (x, y), then the canvas's own mapping.
    cairo_save(cairo_);
    cairo_translate(cairo_, x, y);
    cairo_scale(cairo_, scale, scale);
    appendShape(cairo_, *shape);
    return true;
}

void CairoCanvas::fillPath(const char* path, float x, float y, float scale, const Color& color) {
    if (!placePath(path, x, y, scale))
        return;
    setColor(color);
    cairo_set_fill_rule(cairo_, CAIRO_FILL_RULE_WINDING);
    cairo_fill(cairo_);
    cairo_restore(cairo_);
}

void CairoCanvas::strokePath(const char* path, float x, float y, float scale, float strokeWidth,
                             const Color& color) {
    if (!finite(strokeWidth) || strokeWidth <= 0.0f || !placePath(path, x, y, scale))
        return;
    setColor(color);
    // The stroke width is in path units: the path transform is still in place.
    cairo_set_line_width(cairo_, strokeWidth);
    cairo_set_line_cap(cairo_, CAIRO_LINE_CAP_SQUARE);
    cairo_set_line_join(cairo_, CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cairo_, kMiterLimit);
    cairo_set_dash(cairo_, nullptr, 0, 0.0);
    cairo_stroke(cairo_);
    cairo_restore(cairo_);
}

void CairoCanvas::drawText(const char* text, int32_t length, float x, float y,
                           const TextStyle& style, const Color& color, int32_t align) {
    const std::string_view view = textOf(text, length);
    if (!usable_ || view.empty() || !finite(x) || !finite(y))
        return;
    PangoLayout* layout = resources_.layout(view, style, 0.0f, 0.0f);
    if (layout == nullptr)
        return;
    double left = x;
    if (align == kAlignCenter)
        left -= widthWithTrailingSpace(layout, style) / 2.0;
    const double baseline = pango_layout_get_baseline(layout) / static_cast<double>(PANGO_SCALE);
    setColor(color);
    cairo_move_to(cairo_, left, y - baseline);
    pango_cairo_show_layout(cairo_, layout);
    cairo_new_path(cairo_);
}

float CairoCanvas::measureText(const char* text, int32_t length, const TextStyle& style) {
    const std::string_view view = textOf(text, length);
    if (view.empty())
        return 0.0f;
    PangoLayout* layout = resources_.layout(view, style, 0.0f, 0.0f);
    if (layout == nullptr)
        return 0.0f;
    return static_cast<float>(widthWithTrailingSpace(layout, style));
}

float CairoCanvas::blockHeight(PangoLayout* layout, float lineHeight) const {
    if (lineHeight > 0.0f)
        return static_cast<float>(pango_layout_get_line_count(layout)) * lineHeight;
    PangoRectangle logical{};
    pango_layout_get_extents(layout, nullptr, &logical);
    return static_cast<float>(logical.height / static_cast<double>(PANGO_SCALE));
}

float CairoCanvas::drawTextBlock(const char* text, int32_t length, float x, float y, float maxWidth,
                                 float lineHeight, const TextStyle& style, const Color& color) {
    const std::string_view view = textOf(text, length);
    if (!usable_ || view.empty() || !finite(x) || !finite(y) || !finite(lineHeight))
        return 0.0f;
    PangoLayout* layout = resources_.layout(view, style, maxWidth, lineHeight);
    if (layout == nullptr)
        return 0.0f;
    setColor(color);
    if (lineHeight > 0.0f) {
        // Every line exactly lineHeight tall with its baseline at 0.8 of it: the first baseline
        // at y, each further one a line height lower.
        const double top = y - kBaselineFraction * lineHeight;
        GSList* lines = pango_layout_get_lines_readonly(layout);
        int index = 0;
        for (GSList* item = lines; item != nullptr; item = item->next, ++index) {
            const double baseline = top + (index + kBaselineFraction) * lineHeight;
            cairo_move_to(cairo_, x, baseline);
            pango_cairo_show_layout_line(cairo_, static_cast<PangoLayoutLine*>(item->data));
        }
    } else {
        const double baseline =
            pango_layout_get_baseline(layout) / static_cast<double>(PANGO_SCALE);
        cairo_move_to(cairo_, x, y - baseline);
        pango_cairo_show_layout(cairo_, layout);
    }
    cairo_new_path(cairo_);
    return blockHeight(layout, lineHeight);
}

float CairoCanvas::measureTextBlock(const char* text, int32_t length, float maxWidth,
                                    float lineHeight, const TextStyle& style) {
    const std::string_view view = textOf(text, length);
    if (view.empty() || !finite(lineHeight))
        return 0.0f;
    PangoLayout* layout = resources_.layout(view, style, maxWidth, lineHeight);
    if (layout == nullptr)
        return 0.0f;
    return blockHeight(layout, lineHeight);
}

} // namespace tav::ui
