#include "RecordingCanvas.h"
#include "ViewFixtures.h"

#include "ui/EditorLayout.h"
#include "ui/PathParser.h"
#include "ui/SnapshotScene.h"
#include "ui/Window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

// Painting and hit testing held to each other: a control is found in the recorded paint by its
// labels and by what hovering it adds, never by coordinates, so neither can drift from the other.
namespace tav::ui {
namespace {

using test::RecordingCanvas;
using Call = RecordingCanvas::Call;
using Op = RecordingCanvas::Op;

// Hit boxes leave out their right and bottom edges, on which outlines are centred.
constexpr float kInside = 0.01f;

struct Control {
    Hit hit;
    std::vector<std::string> labels;
};

Box boundsOf(const std::vector<Point>& points) {
    Box box{points[0].x, points[0].y, points[0].x, points[0].y};
    for (const Point& p : points)
        box = {std::min(box.left, p.x), std::min(box.top, p.y), std::max(box.right, p.x),
               std::max(box.bottom, p.y)};
    return box;
}

Box pathExtent(const Call& call) {
    const std::optional<PathShape> shape = PathParser::parse(call.text);
    std::vector<Point> points;
    for (const PathFigure& figure : shape.value().figures) {
        points.push_back(figure.start);
        for (const PathSegment& segment : figure.segments)
            points.insert(points.end(), {segment.control, segment.end});
    }
    Box box = boundsOf(points);
    const float pad = call.op == Op::StrokePath ? call.stroke / 2.0f : 0.0f;
    box = {call.x + call.scale * (box.left - pad), call.y + call.scale * (box.top - pad),
           call.x + call.scale * (box.right + pad), call.y + call.scale * (box.bottom + pad)};
    // The wordmark is lettering: its round letters dip below the baseline, as type does.
    if (call.op == Op::FillPath)
        box.bottom = std::min(box.bottom, call.y);
    return box;
}

// What a call covers: outlines along their centre line, text from cap height to baseline (a text
// block, its first baseline's start).
Box extentOf(const Call& call) {
    switch (call.op) {
    case Op::StrokeRect: {
        const float half = call.stroke / 2.0f;
        return {call.x + half, call.y + half, call.x + call.w - half, call.y + call.h - half};
    }
    case Op::DrawText: {
        const float width = RecordingCanvas::widthOf(call.text, call.style);
        const float left = call.align == kAlignCenter ? call.x - width / 2.0f : call.x;
        return {left, call.y - 0.7f * call.style.size, left + width, call.y};
    }
    case Op::StrokePolyline:
        return boundsOf(call.points);
    case Op::FillPath:
    case Op::StrokePath:
        return pathExtent(call);
    default:
        return {call.x, call.y, call.x + call.w, call.y + call.h};
    }
}

bool draws(const Call& call) {
    return call.op != Op::MeasureText && call.op != Op::MeasureTextBlock;
}

bool sameCall(const Call& a, const Call& b) {
    return a.op == b.op && a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h &&
           a.text == b.text && test::sameColor(a.color, b.color);
}

RecordingCanvas paintOf(Window& view) {
    RecordingCanvas canvas;
    view.paint(canvas);
    return canvas;
}

// The last call drawing the text (a menu row's name comes after the selector's).
const Call* lastText(const RecordingCanvas& canvas, const std::string& text) {
    for (auto call = canvas.calls.rbegin(); call != canvas.calls.rend(); ++call)
        if (call->op == Op::DrawText && call->text == text)
            return &*call;
    return nullptr;
}

// Where the control is painted: its labels, then what hovering it adds.
std::vector<Box> partsOf(Window& view, const Control& control) {
    const RecordingCanvas resting = paintOf(view);
    std::vector<Box> parts;
    for (const std::string& label : control.labels) {
        const Call* call = lastText(resting, label);
        EXPECT_NE(call, nullptr) << label;
        if (call != nullptr)
            parts.push_back(extentOf(*call));
    }
    const Point pointer = parts.empty() ? *SnapshotScene::centreOf(view, control.hit.element)
                                        : parts.front().centre();
    view.onMouseMove(pointer.x, pointer.y);
    const RecordingCanvas hovered = paintOf(view);
    view.onMouseLeave();
    for (const Call& call : hovered.calls)
        if (std::none_of(resting.calls.begin(), resting.calls.end(),
                         [&](const Call& before) { return sameCall(before, call); }))
            parts.push_back(extentOf(call));
    return parts;
}

bool holds(const Box& outer, const Box& inner) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

bool overlap(const Box& a, const Box& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

void press(Window& view, ElementId element) {
    const Point at = *SnapshotScene::centreOf(view, element);
    view.onMouseDown(at.x, at.y);
    view.onMouseUp(at.x, at.y);
}

::testing::AssertionResult hitsEverywhere(const Window& view, const Box& part, Hit expected) {
    const Point probes[] = {
        part.centre(),
        {part.left + kInside, part.top + kInside},
        {part.right - kInside, part.top + kInside},
        {part.left + kInside, part.bottom - kInside},
        {part.right - kInside, part.bottom - kInside},
    };
    for (const Point& p : probes) {
        const Hit hit = view.hitTest(p.x, p.y);
        if (hit.element != expected.element || hit.index != expected.index)
            return ::testing::AssertionFailure()
                   << "element " << static_cast<int>(hit.element) << "/" << hit.index << " at "
                   << p.x << ", " << p.y;
    }
    return ::testing::AssertionSuccess();
}

// B silent, so that the status card shows the route button over the morph area.
void withRouteButton(Window& view) {
    test::settleInputs(view, true, false);
    paintOf(view); // the card measures its body, which places the button
}

const std::vector<Control> kBaseControls = {
    {{ElementId::PresetPill}, {"INIT"}},
    {{ElementId::BypassButton}, {"BYPASS"}},
    {{ElementId::MorphArea}, {}},
    {{ElementId::AlgorithmSelector}, {"ALGORITHM", "Transport"}},
    {{ElementId::MixValue}, {"MIX", "100%"}},
    {{ElementId::OutputValue}, {"OUTPUT", "0.0 dB"}},
    {{ElementId::RouteButton}, {"HOW TO ROUTE"}},
};

TEST(EditorLayout, EveryPaintedControlLiesInsideItsOwnHitBox) {
    Window view;
    withRouteButton(view);
    for (const Control& control : kBaseControls)
        for (const Box& part : partsOf(view, control))
            EXPECT_TRUE(hitsEverywhere(view, part, control.hit));
    // The wordmark and the icons have no label: each lies whole in some control's box.
    for (const Call& call : paintOf(view).calls)
        if (call.op == Op::FillPath || call.op == Op::StrokePath) {
            const Box extent = extentOf(call);
            const Hit at = view.hitTest(extent.left + kInside, extent.top + kInside);
            EXPECT_NE(at.element, ElementId::None);
            EXPECT_TRUE(hitsEverywhere(view, extent, at));
        }

    press(view, ElementId::AlgorithmSelector);
    ASSERT_EQ(view.overlay(), Overlay::AlgorithmMenu);
    const char* names[] = {"Transport", "Partials", "Imprint", "Diffuse"};
    for (int32_t row = 0; row < 4; ++row)
        for (const Box& part : partsOf(view, {{ElementId::AlgorithmMenuRow, row}, {names[row]}}))
            EXPECT_TRUE(hitsEverywhere(view, part, {ElementId::AlgorithmMenuRow, row}));
    view.onKey(Key::Escape, false);

    press(view, ElementId::SettingsButton);
    ASSERT_EQ(view.overlay(), Overlay::SettingsPanel);
    const char* items[] = {"Standard", "High", "Paper", "Ink"};
    for (int32_t item = 0; item < 4; ++item)
        for (const Box& part : partsOf(view, {{ElementId::SettingsItem, item}, {items[item]}}))
            EXPECT_TRUE(hitsEverywhere(view, part, {ElementId::SettingsItem, item}));
}

TEST(EditorLayout, WhereBoxesOverlapThePointerFindsWhatIsPaintedOnTop) {
    Window view;
    withRouteButton(view);
    std::vector<std::pair<ElementId, std::vector<Box>>> controls;
    for (const Control& control : kBaseControls)
        controls.emplace_back(control.hit.element, partsOf(view, control));

    // The route button inside the morph area: nothing is painted over the button, and the card
    // around it leaves the pointer to the morph area.
    const Box button = controls.back().second.back(); // its hover fill
    const RecordingCanvas canvas = paintOf(view);
    for (size_t i = static_cast<size_t>(canvas.indexOfText("HOW TO ROUTE")) + 1;
         i < canvas.calls.size(); ++i)
        EXPECT_FALSE(overlap(extentOf(canvas.calls[i]), button)) << "call " << i;
    const float m = 2.0f;
    for (const Point p :
         {Point{button.left - m, button.centre().y}, Point{button.right + m, button.centre().y},
          Point{button.centre().x, button.top - m}, Point{button.centre().x, button.bottom + m}})
        EXPECT_EQ(view.hitTest(p.x, p.y).element, ElementId::MorphArea) << p.x << ", " << p.y;

    // An open overlay is painted over everything it covers, and nothing else takes the pointer.
    const struct {
        ElementId opener;
        Box panel;
    } overlays[] = {
        {ElementId::AlgorithmSelector, EditorLayout::kAlgorithmMenu},
        {ElementId::SettingsButton, EditorLayout::kSettingsPanel},
        {ElementId::Wordmark, EditorLayout::kAboutCard},
    };
    for (const auto& overlay : overlays) {
        press(view, overlay.opener);
        ASSERT_NE(view.overlay(), Overlay::None);
        const RecordingCanvas open = paintOf(view);
        const Box& panel = overlay.panel;
        const int fill =
            open.indexOfRect(Op::FillRect, panel.left, panel.top, panel.width(), panel.height());
        ASSERT_GE(fill, 0);
        for (size_t i = static_cast<size_t>(fill) + 1; i < open.calls.size(); ++i)
            EXPECT_TRUE(!draws(open.calls[i]) || holds(panel, extentOf(open.calls[i])))
                << "call " << i << " spills over the overlay's edge";
        for (const auto& [element, parts] : controls)
            for (const Box& part : parts)
                EXPECT_NE(view.hitTest(part.centre().x, part.centre().y).element, element);
        view.onKey(Key::Escape, false);
        ASSERT_EQ(view.overlay(), Overlay::None);
    }
}

} // namespace
} // namespace tav::ui
