#pragma once

#include "ui/Canvas.h"

#include <optional>
#include <string_view>
#include <vector>

namespace tav::ui {

// One segment of a figure: a straight line, or a quadratic Bezier curve through `control`.
struct PathSegment {
    enum Kind : uint8_t { kLine, kQuadratic };
    Kind kind = kLine;
    Point control;
    Point end;
};

// A run of connected segments from `start`; a closed figure returns to `start`.
struct PathFigure {
    Point start;
    std::vector<PathSegment> segments;
    bool closed = false;
};

struct PathShape {
    std::vector<PathFigure> figures;
};

// Reads the absolute path syntax every canvas draws: M, L, H, V, Q and Z/z, numbers separated by
// spaces, tabs, line breaks or commas, a bare number repeating the current command (L after M).
class PathParser {
public:
    // Any thread; allocates. The shape, or nothing when the text is not a valid path.
    static std::optional<PathShape> parse(std::string_view text);
};

} // namespace tav::ui
