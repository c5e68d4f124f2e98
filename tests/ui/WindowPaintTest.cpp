#include "RecordingCanvas.h"
#include "ViewFixtures.h"

#include "ui/PathParser.h"
#include "ui/Window.h"
#include "ui/Wordmark.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>

namespace tav::ui {
namespace {

using test::paperColor;
using test::RecordingCanvas;
using test::sameColor;
using Op = RecordingCanvas::Op;

RecordingCanvas paintOf(Window& view) {
    RecordingCanvas canvas;
    view.paint(canvas);
    return canvas;
}

void expectColor(const RecordingCanvas::Call* call, int32_t index, int32_t theme = kThemePaper) {
    ASSERT_NE(call, nullptr);
    EXPECT_TRUE(sameColor(call->color, paletteFor(theme)[index])) << "expected palette " << index;
}

float lineY(float v) {
    return 80.0f + 302.0f * (1.0f - v);
}

TEST(WindowPaint, DrawsItsLayersInOrder) {
    Window view;
    view.onMouseDown(400.0f, 450.0f); // opens the algorithm menu
    const RecordingCanvas canvas = paintOf(view);

    ASSERT_FALSE(canvas.calls.empty());
    const RecordingCanvas::Call& first = canvas.calls.front();
    EXPECT_EQ(first.op, Op::FillRect);
    EXPECT_EQ(first.w, 760.0f);
    EXPECT_EQ(first.h, 500.0f);
    expectColor(&first, kColorBackground);

    int lastLine = -1;
    for (size_t i = 0; i < canvas.calls.size(); ++i)
        if (canvas.calls[i].op == Op::StrokePolyline && canvas.calls[i].points.size() == 41)
            lastLine = static_cast<int>(i);
    const int order[] = {
        lastLine,
        canvas.indexOfText("A"),
        canvas.indexOfText("B"),
        canvas.indexOfRect(Op::FillRect, 378.5f, 52.0f, 3.0f, 344.0f),    // position line
        canvas.indexOfRect(Op::FillRect, 0.0f, 50.75f, 760.0f, 1.25f),    // top bar
        canvas.indexOfRect(Op::FillRect, 0.0f, 396.0f, 760.0f, 1.25f),    // bottom strip
        canvas.indexOfText("Waiting for sound"),                          // status card
        canvas.indexOfRect(Op::FillRect, 324.0f, 192.0f, 420.0f, 192.0f), // menu
    };
    for (size_t i = 0; i < std::size(order); ++i) {
        EXPECT_GE(order[i], 1) << "layer " << i;
        if (i > 0) {
            EXPECT_LT(order[i - 1], order[i]) << "layer " << i;
        }
    }
}

TEST(WindowPaint, BothThemesUseTheirPalettes) {
    Window view;
    EXPECT_TRUE(sameColor(paintOf(view).calls.front().color, test::paperColor(0)));
    EXPECT_NEAR(paperColor(kColorBackground).r, 236.0f / 255.0f, 1e-6);
    EXPECT_NEAR(paperColor(kColorBackground).g, 235.0f / 255.0f, 1e-6);
    EXPECT_NEAR(paperColor(kColorBackground).b, 230.0f / 255.0f, 1e-6);

    view.setTheme(kThemeInk);
    const RecordingCanvas ink = paintOf(view);
    EXPECT_TRUE(sameColor(ink.calls.front().color, colorFromHex(0x0C0C0B)));
    const Palette& palette = paletteFor(kThemeInk);
    EXPECT_TRUE(sameColor(palette[kColorHandle], colorFromHex(0xFF4B1F)));
    EXPECT_TRUE(sameColor(palette[kColorFocus], colorFromHex(0x7C88FF)));
    // The handle takes the theme's handle colour.
    expectColor(ink.rect(Op::FillRoundedRect, 360.0f, 56.0f, 40.0f, 20.0f), kColorHandle,
                kThemeInk);
}

TEST(WindowPaint, LiveInputsDrawInkLinesWithMarkersAndFilledBadges) {
    Window view;
    test::settleInputs(view, true, true);
    const RecordingCanvas canvas = paintOf(view);

    int lines = 0;
    for (const auto& call : canvas.calls) {
        if (call.op != Op::StrokePolyline || call.points.size() != 41)
            continue;
        EXPECT_FLOAT_EQ(call.points.front().x, 68.0f);
        EXPECT_FLOAT_EQ(call.points.back().x, 692.0f);
        EXPECT_FLOAT_EQ(call.points[20].x, 380.0f);
        EXPECT_FLOAT_EQ(call.points[20].y, lineY(view.morphField().lineValue(lines, 0.5f)));
        EXPECT_FLOAT_EQ(call.stroke, 1.4f);
        EXPECT_TRUE(sameColor(call.color, paperColor(kColorLines)));
        ++lines;
    }
    EXPECT_EQ(lines, 44);
    EXPECT_EQ(canvas.countFillsOfSize(12.0f, 2.0f), 44);
    const float markerY = lineY(view.morphField().lineValue(7, 0.5f)) - 1.0f;
    expectColor(canvas.rect(Op::FillRect, 374.0f, markerY, 12.0f, 2.0f), kColorAccent);

    expectColor(canvas.rect(Op::FillRoundedRect, 21.0f, 67.0f, 26.0f, 26.0f), kColorHandle);
    expectColor(canvas.rect(Op::FillRoundedRect, 713.0f, 67.0f, 26.0f, 26.0f), kColorHandle);
    expectColor(canvas.text("A"), kColorGrip);
    EXPECT_EQ(canvas.text("A")->align, kAlignCenter);
    EXPECT_FLOAT_EQ(canvas.text("A")->y, 85.5f);
    expectColor(canvas.text("MAIN"), kColorInk);
    // Meters at half level: 120 of the 240 units filled from the bottom.
    expectColor(canvas.rect(Op::FillRect, 31.0f, 242.0f, 6.0f, 120.0f), kColorInk);
    expectColor(canvas.rect(Op::FillRect, 723.0f, 242.0f, 6.0f, 120.0f), kColorInk);
    expectColor(canvas.rect(Op::FillRect, 719.0f, 361.5f, 3.0f, 1.0f), kColorMuted);
    EXPECT_EQ(canvas.indexOfText("SILENT"), -1);
    EXPECT_EQ(canvas.count(Op::MeasureTextBlock), 0); // no status card
}

TEST(WindowPaint, SilentAAndSilentBLookDifferent) {
    Window view;
    test::settleInputs(view, false, true);
    RecordingCanvas canvas = paintOf(view);
    expectColor(canvas.rect(Op::StrokeRect, 21.0f, 67.0f, 26.0f, 26.0f), kColorMuted);
    expectColor(canvas.text("SILENT"), kColorMuted);
    EXPECT_FLOAT_EQ(canvas.text("SILENT")->x, 34.0f);
    expectColor(canvas.rect(Op::FillRoundedRect, 713.0f, 67.0f, 26.0f, 26.0f), kColorHandle);
    expectColor(canvas.rect(Op::FillRect, 31.0f, 362.0f, 6.0f, 0.0f), kColorInk); // empty meter
    ASSERT_NE(canvas.text("A is silent"), nullptr);
    EXPECT_FLOAT_EQ(canvas.text("A is silent")->x, 84.0f);
    EXPECT_EQ(canvas.countFillsOfSize(12.0f, 2.0f), 0); // no markers
    expectColor(canvas.calls[1].op == Op::StrokePolyline ? &canvas.calls[1] : nullptr, kColorMuted);

    test::settleInputs(view, true, false);
    canvas = paintOf(view);
    expectColor(canvas.rect(Op::StrokeRect, 713.0f, 67.0f, 26.0f, 26.0f), kColorWarning);
    expectColor(canvas.text("SIDECHAIN"), kColorWarning);
    expectColor(canvas.text("NO INPUT"), kColorWarning);
    EXPECT_FLOAT_EQ(canvas.text("NO INPUT")->y, 382.0f);
    expectColor(canvas.text("LIVE"), kColorMuted);

    // The card of "B has no signal" grows by its body and carries the route button.
    const char* body =
        "Send another track to this plugin's sidechain input in your DAW, and press play.";
    const float b = RecordingCanvas::blockHeight(body, 252.0f, 18.2f, textStyle(TextRole::Body));
    const float height = b + 36.0f + 48.5f;
    expectColor(canvas.rect(Op::FillRect, 412.0f, 143.0f, 284.0f, height), kColorInk);
    expectColor(canvas.rect(Op::FillRect, 408.0f, 139.0f, 284.0f, height), kColorBackground);
    EXPECT_NE(canvas.rect(Op::StrokeRect, 407.375f, 138.375f, 285.25f, height + 1.25f), nullptr);
    const float by = 139.0f + 36.0f + b + 10.0f;
    EXPECT_NE(canvas.rect(Op::StrokeRect, 423.375f, by - 0.625f, 121.25f, 27.25f), nullptr);
    ASSERT_NE(canvas.text("HOW TO ROUTE"), nullptr);
    EXPECT_FLOAT_EQ(canvas.text("HOW TO ROUTE")->x, 484.0f);
    EXPECT_FLOAT_EQ(canvas.text("HOW TO ROUTE")->y, by + 16.5f);
    EXPECT_FLOAT_EQ(view.statusBodyHeight(), b);
    const int block = canvas.indexOfText(body, Op::DrawTextBlock);
    ASSERT_GE(block, 0);
    EXPECT_FLOAT_EQ(canvas.calls[block].x, 424.0f);
    EXPECT_FLOAT_EQ(canvas.calls[block].y, 192.0f);
}

TEST(WindowPaint, BypassMutesValuesHandleAndLines) {
    Window view;
    test::settleInputs(view, true, true);
    view.setBypass(true);
    const RecordingCanvas canvas = paintOf(view);
    EXPECT_EQ(canvas.countFillsOfSize(12.0f, 2.0f), 0);
    expectColor(canvas.rect(Op::FillRect, 378.5f, 52.0f, 3.0f, 344.0f), kColorMuted);
    expectColor(canvas.rect(Op::FillRoundedRect, 360.0f, 56.0f, 40.0f, 20.0f), kColorMuted);
    for (const char* value : {"morph", "0.50", "Transport", "100%", "0.0 dB"})
        expectColor(canvas.text(value), kColorMuted);
    expectColor(canvas.rect(Op::FillRoundedRect, 648.0f, 14.0f, 96.0f, 26.0f), kColorInk);
    expectColor(canvas.text("BYPASS"), kColorBackground);
    ASSERT_NE(canvas.text("Bypassed"), nullptr);
    EXPECT_FLOAT_EQ(canvas.text("Bypassed")->y, 187.5f);

    view.setBypass(false);
    const RecordingCanvas live = paintOf(view);
    for (const char* value : {"morph", "0.50", "Transport", "100%", "0.0 dB"})
        expectColor(live.text(value), kColorInk);
    expectColor(live.text("44 ms"), kColorMuted);
    expectColor(live.text("BYPASS"), kColorInk);
    EXPECT_EQ(live.rect(Op::FillRoundedRect, 648.0f, 14.0f, 96.0f, 26.0f), nullptr);
}

TEST(WindowPaint, AutomatedMorphShowsAutoAndTheCalloutOnEitherSide) {
    Window view;
    view.setMorphAutomated(true);
    RecordingCanvas canvas = paintOf(view);
    expectColor(canvas.rect(Op::FillRoundedRect, 360.0f, 56.0f, 40.0f, 20.0f), kColorBackground);
    expectColor(canvas.rect(Op::StrokeRect, 360.0f, 56.0f, 40.0f, 20.0f), kColorHandle);
    ASSERT_NE(canvas.text("AUTO"), nullptr);
    EXPECT_FLOAT_EQ(canvas.text("AUTO")->x, 380.0f);
    EXPECT_EQ(canvas.countFillsOfSize(1.5f, 9.0f), 0); // no grip marks
    // Label metrics: 21 characters of 5 units, plus 16 of padding.
    const float w = 121.0f;
    expectColor(canvas.rect(Op::FillRect, 408.0f, 58.0f, w, 22.0f), kColorSurface);
    expectColor(canvas.rect(Op::FillRect, 411.0f, 61.0f, w, 22.0f), kColorInk);
    expectColor(canvas.rect(Op::StrokeRect, 408.0f, 58.0f, w, 22.0f), kColorInk);
    EXPECT_FLOAT_EQ(canvas.text("AUTOMATED IN YOUR DAW")->x, 416.0f);

    view.setMorph(0.62f);
    canvas = paintOf(view);
    const float right = 68.0f + 624.0f * 0.62f + 28.0f;
    EXPECT_FLOAT_EQ(canvas.text("AUTOMATED IN YOUR DAW")->x, right + 8.0f);

    view.setMorph(0.63f);
    canvas = paintOf(view);
    const float left = 68.0f + 624.0f * 0.63f - 200.0f;
    EXPECT_FLOAT_EQ(canvas.text("AUTOMATED IN YOUR DAW")->x, left + 8.0f);
}

TEST(WindowPaint, HandleGrowsOnHoverAndTurnsAccentWhileDragged) {
    Window view;
    RecordingCanvas canvas = paintOf(view);
    expectColor(canvas.rect(Op::FillRoundedRect, 360.0f, 56.0f, 40.0f, 20.0f), kColorHandle);
    EXPECT_EQ(canvas.countFillsOfSize(1.5f, 9.0f), 3);
    expectColor(canvas.rect(Op::FillRect, 375.25f, 61.5f, 1.5f, 9.0f), kColorGrip);

    view.onMouseMove(200.0f, 200.0f);
    canvas = paintOf(view);
    EXPECT_NE(canvas.rect(Op::FillRoundedRect, 358.0f, 55.0f, 44.0f, 22.0f), nullptr);

    view.onMouseDown(380.0f, 200.0f);
    canvas = paintOf(view);
    const auto* pill = canvas.rect(Op::FillRoundedRect, 358.0f, 55.0f, 44.0f, 22.0f);
    expectColor(pill, kColorAccent);
    EXPECT_FLOAT_EQ(pill->radius, 11.0f);
    const auto* grip = canvas.rect(Op::FillRect, 379.25f, 61.5f, 1.5f, 9.0f);
    ASSERT_NE(grip, nullptr);
    EXPECT_TRUE(sameColor(grip->color, colorFromHex(0x0C0C0B)));
}

TEST(WindowPaint, AlgorithmMenuMarksCurrentAndHoveredRows) {
    Window view;
    view.setAlgorithm(1);
    view.onMouseDown(400.0f, 450.0f);
    view.onMouseMove(500.0f, 300.0f); // row 2
    const RecordingCanvas canvas = paintOf(view);
    EXPECT_EQ(canvas.rect(Op::FillRect, 328.0f, 196.0f, 412.0f, 46.0f), nullptr);
    expectColor(canvas.rect(Op::FillRect, 328.0f, 242.0f, 412.0f, 46.0f), kColorInk);
    expectColor(canvas.rect(Op::FillRect, 328.0f, 288.0f, 412.0f, 46.0f), kColorRowHover);
    expectColor(canvas.rect(Op::FillRect, 352.0f, 464.0f, 138.0f, 3.0f), kColorInk);
    expectColor(canvas.text("Partials"), kColorInk); // the selector's own value comes first
    const int imprint = canvas.indexOfText("Imprint");
    ASSERT_GE(imprint, 0);
    EXPECT_FLOAT_EQ(canvas.calls[imprint].x, 338.0f);
    EXPECT_FLOAT_EQ(canvas.calls[imprint].y, 308.0f);
    const auto* description =
        canvas.text("Single tones pair up and glide. For clean instruments and voices.");
    expectColor(description, kColorSurface);
    EXPECT_FLOAT_EQ(description->y, 279.0f);
    EXPECT_EQ(canvas.rect(Op::StrokeRect, 328.0f, 242.0f, 412.0f, 46.0f), nullptr);

    view.onKey(Key::Down, false); // focus visible: the keyboard row gets its ring
    const RecordingCanvas keyed = paintOf(view);
    expectColor(keyed.rect(Op::StrokeRect, 328.0f, 288.0f, 412.0f, 46.0f), kColorFocus);
}

TEST(WindowPaint, SettingsPanelShowsQualitiesWithLatenciesAndThemes) {
    Window view;
    view.updateSignals(test::inputRecord(true, true), 0.03f);
    view.setTheme(kThemeInk);
    view.onMouseDown(626.0f, 27.0f);
    view.onMouseMove(400.0f, 140.0f); // hover "High"
    const RecordingCanvas canvas = paintOf(view);
    expectColor(canvas.rect(Op::FillRect, 364.0f, 46.0f, 380.0f, 186.0f), kColorSurface, 1);
    expectColor(canvas.text("QUALITY"), kColorMuted, 1);
    expectColor(canvas.rect(Op::FillRect, 368.0f, 74.0f, 372.0f, 46.0f), kColorInk, 1);
    expectColor(canvas.rect(Op::FillRect, 368.0f, 120.0f, 372.0f, 46.0f), kColorRowHover, 1);
    const auto* standard = canvas.text("44 MS LATENCY");
    ASSERT_NE(standard, nullptr);
    EXPECT_FLOAT_EQ(standard->x, 730.0f - 65.0f);
    EXPECT_FLOAT_EQ(standard->y, 93.0f);
    ASSERT_NE(canvas.text("87 MS LATENCY"), nullptr);
    EXPECT_FLOAT_EQ(canvas.text("87 MS LATENCY")->y, 139.0f);
    expectColor(canvas.text("Standard"), kColorSurface, 1);
    expectColor(canvas.text("High"), kColorInk, 1);
    expectColor(canvas.rect(Op::FillRect, 554.0f, 194.0f, 186.0f, 34.0f), kColorInk, 1);
    EXPECT_FLOAT_EQ(canvas.text("Ink")->x, 564.0f);
    EXPECT_FLOAT_EQ(canvas.text("Paper")->y, 216.0f);
    EXPECT_EQ(canvas.rect(Op::FillRect, 368.0f, 194.0f, 186.0f, 34.0f), nullptr);
}

TEST(WindowPaint, AboutCardShowsWordmarkVersionAndNotices) {
    Window view;
    test::settleInputs(view, true, true);
    view.setVersionText("0.2.2");
    view.onMouseDown(100.0f, 25.0f);
    ASSERT_EQ(view.overlay(), Overlay::AboutCard);
    const RecordingCanvas canvas = paintOf(view);
    expectColor(canvas.rect(Op::FillRect, 200.0f, 104.0f, 360.0f, 226.0f), kColorBackground);
    int wordmarks = 0;
    for (const auto& call : canvas.calls) {
        if (call.op != Op::FillPath)
            continue;
        ++wordmarks;
        if (wordmarks == 2) {
            EXPECT_FLOAT_EQ(call.x, 225.0f);
            EXPECT_FLOAT_EQ(call.y, 156.5f);
            EXPECT_FLOAT_EQ(call.scale, 31.0f / 140.0f);
        }
    }
    EXPECT_EQ(wordmarks, 2);
    expectColor(canvas.text("VERSION 0.2.2"), kColorMuted);
    EXPECT_GE(canvas.indexOfText("VST3 is a trademark of Steinberg Media Technologies GmbH.",
                                 Op::DrawTextBlock),
              0);
    EXPECT_NE(canvas.text("Fonts under the SIL Open Font License."), nullptr);
    // The lines behind the card are muted even though both inputs play.
    expectColor(&canvas.calls[1], kColorMuted);
}

TEST(WindowPaint, TopBarDrawsValidIconsAndTheWordmark) {
    Window view;
    const RecordingCanvas canvas = paintOf(view);
    int icons = 0;
    for (const auto& call : canvas.calls) {
        if (call.op == Op::StrokePath) {
            ++icons;
            EXPECT_TRUE(PathParser::parse(call.text).has_value()) << call.text;
            EXPECT_FLOAT_EQ(call.stroke, 2.0f);
        }
        if (call.op == Op::FillPath) {
            EXPECT_EQ(call.text, kWordmarkPath);
            EXPECT_FLOAT_EQ(call.x, 16.0f);
            EXPECT_FLOAT_EQ(call.y, 33.0f);
            EXPECT_FLOAT_EQ(call.scale, 3.0f / 14.0f);
        }
    }
    EXPECT_EQ(icons, 2);
    EXPECT_FLOAT_EQ(canvas.text("INIT")->x, 486.25f);
}

TEST(WindowPaint, KeyboardFocusRingsFollowTab) {
    Window view;
    struct Ring {
        float x, y, w, h, radius;
    };
    const Ring rings[] = {
        {12.0f, 14.0f, 235.411f, 23.0f, 4.0f}, {452.0f, 10.0f, 158.0f, 34.0f, 17.0f},
        {608.0f, 9.0f, 36.0f, 36.0f, 4.0f},    {644.0f, 10.0f, 104.0f, 34.0f, 17.0f},
        {356.0f, 52.0f, 48.0f, 28.0f, 14.0f},  {346.0f, 420.0f, 150.0f, 60.0f, 0.0f},
        {498.0f, 420.0f, 72.0f, 60.0f, 0.0f},  {664.0f, 420.0f, 80.0f, 60.0f, 0.0f},
    };
    for (const Ring& ring : rings) {
        view.onKey(Key::Tab, false);
        const RecordingCanvas canvas = paintOf(view);
        const auto* call = canvas.rect(Op::StrokeRect, ring.x, ring.y, ring.w, ring.h);
        expectColor(call, kColorFocus);
        EXPECT_FLOAT_EQ(call->radius, ring.radius);
        EXPECT_FLOAT_EQ(call->stroke, 2.0f);
    }
    // A press hides the ring again.
    view.onMouseDown(5.0f, 5.0f);
    view.onMouseUp(5.0f, 5.0f);
    const RecordingCanvas canvas = paintOf(view);
    for (const Ring& ring : rings)
        EXPECT_EQ(canvas.rect(Op::StrokeRect, ring.x, ring.y, ring.w, ring.h), nullptr);
}

TEST(WindowPaint, ValuesAreFormattedAsTheProductPrintsThem) {
    Window view;
    const struct {
        float db;
        const char* text;
    } outputs[] = {{0.04f, "0.0 dB"},    {-0.04f, "0.0 dB"}, {0.05f, "+0.1 dB"},
                   {-24.0f, "-24.0 dB"}, {1.5f, "+1.5 dB"},  {-3.2f, "-3.2 dB"}};
    for (const auto& output : outputs) {
        view.setOutput(output.db);
        const RecordingCanvas canvas = paintOf(view);
        const auto* text = canvas.text(output.text);
        ASSERT_NE(text, nullptr) << output.text;
        EXPECT_FLOAT_EQ(text->x, 670.0f);
        EXPECT_FLOAT_EQ(text->y, 459.0f);
    }

    view.setMix(0.506f);
    AnalysisRecord record = test::inputRecord(true, true);
    record.latencySamples = 436;
    record.sampleRate = 10000.0;
    view.updateSignals(record, 0.03f);
    EXPECT_FLOAT_EQ(view.latencyMs(), 43.6f);
    RecordingCanvas canvas = paintOf(view);
    EXPECT_FLOAT_EQ(canvas.text("51%")->x, 504.0f);
    EXPECT_FLOAT_EQ(canvas.text("44 ms")->x, 588.0f);

    // The morph figure widens with the morph; it follows the word at 16 + 70 + 3.
    for (float morph : {0.0f, 0.5f, 1.0f}) {
        view.setMorph(morph);
        canvas = paintOf(view);
        char figure[8];
        std::snprintf(figure, sizeof figure, "%.2f", morph);
        const auto* text = canvas.text(figure);
        ASSERT_NE(text, nullptr) << figure;
        EXPECT_FLOAT_EQ(text->style.width, 50.0f + 100.0f * morph);
        EXPECT_EQ(text->style.family, kFontSans);
        EXPECT_FLOAT_EQ(text->style.size, 58.0f);
        EXPECT_FLOAT_EQ(text->style.weight, 900.0f);
        EXPECT_FLOAT_EQ(text->x, 89.0f);
        EXPECT_FLOAT_EQ(text->y, 470.0f);
    }
    EXPECT_EQ(canvas.text("morph")->style.family, kFontSerif);

    // The chevron follows the algorithm's name.
    view.setAlgorithm(3);
    canvas = paintOf(view);
    const float f = 352.0f + 7.0f * 10.0f + 9.0f; // "Diffuse" at 10 units a character
    bool chevron = false;
    for (const auto& call : canvas.calls)
        if (call.op == Op::StrokePolyline && call.points.size() == 3)
            chevron = call.points[0].x == f && call.points[1].x == f + 5.0f &&
                      call.points[1].y == 455.5f && call.points[2].x == f + 10.0f;
    EXPECT_TRUE(chevron);
}

TEST(WindowSignals, RecordsSetLevelsAndLatenciesAndTimersRunWithoutThem) {
    Window view;
    EXPECT_FLOAT_EQ(view.latencyMs(), 44.0f);
    EXPECT_FLOAT_EQ(view.latencyHighMs(), 87.0f);
    AnalysisRecord record = test::inputRecord(true, true);
    record.meters.levelA = 1.5f;
    record.meters.levelB = -1.0f;
    record.sidechainActive = 0;
    view.updateSignals(record, 0.03f);
    EXPECT_NEAR(view.latencyMs(), 44.1667f, 1e-3);
    EXPECT_NEAR(view.latencyStandardMs(), 44.1667f, 1e-3);
    EXPECT_NEAR(view.latencyHighMs(), 86.8333f, 1e-3);
    EXPECT_FLOAT_EQ(view.levelA(), 1.0f);
    EXPECT_FLOAT_EQ(view.levelB(), 0.0f);
    EXPECT_FALSE(view.sidechainLive());

    record.sampleRate = 0.0;
    record.latencySamples = 99999;
    view.updateSignals(record, 0.03f);
    EXPECT_NEAR(view.latencyMs(), 44.1667f, 1e-3);

    view.advance(0.3f);
    EXPECT_FALSE(view.morphField().activeA());
    EXPECT_FALSE(view.morphField().activeB());
}

} // namespace
} // namespace tav::ui
