#include "ui/linux/RetainedFrame.h"

#include "ui/linux/CairoCanvas.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tav::ui {
namespace {

// Anti-aliasing reaches a pixel beyond a shape's edge; one more absorbs rounding.
constexpr float kEdgePixels = 2.0f;
// How far a miter join may reach beyond its point, in stroke widths (miter limit 10 / 2).
constexpr float kMiterReach = 5.0f;
// Beyond this many separate bands the damage is merged further: each band replays the
// operations over it.
constexpr size_t kMaxDamageRects = 12;

constexpr float kHuge = std::numeric_limits<float>::max();

// A box in view units, grown as points are added.
struct Box {
    float x0 = kHuge, y0 = kHuge, x1 = -kHuge, y1 = -kHuge;
    void add(float x, float y) {
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    }
    void grow(float by) { x0 -= by, y0 -= by, x1 += by, y1 += by; }
    bool empty() const { return !(x0 <= x1 && y0 <= y1); }
};

PixelRect toPixels(Box box, float scale, int32_t width, int32_t height) {
    const PixelRect whole{0, 0, width, height};
    if (box.empty())
        return {};
    const auto clampX = [width](float v) { return std::clamp(v, 0.0f, float(width)); };
    const auto clampY = [height](float v) { return std::clamp(v, 0.0f, float(height)); };
    const float x0 = std::floor(box.x0 * scale - kEdgePixels);
    const float y0 = std::floor(box.y0 * scale - kEdgePixels);
    const float x1 = std::ceil(box.x1 * scale + kEdgePixels);
    const float y1 = std::ceil(box.y1 * scale + kEdgePixels);
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
        return whole; // cannot tell: assume everywhere
    return {int32_t(clampX(x0)), int32_t(clampY(y0)), int32_t(clampX(x1)), int32_t(clampY(y1))};
}

bool isEmpty(const PixelRect& r) {
    return r.x1 <= r.x0 || r.y1 <= r.y0;
}

bool overlaps(const PixelRect& a, const PixelRect& b) {
    return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

PixelRect unite(const PixelRect& a, const PixelRect& b) {
    return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

int64_t area(const PixelRect& r) {
    return int64_t(r.width()) * r.height();
}

bool sameColor(const Color& a, const Color& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}

bool sameStyle(const TextStyle& a, const TextStyle& b) {
    return a.family == b.family && a.size == b.size && a.weight == b.weight && a.width == b.width &&
           a.italic == b.italic && a.tracking == b.tracking;
}

void addShape(Box& box, const PathShape& shape, float x, float y, float scale) {
    const auto add = [&](Point p) { box.add(x + scale * p.x, y + scale * p.y); };
    for (const PathFigure& figure : shape.figures) {
        add(figure.start);
        for (const PathSegment& segment : figure.segments) {
            add(segment.end);
            if (segment.kind == PathSegment::kQuadratic)
                add(segment.control); // a quadratic curve stays inside its control triangle
        }
    }
}

// The layout's ink and logical extents together, in view units relative to its origin.
Box layoutBox(PangoLayout* layout) {
    PangoRectangle ink{}, logical{};
    pango_layout_get_extents(layout, &ink, &logical);
    Box box;
    for (const PangoRectangle& r : {ink, logical}) {
        box.add(float(r.x) / PANGO_SCALE, float(r.y) / PANGO_SCALE);
        box.add(float(r.x + r.width) / PANGO_SCALE, float(r.y + r.height) / PANGO_SCALE);
    }
    return box;
}

// Records what the view paints, with the pixels each operation may touch; measures through a
// canvas without a surface, which gives the same answers as the drawing one.
class Recorder final : public Canvas {
public:
    Recorder(std::vector<RetainedFrame::Op>& ops, CairoResources& resources, float scale,
             int32_t width, int32_t height)
        : ops_(ops), resources_(resources), measure_(resources, nullptr, 1.0f), scale_(scale),
          width_(width), height_(height) {}

    void fillRect(float x, float y, float w, float h, const Color& color) override {
        Box box;
        box.add(x, y), box.add(x + w, y + h);
        push(RetainedFrame::Op::kFillRect, {x, y, w, h}, color, box);
    }
    void fillRoundedRect(float x, float y, float w, float h, float radius,
                         const Color& color) override {
        Box box;
        box.add(x, y), box.add(x + w, y + h);
        push(RetainedFrame::Op::kFillRoundedRect, {x, y, w, h, radius}, color, box);
    }
    void strokeRect(float x, float y, float w, float h, float radius, float strokeWidth,
                    const Color& color) override {
        Box box;
        box.add(x, y), box.add(x + w, y + h);
        push(RetainedFrame::Op::kStrokeRect, {x, y, w, h, radius, strokeWidth}, color, box);
    }
    void strokePolyline(const Point* points, int32_t count, float strokeWidth,
                        const Color& color) override {
        Box box;
        for (int32_t i = 0; points != nullptr && i < count; ++i)
            box.add(points[i].x, points[i].y);
        box.grow(kMiterReach * std::abs(strokeWidth));
        RetainedFrame::Op& op = push(RetainedFrame::Op::kPolyline, {strokeWidth}, color, box);
        if (points != nullptr && count > 0)
            op.points.assign(points, points + count);
    }
    void fillPath(const char* path, float x, float y, float scale, const Color& color) override {
        pushPath(RetainedFrame::Op::kFillPath, path, {x, y, scale}, 0.0f, color);
    }
    void strokePath(const char* path, float x, float y, float scale, float strokeWidth,
                    const Color& color) override {
        pushPath(RetainedFrame::Op::kStrokePath, path, {x, y, scale, strokeWidth},
                 kMiterReach * std::abs(strokeWidth * scale), color);
    }
    void drawText(const char* text, int32_t length, float x, float y, const TextStyle& style,
                  const Color& color, int32_t align) override {
        Box box;
        if (PangoLayout* layout = layoutOf(text, length, style, 0.0f, 0.0f)) {
            const Box extents = layoutBox(layout);
            const float baseline = float(pango_layout_get_baseline(layout)) / PANGO_SCALE;
            // Centred text moves left by half its width: somewhere between 0 and all of it.
            const float shift = align == kAlignCenter ? std::max(extents.x1, 0.0f) : 0.0f;
            box.add(x - shift + extents.x0, y - baseline + extents.y0);
            box.add(x + extents.x1, y - baseline + extents.y1);
            box.grow(std::abs(style.size * style.tracking) + 1.0f);
        }
        RetainedFrame::Op& op = push(RetainedFrame::Op::kText, {x, y}, color, box);
        op.style = style;
        op.align = align;
        op.text.assign(text != nullptr && length > 0 ? text : "", std::max(length, 0));
    }
    float measureText(const char* text, int32_t length, const TextStyle& style) override {
        return measure_.measureText(text, length, style);
    }
    float drawTextBlock(const char* text, int32_t length, float x, float y, float maxWidth,
                        float lineHeight, const TextStyle& style, const Color& color) override {
        Box box;
        if (PangoLayout* layout = layoutOf(text, length, style, maxWidth, lineHeight)) {
            const Box extents = layoutBox(layout);
            const float lines = float(pango_layout_get_line_count(layout));
            const float reach = std::max(lineHeight, style.size) * (lines + 1.0f);
            box.add(x + extents.x0, y - reach);
            box.add(x + extents.x1, y + reach);
            box.grow(std::abs(style.size * style.tracking) + 1.0f);
        }
        RetainedFrame::Op& op =
            push(RetainedFrame::Op::kTextBlock, {x, y, maxWidth, lineHeight}, color, box);
        op.style = style;
        op.text.assign(text != nullptr && length > 0 ? text : "", std::max(length, 0));
        if (!std::isfinite(x) || !std::isfinite(y))
            return 0.0f; // drawn nowhere, measured as nothing, as the drawing canvas does
        return measure_.measureTextBlock(text, length, maxWidth, lineHeight, style);
    }
    float measureTextBlock(const char* text, int32_t length, float maxWidth, float lineHeight,
                           const TextStyle& style) override {
        return measure_.measureTextBlock(text, length, maxWidth, lineHeight, style);
    }

private:
    RetainedFrame::Op& push(RetainedFrame::Op::Kind kind, std::initializer_list<float> values,
                            const Color& color, const Box& box) {
        RetainedFrame::Op& op = ops_.emplace_back();
        op.kind = kind;
        std::copy(values.begin(), values.end(), op.v);
        op.color = color;
        op.bounds = toPixels(box, scale_, width_, height_);
        return op;
    }

    void pushPath(RetainedFrame::Op::Kind kind, const char* path,
                  std::initializer_list<float> values, float reach, const Color& color) {
        Box box;
        const float* v = values.begin();
        if (const PathShape* shape = resources_.path(path))
            addShape(box, *shape, v[0], v[1], v[2]);
        box.grow(reach);
        push(kind, values, color, box).path = path;
    }

    PangoLayout* layoutOf(const char* text, int32_t length, const TextStyle& style, float maxWidth,
                          float lineHeight) {
        if (text == nullptr || length <= 0)
            return nullptr;
        return resources_.layout({text, size_t(length)}, style, maxWidth, lineHeight);
    }

    std::vector<RetainedFrame::Op>& ops_;
    CairoResources& resources_;
    CairoCanvas measure_;
    float scale_;
    int32_t width_;
    int32_t height_;
};

void replay(const RetainedFrame::Op& op, CairoCanvas& canvas) {
    const float* v = op.v;
    const auto length = static_cast<int32_t>(op.text.size());
    switch (op.kind) {
    case RetainedFrame::Op::kFillRect:
        canvas.fillRect(v[0], v[1], v[2], v[3], op.color);
        break;
    case RetainedFrame::Op::kFillRoundedRect:
        canvas.fillRoundedRect(v[0], v[1], v[2], v[3], v[4], op.color);
        break;
    case RetainedFrame::Op::kStrokeRect:
        canvas.strokeRect(v[0], v[1], v[2], v[3], v[4], v[5], op.color);
        break;
    case RetainedFrame::Op::kPolyline:
        canvas.strokePolyline(op.points.data(), static_cast<int32_t>(op.points.size()), v[0],
                              op.color);
        break;
    case RetainedFrame::Op::kFillPath:
        canvas.fillPath(op.path, v[0], v[1], v[2], op.color);
        break;
    case RetainedFrame::Op::kStrokePath:
        canvas.strokePath(op.path, v[0], v[1], v[2], v[3], op.color);
        break;
    case RetainedFrame::Op::kText:
        canvas.drawText(op.text.data(), length, v[0], v[1], op.style, op.color, op.align);
        break;
    case RetainedFrame::Op::kTextBlock:
        canvas.drawTextBlock(op.text.data(), length, v[0], v[1], v[2], v[3], op.style, op.color);
        break;
    }
}

} // namespace

bool RetainedFrame::Op::operator==(const Op& other) const {
    if (kind != other.kind || align != other.align || path != other.path ||
        !sameColor(color, other.color) || !sameStyle(style, other.style) || text != other.text ||
        points.size() != other.points.size())
        return false;
    // Bit-wise, so that a NaN compares equal to itself and a changed one is always noticed.
    return std::memcmp(v, other.v, sizeof(v)) == 0 &&
           (points.empty() ||
            std::memcmp(points.data(), other.points.data(), points.size() * sizeof(Point)) == 0);
}

const std::vector<PixelRect>& RetainedFrame::paint(Window& view, CairoResources& resources,
                                                   cairo_surface_t* surface, float scale) {
    const int32_t width = cairo_image_surface_get_width(surface);
    const int32_t height = cairo_image_surface_get_height(surface);
    current_.clear();
    {
        Recorder recorder(current_, resources, scale, width, height);
        view.paint(recorder);
    }

    damage_.clear();
    const bool fresh =
        surface != surface_ || scale != scale_ || width != width_ || height != height_;
    surface_ = surface;
    scale_ = scale;
    width_ = width;
    height_ = height;
    if (fresh) {
        damage_.push_back({0, 0, width, height});
    } else {
        const size_t common = std::min(previous_.size(), current_.size());
        for (size_t i = 0; i < common; ++i) {
            if (!(previous_[i] == current_[i])) {
                addDamage(previous_[i].bounds);
                addDamage(current_[i].bounds);
            }
        }
        for (size_t i = common; i < previous_.size(); ++i)
            addDamage(previous_[i].bounds);
        for (size_t i = common; i < current_.size(); ++i)
            addDamage(current_[i].bounds);
        mergeDamage();
    }

    cairo_surface_flush(surface);
    for (const PixelRect& rect : damage_)
        repaint(rect, resources, surface, scale);
    cairo_surface_mark_dirty(surface);
    resources.finishFrame();

    std::swap(previous_, current_);
    return damage_;
}

// Damage is kept as bands of whole rows: a stroke cut by an image edge on its left or right is
// rasterised slightly differently near that edge, while a cut above or below changes nothing.
// Overlapping bands become one as they come in.
void RetainedFrame::addDamage(PixelRect rect) {
    if (isEmpty(rect))
        return;
    rect.x0 = 0, rect.x1 = width_;
    for (size_t i = 0; i < damage_.size();) {
        if (overlaps(damage_[i], rect)) {
            rect = unite(rect, damage_[i]);
            damage_[i] = damage_.back();
            damage_.pop_back();
            i = 0; // the grown rectangle may now meet one passed already
        } else {
            ++i;
        }
    }
    damage_.push_back(rect);
}

// Joins the pair that grows least until few rectangles are left.
void RetainedFrame::mergeDamage() {
    while (damage_.size() > kMaxDamageRects) {
        size_t bestI = 0, bestJ = 1;
        int64_t bestGrowth = std::numeric_limits<int64_t>::max();
        for (size_t i = 0; i < damage_.size(); ++i) {
            for (size_t j = i + 1; j < damage_.size(); ++j) {
                const int64_t growth =
                    area(unite(damage_[i], damage_[j])) - area(damage_[i]) - area(damage_[j]);
                if (growth < bestGrowth)
                    bestGrowth = growth, bestI = i, bestJ = j;
            }
        }
        const PixelRect joined = unite(damage_[bestI], damage_[bestJ]);
        damage_.erase(damage_.begin() + static_cast<std::ptrdiff_t>(bestJ));
        damage_.erase(damage_.begin() + static_cast<std::ptrdiff_t>(bestI));
        addDamage(joined);
    }
}

// Draws into an image of just the rectangle over the same pixels, not through a clip: the image's
// edges limit drawing exactly as the whole image's do, so the pixels come out as in a full
// repaint (a clip would send edges through another rasteriser).
void RetainedFrame::repaint(const PixelRect& rect, CairoResources& resources,
                            cairo_surface_t* surface, float scale) const {
    const int stride = cairo_image_surface_get_stride(surface);
    unsigned char* corner = cairo_image_surface_get_data(surface) + rect.y0 * stride + rect.x0 * 4;
    cairo_surface_t* part = cairo_image_surface_create_for_data(
        corner, cairo_image_surface_get_format(surface), rect.width(), rect.height(), stride);
    cairo_surface_set_device_offset(part, -rect.x0, -rect.y0);
    cairo_t* cairo = cairo_create(part);
    {
        CairoCanvas canvas(resources, cairo, scale);
        for (const Op& op : current_) {
            if (overlaps(op.bounds, rect))
                replay(op, canvas);
        }
    }
    cairo_destroy(cairo);
    cairo_surface_finish(part);
    cairo_surface_destroy(part);
}

} // namespace tav::ui
