#include "ui/linux/StrokeRasterizer.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace tav::ui {
namespace {

constexpr int kSize = 200;

// Cairo's own stroke of the same polyline, as the reference.
void cairoStroke(cairo_t* cairo, const std::vector<Point>& points, float width, const Color& c) {
    cairo_move_to(cairo, points[0].x, points[0].y);
    for (size_t i = 1; i < points.size(); ++i)
        cairo_line_to(cairo, points[i].x, points[i].y);
    cairo_set_source_rgba(cairo, c.r, c.g, c.b, c.a);
    cairo_set_line_width(cairo, width);
    cairo_set_line_cap(cairo, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cairo, CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cairo, 10.0);
    cairo_stroke(cairo);
}

struct Difference {
    int largest = 0;
    double mean = 0.0;
};

Difference compare(cairo_surface_t* a, cairo_surface_t* b) {
    Difference result;
    long total = 0;
    const int stride = cairo_image_surface_get_stride(a);
    for (int y = 0; y < kSize; ++y) {
        const auto* rowA =
            reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(a) + y * stride);
        const auto* rowB =
            reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(b) + y * stride);
        for (int x = 0; x < kSize; ++x) {
            for (int shift = 0; shift < 32; shift += 8) {
                const int d =
                    std::abs(int((rowA[x] >> shift) & 0xff) - int((rowB[x] >> shift) & 0xff));
                result.largest = std::max(result.largest, d);
                total += d;
            }
        }
    }
    result.mean = double(total) / (kSize * kSize * 4);
    return result;
}

// Long gentle curves, sharp zigzags (bevelled joins), steep and repeated points, in opaque and
// translucent colours on opaque and transparent images: the coverage agrees with Cairo's up to
// its sampling error.
TEST(StrokeRasterizerTest, AgreesWithCairosStroke) {
    std::vector<Point> curve, zigzag, steep;
    for (int i = 0; i <= 40; ++i) {
        const float t = float(i) / 40.0f;
        curve.push_back({10.0f + 170.0f * t, 100.0f + 60.0f * std::sin(t * 5.0f)});
    }
    for (int i = 0; i <= 8; ++i)
        zigzag.push_back({20.0f + 20.0f * i, i % 2 == 0 ? 40.0f : 60.0f + 2.0f * i});
    steep = {{50.0f, 5.0f}, {52.0f, 190.0f}, {52.0f, 190.0f}, {150.0f, 20.0f}};

    StrokeRasterizer rasterizer;
    for (const cairo_format_t format : {CAIRO_FORMAT_RGB24, CAIRO_FORMAT_ARGB32}) {
        for (const float scale : {1.0f, 1.5f}) {
            for (const auto* points : {&curve, &zigzag, &steep}) {
                for (const Color color :
                     {Color{0.05f, 0.05f, 0.04f, 1.0f}, Color{1.0f, 0.3f, 0.1f, 0.6f}}) {
                    cairo_surface_t* ours = cairo_image_surface_create(format, kSize, kSize);
                    cairo_surface_t* theirs = cairo_image_surface_create(format, kSize, kSize);
                    cairo_t* a = cairo_create(ours);
                    cairo_t* b = cairo_create(theirs);
                    if (format == CAIRO_FORMAT_RGB24) {
                        for (cairo_t* c : {a, b}) {
                            cairo_set_source_rgb(c, 0.9, 0.9, 0.85);
                            cairo_paint(c);
                        }
                    }
                    cairo_scale(a, scale, scale);
                    cairo_scale(b, scale, scale);
                    const float width = points == &steep ? 3.0f : 1.4f;
                    EXPECT_TRUE(rasterizer.strokePolyline(a, points->data(),
                                                          int32_t(points->size()), width, color));
                    cairoStroke(b, *points, width, color);
                    cairo_surface_flush(ours);
                    cairo_surface_flush(theirs);
                    const Difference d = compare(ours, theirs);
                    EXPECT_LE(d.largest, 40) << format << " " << scale << " " << points->size();
                    EXPECT_LT(d.mean, 0.5) << format << " " << scale << " " << points->size();
                    cairo_destroy(a);
                    cairo_destroy(b);
                    cairo_surface_destroy(ours);
                    cairo_surface_destroy(theirs);
                }
            }
        }
    }
}

// What it cannot draw exactly it leaves to the caller.
TEST(StrokeRasterizerTest, DeclinesClipsRotationsAndOtherSurfaces) {
    StrokeRasterizer rasterizer;
    const Point line[2] = {{10.0f, 10.0f}, {90.0f, 50.0f}};
    const Color ink{0.0f, 0.0f, 0.0f, 1.0f};
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 100, 100);
    cairo_t* cairo = cairo_create(image);
    cairo_save(cairo);
    cairo_rectangle(cairo, 0, 0, 50, 50);
    cairo_clip(cairo);
    EXPECT_FALSE(rasterizer.strokePolyline(cairo, line, 2, 1.0f, ink));
    cairo_restore(cairo);
    cairo_save(cairo);
    cairo_rotate(cairo, 0.3);
    EXPECT_FALSE(rasterizer.strokePolyline(cairo, line, 2, 1.0f, ink));
    cairo_restore(cairo);
    cairo_push_group(cairo);
    EXPECT_FALSE(rasterizer.strokePolyline(cairo, line, 2, 1.0f, ink));
    cairo_pattern_destroy(cairo_pop_group(cairo));
    cairo_surface_t* a8 = cairo_image_surface_create(CAIRO_FORMAT_A8, 100, 100);
    cairo_t* mask = cairo_create(a8);
    EXPECT_FALSE(rasterizer.strokePolyline(mask, line, 2, 1.0f, ink));
    cairo_destroy(mask);
    cairo_surface_destroy(a8);
    EXPECT_TRUE(rasterizer.strokePolyline(cairo, line, 2, 1.0f, ink));
    cairo_destroy(cairo);
    cairo_surface_destroy(image);
}

} // namespace
} // namespace tav::ui
