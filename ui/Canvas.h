#pragma once

#include <cstdint>

namespace tav::ui {

// Colour channels 0..1.
struct Color {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    float a = 1.0f;
};

// Font families of the product; any other value draws as Mono.
enum FontFamily : int32_t {
    kFontMono = 0,  // "Departure Mono"
    kFontSans = 1,  // "Anybody"
    kFontSerif = 2, // "Bodoni Moda", always italic
};

struct TextStyle {
    int32_t family = kFontMono;
    float size = 12.0f;    // em height in view units
    float weight = 400.0f; // variable weight axis (Sans and Serif)
    float width = 100.0f;  // variable width axis, Sans only, clamped 50..150
    uint8_t italic = 0;    // Serif is always italic; the flag only tells styles apart
    float tracking = 0.0f; // extra space after every character, as a fraction of size
};

// Alignment of drawText; any other value behaves as Left.
enum TextAlign : int32_t {
    kAlignLeft = 0,
    kAlignCenter = 1,
};

struct Point {
    float x = 0.0f;
    float y = 0.0f;
};

// The drawing surface the view paints on, once per frame, in view units (760 x 500).
// Drawing fails silently: an operation that cannot make its resource draws nothing and
// measuring operations then return 0. UI thread only.
class Canvas {
public:
    // Releases what the implementation holds for the frame.
    virtual ~Canvas() = default;

    // The rectangle from (x, y) to (x + width, y + height).
    virtual void fillRect(float x, float y, float width, float height, const Color& color) = 0;
    virtual void fillRoundedRect(float x, float y, float width, float height, float radius,
                                 const Color& color) = 0;
    // The whole stroke stays inside the bounds; corner radius max(0, radius - strokeWidth/2).
    virtual void strokeRect(float x, float y, float width, float height, float radius,
                            float strokeWidth, const Color& color) = 0;
    // Open line, flat caps, miter joins; fewer than two points draw nothing.
    virtual void strokePolyline(const Point* points, int32_t count, float strokeWidth,
                                const Color& color) = 0;
    // Path point p is placed at (x, y) + scale * p; non-zero winding.
    virtual void fillPath(const char* path, float x, float y, float scale, const Color& color) = 0;
    // As fillPath; the stroke width is in path units. Square caps, miter joins (limit 10).
    virtual void strokePath(const char* path, float x, float y, float scale, float strokeWidth,
                            const Color& color) = 0;
    // One unwrapped line with its baseline at y.
    virtual void drawText(const char* text, int32_t length, float x, float y,
                          const TextStyle& style, const Color& color, int32_t align) = 0;
    // Advance width as one line, trailing spaces included.
    virtual float measureText(const char* text, int32_t length, const TextStyle& style) = 0;
    // Wrapped at maxWidth (> 0), lines lineHeight tall (> 0), first baseline at y; returns height.
    virtual float drawTextBlock(const char* text, int32_t length, float x, float y, float maxWidth,
                                float lineHeight, const TextStyle& style, const Color& color) = 0;
    virtual float measureTextBlock(const char* text, int32_t length, float maxWidth,
                                   float lineHeight, const TextStyle& style) = 0;
};

} // namespace tav::ui
