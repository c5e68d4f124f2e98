#include "ui/Wordmark.h"
#include "ui/PathParser.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tav::ui {
namespace {

// Every point of the wordmark, control points included.
struct Extent {
    float left = 1e9f, top = 1e9f, right = -1e9f, bottom = -1e9f;
    void add(Point p) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    }
};

TEST(Wordmark, IsAValidFilledPathOfClosedLetters) {
    const auto shape = PathParser::parse(kWordmarkPath);
    ASSERT_TRUE(shape);
    // "Tavimo": at least one outline per letter, the i with its dot, a, o with counters.
    EXPECT_GE(shape->figures.size(), 9u);
    for (const PathFigure& figure : shape->figures)
        EXPECT_TRUE(figure.closed);
}

TEST(Wordmark, FillsItsExtentOnTheBaseline) {
    const auto shape = PathParser::parse(kWordmarkPath);
    ASSERT_TRUE(shape);
    Extent extent;
    for (const PathFigure& figure : shape->figures) {
        extent.add(figure.start);
        for (const PathSegment& segment : figure.segments) {
            if (segment.kind == PathSegment::kQuadratic)
                extent.add(segment.control);
            extent.add(segment.end);
        }
    }
    EXPECT_NEAR(extent.left, 2.4f, 0.01f);
    EXPECT_NEAR(extent.right, 1054.9f, 0.01f);
    EXPECT_NEAR(extent.top, -68.2f, 0.01f);
    EXPECT_NEAR(extent.bottom, 0.6f, 0.01f);
    // At the top bar's scale it stays inside the wordmark's hit area, x 16..243.41.
    EXPECT_GE(16.0f + extent.left * 3.0f / 14.0f, 16.0f);
    EXPECT_LE(16.0f + extent.right * 3.0f / 14.0f, 243.41072f);
}

} // namespace
} // namespace tav::ui
