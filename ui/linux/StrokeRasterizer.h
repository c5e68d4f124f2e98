#pragma once

#include "ui/Canvas.h"

#include <cstdint>
#include <vector>

typedef struct _cairo cairo_t;

namespace tav::ui {

// Strokes open polylines (flat caps, miter joins, miter limit 10) straight into a Cairo image,
// several times faster than Cairo's general rasteriser for the long thin lines of the morph
// field. Coverage is the exact area of each pixel inside the stroke's outline. Every pixel is
// computed from the stroke's place on the whole drawing, not from the part being drawn, so
// drawing into an image of a few rows (with a device offset) gives the same pixels as drawing
// the whole. UI thread; keeps its buffers between strokes.
class StrokeRasterizer {
public:
    // UI thread; allocates while the buffers grow. Draws on the context's target when it is an
    // ARGB32 or RGB24 image without clip, transformed by scale and translation only, with the
    // default operator; false (and nothing drawn) otherwise, for the caller to stroke instead.
    bool strokePolyline(cairo_t* cairo, const Point* points, int32_t count, float strokeWidth,
                        const Color& color);

private:
    struct DevicePoint {
        double x, y;
    };
    void outline(const Point* points, int32_t count, double halfWidth, double scaleX, double scaleY,
                 double offsetX, double offsetY);
    bool prepareCells();
    void addEdge(DevicePoint from, DevicePoint to);
    void addToRow(int32_t row, double xa, double xb, double area);
    void blendRows(unsigned char* pixels, int32_t stride, int32_t width, int32_t height,
                   int32_t rowShift, int32_t columnShift, bool hasAlpha, const Color& color);

    std::vector<DevicePoint> normals_;
    std::vector<DevicePoint> left_;
    std::vector<DevicePoint> right_;
    // Coverage differences, one row of the stroke's box per pixel row, summed along each row.
    std::vector<float> cells_;
    std::vector<uint8_t> weights_; // one row's coverage times the colour's opacity, 0..255
    std::vector<int32_t> rowFirst_;
    std::vector<int32_t> rowLast_;
    double boxX0_ = 0.0, boxY0_ = 0.0, boxX1_ = 0.0, boxY1_ = 0.0;
    int32_t boxLeft_ = 0;
    int32_t boxTop_ = 0;
    int32_t boxWidth_ = 0;
    int32_t boxHeight_ = 0;
};

} // namespace tav::ui
