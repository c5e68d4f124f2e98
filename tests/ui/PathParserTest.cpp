#include "ui/PathParser.h"

#include <gtest/gtest.h>

namespace tav::ui {
namespace {

void expectPoint(Point p, float x, float y) {
    EXPECT_FLOAT_EQ(p.x, x);
    EXPECT_FLOAT_EQ(p.y, y);
}

TEST(PathParser, MenuIconIsThreeOpenBars) {
    const auto shape = PathParser::parse("M3 6 H21 M3 12 H21 M3 18 H14");
    ASSERT_TRUE(shape);
    ASSERT_EQ(shape->figures.size(), 3u);
    const float ys[3] = {6, 12, 18};
    const float ends[3] = {21, 21, 14};
    for (int i = 0; i < 3; ++i) {
        const PathFigure& bar = shape->figures[i];
        EXPECT_FALSE(bar.closed);
        expectPoint(bar.start, 3, ys[i]);
        ASSERT_EQ(bar.segments.size(), 1u);
        EXPECT_EQ(bar.segments[0].kind, PathSegment::kLine);
        expectPoint(bar.segments[0].end, ends[i], ys[i]);
    }
}

TEST(PathParser, HandleIsClosedSquareAndCloseReturnsToStart) {
    const auto shape = PathParser::parse("M13 4 H19 V10 H13 Z");
    ASSERT_TRUE(shape);
    ASSERT_EQ(shape->figures.size(), 1u);
    const PathFigure& square = shape->figures[0];
    EXPECT_TRUE(square.closed);
    expectPoint(square.start, 13, 4);
    ASSERT_EQ(square.segments.size(), 3u);
    expectPoint(square.segments[0].end, 19, 4);
    expectPoint(square.segments[1].end, 19, 10);
    expectPoint(square.segments[2].end, 13, 10);

    // After Z the current point is the figure's start, so H keeps its y.
    const auto next = PathParser::parse("M1 2 L5 6 Z H9");
    ASSERT_TRUE(next);
    ASSERT_EQ(next->figures.size(), 2u);
    expectPoint(next->figures[1].start, 1, 2);
    expectPoint(next->figures[1].segments[0].end, 9, 2);
}

TEST(PathParser, SettingsIconHasFourLinesAndTwoSquares) {
    const auto shape = PathParser::parse(
        "M3 7 H13 M19 7 H21 M3 17 H5 M11 17 H21 M13 4 H19 V10 H13 Z M5 14 H11 V20 H5 Z");
    ASSERT_TRUE(shape);
    ASSERT_EQ(shape->figures.size(), 6u);
    int closed = 0;
    for (const PathFigure& f : shape->figures)
        closed += f.closed ? 1 : 0;
    EXPECT_EQ(closed, 2);
}

TEST(PathParser, RejectsRelativeAndUnsupportedCommands) {
    for (const char* bad : {"M0 0 l5 5", "M0 0 C1 1 2 2 3 3", "M0 0 S1 1 2 2", "M0 0 T1 1",
                            "M0 0 A1 1 0 0 1 2 2", "m0 0", "M0 0 h5", "M0 0 X"}) {
        EXPECT_FALSE(PathParser::parse(bad)) << bad;
    }
}

TEST(PathParser, RejectsNumbersBeforeACommandOrAfterClose) {
    EXPECT_FALSE(PathParser::parse("3 4 M0 0"));
    EXPECT_FALSE(PathParser::parse("M0 0 L1 1 Z 2 2"));
    EXPECT_FALSE(PathParser::parse("M0 0 L1"));      // missing coordinate
    EXPECT_FALSE(PathParser::parse("M0 0 Q1 1 2"));  // incomplete curve
    EXPECT_FALSE(PathParser::parse("M0 0 L inf 1")); // not a decimal number
    EXPECT_FALSE(PathParser::parse("M0 0 L-nan 1"));
    EXPECT_FALSE(PathParser::parse("M0 0 L1e999 1")); // overflows
    EXPECT_FALSE(PathParser::parse("M 1e20-2.e202")); // beyond the float range
    EXPECT_FALSE(PathParser::parse("M 4e38 0"));
}

TEST(PathParser, NumbersWithSignsFractionsExponentsAndAnySeparators) {
    const auto shape =
        PathParser::parse("\t M-6.6819610595703125,1e-3\r\n L+2.5E2 , -.5 Q1,2,3,4 V 7 z");
    ASSERT_TRUE(shape);
    ASSERT_EQ(shape->figures.size(), 1u);
    const PathFigure& f = shape->figures[0];
    expectPoint(f.start, -6.6819610595703125f, 0.001f);
    ASSERT_EQ(f.segments.size(), 3u);
    expectPoint(f.segments[0].end, 250, -0.5f);
    EXPECT_EQ(f.segments[1].kind, PathSegment::kQuadratic);
    expectPoint(f.segments[1].control, 1, 2);
    expectPoint(f.segments[1].end, 3, 4);
    expectPoint(f.segments[2].end, 3, 7);
    EXPECT_TRUE(f.closed);

    // Numbers may run together where a sign or a second point starts the next one.
    const auto packed = PathParser::parse("M1-2L.5.25");
    ASSERT_TRUE(packed);
    expectPoint(packed->figures[0].start, 1, -2);
    expectPoint(packed->figures[0].segments[0].end, 0.5f, 0.25f);
}

TEST(PathParser, RepeatedNumbersRepeatTheCommandAndLinesFollowAMove) {
    const auto shape = PathParser::parse("M0 0 10 0 10 10 Q 20 10 20 20 30 20 30 30 H 40 50");
    ASSERT_TRUE(shape);
    ASSERT_EQ(shape->figures.size(), 1u);
    const auto& s = shape->figures[0].segments;
    ASSERT_EQ(s.size(), 6u);
    EXPECT_EQ(s[0].kind, PathSegment::kLine);
    expectPoint(s[1].end, 10, 10);
    EXPECT_EQ(s[2].kind, PathSegment::kQuadratic);
    EXPECT_EQ(s[3].kind, PathSegment::kQuadratic);
    expectPoint(s[3].end, 30, 30);
    expectPoint(s[5].end, 50, 30);
}

TEST(PathParser, EmptyTextIsAnEmptyShape) {
    const auto shape = PathParser::parse(" , ");
    ASSERT_TRUE(shape);
    EXPECT_TRUE(shape->figures.empty());
}

} // namespace
} // namespace tav::ui
