#pragma once

#include "ui/Canvas.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace tav::ui::test {

// A canvas that draws nothing and records every call, with simple predictable text metrics:
// every character advances 0.5 x size, and a block wraps by that advance.
class RecordingCanvas : public Canvas {
public:
    enum class Op {
        FillRect,
        FillRoundedRect,
        StrokeRect,
        StrokePolyline,
        FillPath,
        StrokePath,
        DrawText,
        MeasureText,
        DrawTextBlock,
        MeasureTextBlock,
    };

    struct Call {
        Op op = Op::FillRect;
        float x = 0, y = 0, w = 0, h = 0;
        float radius = 0;
        float stroke = 0;
        float scale = 0;
        float maxWidth = 0;
        float lineHeight = 0;
        Color color;
        std::string text; // text or path string
        TextStyle style;
        int32_t align = 0;
        std::vector<Point> points;
    };

    static constexpr float kAdvancePerSize = 0.5f;

    static float widthOf(const std::string& text, const TextStyle& style) {
        return static_cast<float>(text.size()) * kAdvancePerSize * style.size;
    }

    static float blockHeight(const std::string& text, float maxWidth, float lineHeight,
                             const TextStyle& style) {
        const float width = widthOf(text, style);
        const float lines = maxWidth > 0 ? std::max(1.0f, std::ceil(width / maxWidth)) : 1.0f;
        return lines * lineHeight;
    }

    void fillRect(float x, float y, float w, float h, const Color& c) override {
        push(start(Op::FillRect, x, y, w, h), c);
    }
    void fillRoundedRect(float x, float y, float w, float h, float r, const Color& c) override {
        Call call = start(Op::FillRoundedRect, x, y, w, h);
        call.radius = r;
        push(call, c);
    }
    void strokeRect(float x, float y, float w, float h, float r, float s, const Color& c) override {
        Call call = start(Op::StrokeRect, x, y, w, h);
        call.radius = r;
        call.stroke = s;
        push(call, c);
    }
    void strokePolyline(const Point* p, int32_t n, float s, const Color& c) override {
        Call call = start(Op::StrokePolyline);
        call.points.assign(p, p + n);
        call.stroke = s;
        push(call, c);
    }
    void fillPath(const char* path, float x, float y, float scale, const Color& c) override {
        Call call = start(Op::FillPath, x, y);
        call.text = path;
        call.scale = scale;
        push(call, c);
    }
    void strokePath(const char* path, float x, float y, float scale, float s,
                    const Color& c) override {
        Call call = start(Op::StrokePath, x, y);
        call.text = path;
        call.scale = scale;
        call.stroke = s;
        push(call, c);
    }
    void drawText(const char* text, int32_t length, float x, float y, const TextStyle& style,
                  const Color& c, int32_t align) override {
        Call call = start(Op::DrawText, x, y);
        call.text.assign(text, static_cast<size_t>(length));
        call.style = style;
        call.align = align;
        push(call, c);
    }
    float measureText(const char* text, int32_t length, const TextStyle& style) override {
        Call call = start(Op::MeasureText);
        call.text.assign(text, static_cast<size_t>(length));
        call.style = style;
        push(call, Color{});
        return widthOf(call.text, style);
    }
    float drawTextBlock(const char* text, int32_t length, float x, float y, float maxWidth,
                        float lineHeight, const TextStyle& style, const Color& c) override {
        Call call = start(Op::DrawTextBlock, x, y);
        call.text.assign(text, static_cast<size_t>(length));
        call.maxWidth = maxWidth;
        call.lineHeight = lineHeight;
        call.style = style;
        push(call, c);
        return blockHeight(call.text, maxWidth, lineHeight, style);
    }
    float measureTextBlock(const char* text, int32_t length, float maxWidth, float lineHeight,
                           const TextStyle& style) override {
        Call call = start(Op::MeasureTextBlock);
        call.text.assign(text, static_cast<size_t>(length));
        call.maxWidth = maxWidth;
        call.lineHeight = lineHeight;
        call.style = style;
        push(call, Color{});
        return blockHeight(call.text, maxWidth, lineHeight, style);
    }

    // Index of the first call of the kind whose text equals `text`, or -1.
    int indexOfText(const std::string& text, Op op = Op::DrawText) const {
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i].op == op && calls[i].text == text)
                return static_cast<int>(i);
        return -1;
    }
    const Call* text(const std::string& text) const {
        const int i = indexOfText(text);
        return i < 0 ? nullptr : &calls[static_cast<size_t>(i)];
    }
    // Index of the first call of `op` at (x, y, w, h) (within 1e-3), or -1.
    int indexOfRect(Op op, float x, float y, float w, float h) const {
        for (size_t i = 0; i < calls.size(); ++i) {
            const Call& c = calls[i];
            if (c.op == op && near(c.x, x) && near(c.y, y) && near(c.w, w) && near(c.h, h))
                return static_cast<int>(i);
        }
        return -1;
    }
    const Call* rect(Op op, float x, float y, float w, float h) const {
        const int i = indexOfRect(op, x, y, w, h);
        return i < 0 ? nullptr : &calls[static_cast<size_t>(i)];
    }
    int count(Op op) const {
        int n = 0;
        for (const Call& c : calls)
            n += c.op == op ? 1 : 0;
        return n;
    }
    // Rectangle fills of the given size, wherever they are.
    int countFillsOfSize(float w, float h) const {
        int n = 0;
        for (const Call& c : calls)
            n += c.op == Op::FillRect && near(c.w, w) && near(c.h, h) ? 1 : 0;
        return n;
    }

    std::vector<Call> calls;

private:
    static Call start(Op op, float x = 0, float y = 0, float w = 0, float h = 0) {
        Call call;
        call.op = op;
        call.x = x;
        call.y = y;
        call.w = w;
        call.h = h;
        return call;
    }
    static bool near(float a, float b) { return std::fabs(a - b) < 1e-3f; }
    void push(Call call, const Color& c) {
        call.color = c;
        calls.push_back(std::move(call));
    }
};

inline bool sameColor(const Color& a, const Color& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}

} // namespace tav::ui::test
