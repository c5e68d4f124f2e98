#include "ui/linux/StrokeRasterizer.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tav::ui {
namespace {

// A join whose miter would reach further than this many half widths is bevelled.
constexpr double kMiterLimit = 10.0;
// Strokes whose box would need more cells than this are left to Cairo.
constexpr size_t kMaxCells = size_t(1) << 22;

// The integral of clamp(v, 0, 1) from minus infinity to z.
double rampArea(double z) {
    if (z <= 0.0)
        return 0.0;
    if (z >= 1.0)
        return z - 0.5;
    return 0.5 * z * z;
}

// The share of pixel column c (covering [c, c+1)) that lies right of an edge running evenly from
// x0 to x1 (x0 <= x1, 1 / (x1 - x0) given, 0 for a vertical edge), averaged over the edge's
// height: exact for a straight edge.
double shareRightOf(double x0, double x1, double inverseWidth, double c) {
    const double t = c + 1.0;
    if (inverseWidth == 0.0)
        return std::clamp(t - x0, 0.0, 1.0);
    return (rampArea(t - x0) - rampArea(t - x1)) * inverseWidth;
}

uint32_t toByte(double v) {
    return static_cast<uint32_t>(std::clamp(v, 0.0, 255.0) + 0.5);
}

// One channel of source over destination, the source taking `weight` of 255: rounded exactly.
uint32_t over(uint32_t source, uint32_t destination, uint32_t weight, uint32_t keep) {
    const uint32_t t = source * weight + destination * keep + 128;
    return (t + (t >> 8)) >> 8;
}

// Lays the colour over pixels [from, to] of a row by their weights; a weight of 0 leaves a pixel
// as it is, so the loop has no branch and the compiler can do several pixels at once.
template <bool kHasAlpha>
void blendSpan(uint32_t* line, const uint8_t* weights, int32_t from, int32_t to, uint32_t red,
               uint32_t green, uint32_t blue) {
    for (int32_t c = from; c <= to; ++c) {
        const uint32_t w = weights[c];
        const uint32_t keep = 255 - w;
        const uint32_t dst = line[c];
        const uint32_t a = kHasAlpha ? over(255, dst >> 24, w, keep) : (dst >> 24);
        line[c] = (a << 24) | (over(red, (dst >> 16) & 0xff, w, keep) << 16) |
                  (over(green, (dst >> 8) & 0xff, w, keep) << 8) | over(blue, dst & 0xff, w, keep);
    }
}

} // namespace

bool StrokeRasterizer::strokePolyline(cairo_t* cairo, const Point* points, int32_t count,
                                      float strokeWidth, const Color& color) {
    cairo_surface_t* target = cairo_get_target(cairo);
    if (count < 2 || cairo_get_group_target(cairo) != target ||
        cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE ||
        cairo_get_operator(cairo) != CAIRO_OPERATOR_OVER)
        return false;
    const cairo_format_t format = cairo_image_surface_get_format(target);
    if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24)
        return false;
    cairo_matrix_t m;
    cairo_get_matrix(cairo, &m);
    if (m.xy != 0.0 || m.yx != 0.0 || !(m.xx > 0.0) || !(m.yy > 0.0))
        return false;

    // Device space is the whole drawing; the image holds the part the device offset names.
    double offsetX = 0.0, offsetY = 0.0;
    cairo_surface_get_device_offset(target, &offsetX, &offsetY);
    const int32_t width = cairo_image_surface_get_width(target);
    const int32_t height = cairo_image_surface_get_height(target);
    double clipX0 = 0.0, clipY0 = 0.0, clipX1 = 0.0, clipY1 = 0.0;
    cairo_clip_extents(cairo, &clipX0, &clipY0, &clipX1, &clipY1);
    cairo_user_to_device(cairo, &clipX0, &clipY0);
    cairo_user_to_device(cairo, &clipX1, &clipY1);
    constexpr double kSlack = 0.5; // clip extents come back through a scale and its inverse
    if (clipX0 > kSlack - offsetX || clipY0 > kSlack - offsetY ||
        clipX1 < width - offsetX - kSlack || clipY1 < height - offsetY - kSlack)
        return false; // a clip inside the image: leave it to Cairo
    if (offsetX != std::floor(offsetX) || offsetY != std::floor(offsetY))
        return false;

    outline(points, count, 0.5 * strokeWidth, m.xx, m.yy, m.x0, m.y0);
    if (!prepareCells())
        return false;
    for (size_t i = 0; i + 1 < left_.size(); ++i) {
        addEdge(left_[i], left_[i + 1]);
        addEdge(right_[i + 1], right_[i]);
    }
    addEdge(left_.back(), right_.back());
    addEdge(right_.front(), left_.front());

    cairo_surface_flush(target);
    blendRows(cairo_image_surface_get_data(target), cairo_image_surface_get_stride(target), width,
              height, static_cast<int32_t>(offsetY), static_cast<int32_t>(offsetX),
              format == CAIRO_FORMAT_ARGB32, color);
    cairo_surface_mark_dirty(target);
    return true;
}

// The stroke's two sides in device pixels, each side point where the offset lines of the two
// segments meet (a miter), and the box around them.
void StrokeRasterizer::outline(const Point* points, int32_t count, double halfWidth, double scaleX,
                               double scaleY, double offsetX, double offsetY) {
    left_.clear();
    right_.clear();
    // Unit normals of the segments, in view units; a segment of no length takes its neighbour's.
    std::vector<DevicePoint>& normals = normals_;
    normals.clear();
    for (int32_t i = 0; i + 1 < count; ++i) {
        const double dx = double(points[i + 1].x) - points[i].x;
        const double dy = double(points[i + 1].y) - points[i].y;
        const double length = std::hypot(dx, dy);
        if (length > 0.0)
            normals.push_back({-dy / length, dx / length});
        else
            normals.push_back(normals.empty() ? DevicePoint{0.0, 1.0} : normals.back());
    }
    const auto device = [&](double x, double y) {
        return DevicePoint{x * scaleX + offsetX, y * scaleY + offsetY};
    };
    for (int32_t i = 0; i < count; ++i) {
        const DevicePoint a = normals[static_cast<size_t>(std::max(i - 1, 0))];
        const DevicePoint b = normals[static_cast<size_t>(std::min(i, count - 2))];
        const double px = points[i].x, py = points[i].y;
        const double cosine = a.x * b.x + a.y * b.y;
        // Miter length over half width is sqrt(2 / (1 + cos)).
        if (1.0 + cosine > 2.0 / (kMiterLimit * kMiterLimit)) {
            const double s = halfWidth / (1.0 + cosine);
            const double mx = (a.x + b.x) * s, my = (a.y + b.y) * s;
            left_.push_back(device(px + mx, py + my));
            right_.push_back(device(px - mx, py - my));
        } else {
            // Bevel: both segments' corners, on both sides (the inner ones overlap the stroke).
            left_.push_back(device(px + a.x * halfWidth, py + a.y * halfWidth));
            left_.push_back(device(px + b.x * halfWidth, py + b.y * halfWidth));
            right_.push_back(device(px - a.x * halfWidth, py - a.y * halfWidth));
            right_.push_back(device(px - b.x * halfWidth, py - b.y * halfWidth));
        }
    }

    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (const auto* side : {&left_, &right_}) {
        for (const DevicePoint& p : *side) {
            x0 = std::min(x0, p.x), y0 = std::min(y0, p.y);
            x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
        }
    }
    boxX0_ = x0, boxY0_ = y0, boxX1_ = x1, boxY1_ = y1;
}

// Sizes the cell rows for the box around the outline; false when it is too large to be worth it.
bool StrokeRasterizer::prepareCells() {
    constexpr double kMaxSide = 1 << 15;
    if (!(boxX1_ - boxX0_ < kMaxSide && boxY1_ - boxY0_ < kMaxSide && std::abs(boxX0_) < kMaxSide &&
          std::abs(boxY0_) < kMaxSide))
        return false;
    boxLeft_ = static_cast<int32_t>(std::floor(boxX0_));
    boxTop_ = static_cast<int32_t>(std::floor(boxY0_));
    boxWidth_ = static_cast<int32_t>(std::ceil(boxX1_)) - boxLeft_ + 2;
    boxHeight_ = static_cast<int32_t>(std::ceil(boxY1_)) - boxTop_ + 1;
    const size_t cells = static_cast<size_t>(boxWidth_) * static_cast<size_t>(boxHeight_);
    if (cells > kMaxCells)
        return false;
    if (cells_.size() < cells)
        cells_.resize(cells, 0.0f); // kept zero: every row is cleared as it is blended
    rowFirst_.assign(static_cast<size_t>(boxHeight_), boxWidth_);
    rowLast_.assign(static_cast<size_t>(boxHeight_), -1);
    return true;
}

// Adds an edge of the outline, walking the pixel rows it crosses. The outline runs one way round,
// so the summed differences along a row give +1 inside the stroke and 0 outside.
void StrokeRasterizer::addEdge(DevicePoint from, DevicePoint to) {
    if (from.y == to.y)
        return;
    const double direction = from.y < to.y ? 1.0 : -1.0;
    const DevicePoint top = from.y < to.y ? from : to;
    const DevicePoint bottom = from.y < to.y ? to : from;
    const double slope = (bottom.x - top.x) / (bottom.y - top.y);
    const auto firstRow = static_cast<int32_t>(std::floor(top.y));
    const auto endRow = static_cast<int32_t>(std::ceil(bottom.y));
    for (int32_t row = firstRow; row < endRow; ++row) {
        const double ya = std::max(top.y, double(row));
        const double yb = std::min(bottom.y, double(row + 1));
        if (yb <= ya)
            continue;
        // Each end's x from the edge's own equation, so no error builds up along the rows.
        const double xa = top.x + (ya - top.y) * slope;
        const double xb = top.x + (yb - top.y) * slope;
        addToRow(row, std::min(xa, xb), std::max(xa, xb), direction * (yb - ya));
    }
}

void StrokeRasterizer::addToRow(int32_t row, double xa, double xb, double area) {
    const int32_t r = row - boxTop_;
    const auto first = static_cast<int32_t>(std::floor(xa));
    const auto last = static_cast<int32_t>(std::ceil(xb));
    float* cells = cells_.data() + static_cast<size_t>(r) * static_cast<size_t>(boxWidth_);
    // Columns the edge crosses from side to side ([inner, outer)) all gain the same; only the
    // columns at its two ends need their exact shares.
    const double inverseWidth = xb - xa < 1e-9 ? 0.0 : 1.0 / (xb - xa);
    const auto exact = [&](int32_t from, int32_t to) {
        double before = area * shareRightOf(xa, xb, inverseWidth, from - 1);
        for (int32_t c = from; c < to; ++c) {
            const double share = area * shareRightOf(xa, xb, inverseWidth, c);
            cells[c - boxLeft_] += static_cast<float>(share - before);
            before = share;
        }
    };
    const auto inner = std::clamp(static_cast<int32_t>(std::ceil(xa + 1.0)), first, last + 1);
    const auto outer = std::clamp(static_cast<int32_t>(std::floor(xb)), inner, last + 1);
    exact(first, inner);
    if (outer > inner) {
        const auto step = static_cast<float>(area * inverseWidth);
        for (int32_t c = inner; c < outer; ++c)
            cells[c - boxLeft_] += step;
    }
    exact(outer, last + 1);
    rowFirst_[static_cast<size_t>(r)] =
        std::min(rowFirst_[static_cast<size_t>(r)], first - boxLeft_);
    rowLast_[static_cast<size_t>(r)] = std::max(rowLast_[static_cast<size_t>(r)], last - boxLeft_);
}

// Sums each row's differences into coverage and lays the colour over the image by it (Cairo's
// premultiplied pixels, OVER, in 8-bit steps), clearing the cells on the way.
void StrokeRasterizer::blendRows(unsigned char* pixels, int32_t stride, int32_t width,
                                 int32_t height, int32_t rowShift, int32_t columnShift,
                                 bool hasAlpha, const Color& color) {
    const float opacity = std::clamp(color.a, 0.0f, 1.0f) * 255.0f;
    const uint32_t red = toByte(std::clamp(color.r, 0.0f, 1.0f) * 255.0);
    const uint32_t green = toByte(std::clamp(color.g, 0.0f, 1.0f) * 255.0);
    const uint32_t blue = toByte(std::clamp(color.b, 0.0f, 1.0f) * 255.0);
    for (int32_t r = 0; r < boxHeight_; ++r) {
        const size_t rowIndex = static_cast<size_t>(r);
        const int32_t first = rowFirst_[rowIndex];
        const int32_t last = rowLast_[rowIndex];
        if (last < first)
            continue;
        float* cells = cells_.data() + rowIndex * static_cast<size_t>(boxWidth_);
        const int32_t y = boxTop_ + r + rowShift;
        if (y < 0 || y >= height) {
            std::fill(cells + first, cells + last + 1, 0.0f);
            continue;
        }
        // First the coverage of the whole row, then the blend over the columns the image has:
        // a plain loop over whole rows of pixels (a weight of 0 leaves a pixel as it is).
        weights_.resize(static_cast<size_t>(last - first + 1));
        float sum = 0.0f;
        for (int32_t c = first; c <= last; ++c) {
            sum += cells[c];
            cells[c] = 0.0f;
            weights_[static_cast<size_t>(c - first)] =
                static_cast<uint8_t>(std::min(std::abs(sum), 1.0f) * opacity + 0.5f);
        }
        const int32_t from = std::max(first, -boxLeft_ - columnShift);
        const int32_t to = std::min(last, width - 1 - boxLeft_ - columnShift);
        auto* line = reinterpret_cast<uint32_t*>(pixels + static_cast<std::ptrdiff_t>(y) * stride) +
                     boxLeft_ + columnShift;
        const uint8_t* weight = weights_.data() - first;
        if (hasAlpha)
            blendSpan<true>(line, weight, from, to, red, green, blue);
        else
            blendSpan<false>(line, weight, from, to, red, green, blue);
    }
}

} // namespace tav::ui
