#include "ui/Window.h"

#include "dsp/FrameGeometry.h"
#include "ui/Wordmark.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tav::ui {
namespace {

// The morph area spans these x on the design plane; the morph value maps linearly onto it.
constexpr float kMorphLeft = 68.0f;
constexpr float kMorphWidth = 624.0f;
// The line field's top and height.
constexpr float kFieldTop = 80.0f;
constexpr float kFieldHeight = 302.0f;
constexpr int kLinePoints = 41;

constexpr float kOutputMinDb = -24.0f;
constexpr float kOutputMaxDb = 12.0f;
constexpr int kAlgorithms = 4;
constexpr int kMenuRows = 4;
constexpr int kSettingsItems = 4;
constexpr int32_t kItemPaper = 2;
constexpr int32_t kItemInk = 3;

// Drag sensitivities per view unit moved upwards.
constexpr float kMixPerUnit = 0.005f;
constexpr float kOutputDbPerUnit = 0.1f;

constexpr float kStatusBodyWidth = 252.0f;
constexpr float kBodyLineHeight = 18.2f;

constexpr const char* kMenuIcon = "M3 6 H21 M3 12 H21 M3 18 H14";
constexpr const char* kSettingsIcon =
    "M3 7 H13 M19 7 H21 M3 17 H5 M11 17 H21 M13 4 H19 V10 H13 Z M5 14 H11 V20 H5 Z";
constexpr const char* kAutomatedCallout = "AUTOMATED IN YOUR DAW";

constexpr const char* kAlgorithmNames[kAlgorithms] = {"Transport", "Partials", "Imprint",
                                                      "Diffuse"};
constexpr const char* kAlgorithmDescriptions[kAlgorithms] = {
    "The harmonics slide from A to B. For tonal and polyphonic sounds.",
    "Single tones pair up and glide. For clean instruments and voices.",
    "B's voice lands on A's notes first. For vocals and talkers.",
    "A soft blur through the middle. For pads, noise and textures.",
};
constexpr const char* kQualityNames[2] = {"Standard", "High"};
constexpr const char* kQualityDescriptions[2] = {
    "Less delay. For playing live, and most sounds.",
    "Separates low notes better. For mixing, not playing live.",
};
constexpr const char* kThemeNames[2] = {"Paper", "Ink"};

// Grip marks of a dragged handle stay dark in both themes (they sit on the accent).
constexpr Color kDraggedGrip = colorFromHex(0x0C0C0B);

// Keyboard focus moves through the controls in this order.
constexpr ElementId kFocusOrder[] = {
    ElementId::Wordmark,     ElementId::PresetPill,  ElementId::SettingsButton,
    ElementId::BypassButton, ElementId::MorphArea,   ElementId::AlgorithmSelector,
    ElementId::MixValue,     ElementId::OutputValue,
};
constexpr int kFocusCount = static_cast<int>(sizeof(kFocusOrder) / sizeof(kFocusOrder[0]));

// Half-open boxes: left and top inclusive, right and bottom exclusive.
struct Box {
    float left, top, right, bottom;
    bool holds(float x, float y) const { return x >= left && x < right && y >= top && y < bottom; }
};

struct Area {
    ElementId element;
    Box box;
};

// Without an overlay, the first area that holds a point wins.
constexpr Area kAreas[] = {
    {ElementId::Wordmark, {16.0f, 18.0f, 243.41072f, 33.0f}},
    {ElementId::PresetPill, {456.0f, 14.0f, 606.0f, 40.0f}},
    {ElementId::SettingsButton, {612.0f, 13.0f, 640.0f, 41.0f}},
    {ElementId::BypassButton, {648.0f, 14.0f, 744.0f, 40.0f}},
    {ElementId::MorphArea, {68.0f, 52.0f, 692.0f, 396.0f}},
    {ElementId::AlgorithmSelector, {346.0f, 420.0f, 496.0f, 480.0f}},
    {ElementId::MixValue, {498.0f, 420.0f, 570.0f, 480.0f}},
    {ElementId::OutputValue, {664.0f, 420.0f, 744.0f, 480.0f}},
};
constexpr Box kMorphBox = {68.0f, 52.0f, 692.0f, 396.0f};
constexpr Box kMenuBox = {324.0f, 192.0f, 744.0f, 384.0f};
constexpr Box kQualityBox = {368.0f, 74.0f, 740.0f, 166.0f};
constexpr Box kThemeBox = {368.0f, 194.0f, 740.0f, 228.0f};

int32_t textLength(const char* text) {
    return static_cast<int32_t>(std::strlen(text));
}

void drawText(Canvas& canvas, const char* text, float x, float y, TextRole role, const Color& color,
              int32_t align = kAlignLeft) {
    canvas.drawText(text, textLength(text), x, y, textStyle(role), color, align);
}

float measure(Canvas& canvas, const char* text, TextRole role) {
    return canvas.measureText(text, textLength(text), textStyle(role));
}

// Keeps the current value when the new one is not a number.
float clampedOr(float value, float low, float high, float current) {
    return std::isfinite(value) ? std::clamp(value, low, high) : current;
}

float clamp01(float value) {
    return std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 0.0f;
}

float morphFromX(float x) {
    return std::clamp((x - kMorphLeft) / kMorphWidth, 0.0f, 1.0f);
}

ParamIndex paramOfDrag(DragMode mode) {
    switch (mode) {
    case DragMode::Mix:
        return kParamMix;
    case DragMode::Output:
        return kParamOutput;
    default:
        return kParamMorph;
    }
}

// Signed step of an arrow key: +1 for Right and Up, -1 for Left and Down, 0 otherwise.
float arrowDirection(Key key) {
    if (key == Key::Right || key == Key::Up)
        return 1.0f;
    if (key == Key::Left || key == Key::Down)
        return -1.0f;
    return 0.0f;
}

bool isActivation(Key key) {
    return key == Key::Return || key == Key::Space;
}

} // namespace

Window::Window(WindowListener* listener_) : listener(listener_) {}

// --- Values from the editor host ----------------------------------------------------------

void Window::setParameterValues(float morph, int32_t algorithm, float mix, float outputDb_,
                                bool bypass, bool high) {
    setMorph(morph);
    setAlgorithm(algorithm);
    setMix(mix);
    setOutput(outputDb_);
    setBypass(bypass);
    setQuality(high);
}

void Window::setMorph(float value) {
    morphValue = clampedOr(value, 0.0f, 1.0f, morphValue);
}

void Window::setAlgorithm(int32_t index) {
    algorithmIndex = std::clamp(index, 0, kAlgorithms - 1);
}

void Window::setMix(float value) {
    mixValue = clampedOr(value, 0.0f, 1.0f, mixValue);
}

void Window::setOutput(float decibels) {
    outputDb = clampedOr(decibels, kOutputMinDb, kOutputMaxDb, outputDb);
}

void Window::setBypass(bool on) {
    bypassOn = on;
    field.setBypass(on);
}

void Window::updateSignals(const AnalysisRecord& record, float dt) {
    dt = std::isfinite(dt) ? std::max(dt, 0.0f) : 0.0f;
    field.updateSignals(record.meters, dt);
    inputLevelA = clamp01(record.meters.levelA);
    inputLevelB = clamp01(record.meters.levelB);
    sidechainIsLive = record.sidechainActive != 0;
    const double rate = record.sampleRate;
    if (std::isfinite(rate) && rate > 0.0) {
        latency = static_cast<float>(record.latencySamples * 1000.0 / rate);
        latencyStandard =
            static_cast<float>(latencySamples(rate, kQualityStandard) * 1000.0 / rate);
        latencyHigh = static_cast<float>(latencySamples(rate, kQualityHigh) * 1000.0 / rate);
    }
}

void Window::advance(float dt) {
    dt = std::isfinite(dt) ? std::max(dt, 0.0f) : 0.0f;
    field.advance(dt);
}

// --- Drawing -----------------------------------------------------------------------------

const Color& Window::valueColor() const {
    return color(bypassOn ? kColorMuted : kColorInk);
}

float Window::morphX() const {
    return kMorphLeft + kMorphWidth * morphValue;
}

bool Window::ringOn(ElementId element) const {
    return focusIsVisible && focusedElement == element;
}

void Window::paint(Canvas& canvas) {
    canvas.fillRect(0.0f, 0.0f, kWidth, kHeight, color(kColorBackground));
    paintMorphDisplay(canvas);
    paintInputPanel(canvas, false);
    paintInputPanel(canvas, true);
    paintMorphHandle(canvas);
    paintTopBar(canvas);
    paintBottomStrip(canvas);
    const StatusMessage message = field.statusMessage();
    if (message.shown)
        paintStatusCard(canvas, message);
    switch (openOverlay) {
    case Overlay::AlgorithmMenu:
        paintAlgorithmMenu(canvas);
        break;
    case Overlay::SettingsPanel:
        paintSettingsPanel(canvas);
        break;
    case Overlay::AboutCard:
        paintAboutCard(canvas);
        break;
    case Overlay::None:
        break;
    }
}

void Window::paintMorphDisplay(Canvas& canvas) {
    const bool live = !bypassOn && field.activeA() && field.activeB();
    const Color& lineColor =
        color(live && openOverlay != Overlay::AboutCard ? kColorLines : kColorMuted);
    Point points[kLinePoints];
    for (int j = 0; j < MorphField::kLines; ++j) {
        for (int k = 0; k < kLinePoints; ++k) {
            const float t = static_cast<float>(k) / (kLinePoints - 1);
            points[k] = {kMorphLeft + kMorphWidth * t,
                         kFieldTop + kFieldHeight * (1.0f - field.lineValue(j, t))};
        }
        canvas.strokePolyline(points, kLinePoints, 1.4f, lineColor);
    }
    if (!live)
        return;
    // Markers go on top of every line, where each line crosses the morph position.
    const float mx = morphX();
    for (int j = 0; j < MorphField::kLines; ++j) {
        const float y = kFieldTop + kFieldHeight * (1.0f - field.lineValue(j, morphValue));
        canvas.fillRect(mx - 6.0f, y - 1.0f, 12.0f, 2.0f, color(kColorAccent));
    }
}

void Window::paintInputPanel(Canvas& canvas, bool isB) {
    const float cx = isB ? 726.0f : 34.0f;
    const float meterX = isB ? 692.0f : 0.0f;
    const bool active = isB ? field.activeB() : field.activeA();
    const bool warning = isB && !active && field.activeA();
    const Color& quiet = color(warning ? kColorWarning : kColorMuted);

    const char* letter = isB ? "B" : "A";
    if (active) {
        canvas.fillRoundedRect(cx - 13.0f, 67.0f, 26.0f, 26.0f, 13.0f, color(kColorHandle));
        drawText(canvas, letter, cx, 85.5f, TextRole::Badge, color(kColorGrip), kAlignCenter);
    } else {
        canvas.strokeRect(cx - 13.0f, 67.0f, 26.0f, 26.0f, 13.0f, 1.5f, quiet);
        drawText(canvas, letter, cx, 85.5f, TextRole::Badge, quiet, kAlignCenter);
    }

    drawText(canvas, isB ? "SIDECHAIN" : "MAIN", cx, 108.0f, TextRole::SmallLabel,
             active ? color(kColorInk) : quiet, kAlignCenter);

    const float level = active ? (isB ? inputLevelB : inputLevelA) : 0.0f;
    canvas.fillRect(meterX + 31.0f, 122.0f, 6.0f, 240.0f, color(kColorRowHover));
    canvas.fillRect(meterX + 31.0f, 362.0f - 240.0f * level, 6.0f, 240.0f * level,
                    color(kColorInk));
    for (int q = 0; q < 4; ++q)
        canvas.fillRect(meterX + 27.0f, 121.5f + 80.0f * q, 3.0f, 1.0f, color(kColorMuted));

    const char* state = active ? "LIVE" : (warning ? "NO INPUT" : "SILENT");
    drawText(canvas, state, cx, 382.0f, TextRole::SmallLabel, quiet, kAlignCenter);
}

void Window::paintMorphHandle(Canvas& canvas) {
    const bool dragging = drag == DragMode::Morph;
    const float s = dragging || hoveredElement == ElementId::MorphArea ? 22.0f : 20.0f;
    const float mx = morphX();
    const float pillX = mx - s;
    const float pillY = 66.0f - s / 2.0f;

    canvas.fillRect(mx - 1.5f, 52.0f, 3.0f, 344.0f, color(bypassOn ? kColorMuted : kColorAccent));

    if (morphIsAutomated) {
        canvas.fillRoundedRect(pillX, pillY, 2.0f * s, s, s / 2.0f, color(kColorBackground));
        canvas.strokeRect(pillX, pillY, 2.0f * s, s, s / 2.0f, 1.5f, color(kColorHandle));
        drawText(canvas, "AUTO", mx, 69.0f, TextRole::SmallLabel, color(kColorHandle),
                 kAlignCenter);
        const float w = measure(canvas, kAutomatedCallout, TextRole::Label) + 16.0f;
        const float bx = morphValue > 0.62f ? mx - 200.0f : mx + 28.0f;
        canvas.fillRect(bx + 3.0f, 61.0f, w, 22.0f, color(kColorInk));
        canvas.fillRect(bx, 58.0f, w, 22.0f, color(kColorSurface));
        canvas.strokeRect(bx, 58.0f, w, 22.0f, 0.0f, 1.25f, color(kColorInk));
        drawText(canvas, kAutomatedCallout, bx + 8.0f, 72.5f, TextRole::Label, color(kColorInk));
    } else {
        const Color& fill =
            color(dragging ? kColorAccent : (bypassOn ? kColorMuted : kColorHandle));
        canvas.fillRoundedRect(pillX, pillY, 2.0f * s, s, s / 2.0f, fill);
        const Color& grip = dragging ? kDraggedGrip : color(kColorGrip);
        for (int i = -1; i <= 1; ++i)
            canvas.fillRect(mx - 0.75f + 4.0f * i, 61.5f, 1.5f, 9.0f, grip);
    }

    if (ringOn(ElementId::MorphArea))
        canvas.strokeRect(mx - s - 4.0f, 62.0f - s / 2.0f, 2.0f * s + 8.0f, s + 8.0f,
                          s / 2.0f + 4.0f, 2.0f, color(kColorFocus));
}

void Window::paintTopBar(Canvas& canvas) {
    const Color& ink = color(kColorInk);
    canvas.fillRect(0.0f, 50.75f, kWidth, 1.25f, ink);
    canvas.fillPath(kWordmarkPath, 16.0f, 33.0f, 3.0f / 14.0f, ink);

    if (hoveredElement == ElementId::PresetPill)
        canvas.fillRoundedRect(456.0f, 14.0f, 150.0f, 26.0f, 13.0f, color(kColorSurface));
    canvas.strokeRect(455.375f, 13.375f, 151.25f, 27.25f, 13.625f, 1.25f, ink);
    canvas.strokePath(kMenuIcon, 465.25f, 19.0f, 2.0f / 3.0f, 2.0f, ink);
    drawText(canvas, "INIT", 486.25f, 30.5f, TextRole::Label, ink);

    canvas.strokePath(kSettingsIcon, 616.0f, 17.0f, 5.0f / 6.0f, 2.0f, ink);

    if (bypassOn)
        canvas.fillRoundedRect(648.0f, 14.0f, 96.0f, 26.0f, 13.0f, ink);
    else if (hoveredElement == ElementId::BypassButton)
        canvas.fillRoundedRect(648.0f, 14.0f, 96.0f, 26.0f, 13.0f, color(kColorSurface));
    canvas.strokeRect(647.375f, 13.375f, 97.25f, 27.25f, 13.625f, 1.25f, ink);
    drawText(canvas, "BYPASS", 696.0f, 30.5f, TextRole::Label,
             bypassOn ? color(kColorBackground) : ink, kAlignCenter);

    const Color& focus = color(kColorFocus);
    if (ringOn(ElementId::Wordmark))
        canvas.strokeRect(12.0f, 14.0f, 235.411f, 23.0f, 4.0f, 2.0f, focus);
    if (ringOn(ElementId::PresetPill))
        canvas.strokeRect(452.0f, 10.0f, 158.0f, 34.0f, 17.0f, 2.0f, focus);
    if (ringOn(ElementId::SettingsButton))
        canvas.strokeRect(608.0f, 9.0f, 36.0f, 36.0f, 4.0f, 2.0f, focus);
    if (ringOn(ElementId::BypassButton))
        canvas.strokeRect(644.0f, 10.0f, 104.0f, 34.0f, 17.0f, 2.0f, focus);
}

void Window::paintBottomStrip(Canvas& canvas) {
    const Color& ink = color(kColorInk);
    const Color& muted = color(kColorMuted);
    const Color& value = valueColor();
    const Color& focus = color(kColorFocus);
    char text[64];

    canvas.fillRect(0.0f, 396.0f, kWidth, 1.25f, ink);

    // The morph figure widens with the morph itself.
    drawText(canvas, "morph", 16.0f, 470.0f, TextRole::Display, value);
    const float wordWidth = measure(canvas, "morph", TextRole::Display);
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(morphValue));
    const TextStyle figure{kFontSans, 58.0f, 900.0f, 50.0f + 100.0f * morphValue, 0, 0.0f};
    canvas.drawText(text, textLength(text), 16.0f + wordWidth + 3.0f, 470.0f, figure, value,
                    kAlignLeft);

    const char* name = kAlgorithmNames[algorithmIndex];
    drawText(canvas, "ALGORITHM", 352.0f, 434.5f, TextRole::Label, muted);
    drawText(canvas, name, 352.0f, 459.0f, TextRole::Value, value);
    const float f = 352.0f + measure(canvas, name, TextRole::Value) + 9.0f;
    const Point chevron[3] = {{f, 450.5f}, {f + 5.0f, 455.5f}, {f + 10.0f, 450.5f}};
    canvas.strokePolyline(chevron, 3, 1.5f, value);
    if (openOverlay == Overlay::AlgorithmMenu)
        canvas.fillRect(352.0f, 464.0f, 138.0f, 3.0f, ink);
    else if (hoveredElement == ElementId::AlgorithmSelector)
        canvas.fillRect(352.0f, 465.0f, 138.0f, 1.5f, ink);
    if (ringOn(ElementId::AlgorithmSelector))
        canvas.strokeRect(346.0f, 420.0f, 150.0f, 60.0f, 0.0f, 2.0f, focus);

    drawText(canvas, "MIX", 504.0f, 434.5f, TextRole::Label, muted);
    std::snprintf(text, sizeof text, "%d%%", static_cast<int>(std::lround(mixValue * 100.0f)));
    drawText(canvas, text, 504.0f, 459.0f, TextRole::Value, value);
    if (hoveredElement == ElementId::MixValue || drag == DragMode::Mix)
        canvas.fillRect(504.0f, 465.0f, 60.0f, 1.5f, ink);
    if (ringOn(ElementId::MixValue))
        canvas.strokeRect(498.0f, 420.0f, 72.0f, 60.0f, 0.0f, 2.0f, focus);

    drawText(canvas, "LATENCY", 588.0f, 434.5f, TextRole::Label, muted);
    std::snprintf(text, sizeof text, "%d ms", static_cast<int>(std::lround(latency)));
    drawText(canvas, text, 588.0f, 459.0f, TextRole::Value, muted);

    double rounded = std::round(static_cast<double>(outputDb) * 10.0) / 10.0;
    if (rounded == 0.0)
        rounded = 0.0; // never print a minus zero
    std::snprintf(text, sizeof text, "%s%.1f dB", rounded > 0.0 ? "+" : "", rounded);
    drawText(canvas, "OUTPUT", 670.0f, 434.5f, TextRole::Label, muted);
    drawText(canvas, text, 670.0f, 459.0f, TextRole::Value, value);
    if (hoveredElement == ElementId::OutputValue || drag == DragMode::Output)
        canvas.fillRect(670.0f, 465.0f, 68.0f, 1.5f, ink);
    if (ringOn(ElementId::OutputValue))
        canvas.strokeRect(664.0f, 420.0f, 80.0f, 60.0f, 0.0f, 2.0f, focus);
}

void Window::paintStatusCard(Canvas& canvas, const StatusMessage& message) {
    const Color& ink = color(kColorInk);
    const TextStyle& body = textStyle(TextRole::Body);
    const int32_t bodyLength = textLength(message.body);
    const float x = message.x;
    const float y = message.y;

    bodyHeight =
        canvas.measureTextBlock(message.body, bodyLength, kStatusBodyWidth, kBodyLineHeight, body);
    const float height = bodyHeight + 36.0f + (message.routeButton ? 48.5f : 17.0f);

    canvas.fillRect(x + 4.0f, y + 4.0f, 284.0f, height, ink);
    canvas.fillRect(x, y, 284.0f, height, color(kColorBackground));
    canvas.strokeRect(x - 0.625f, y - 0.625f, 285.25f, height + 1.25f, 0.0f, 1.25f, ink);

    drawText(canvas, message.title, x + 16.0f, y + 30.5f, TextRole::Title, ink);
    canvas.drawTextBlock(message.body, bodyLength, x + 16.0f, y + 53.0f, kStatusBodyWidth,
                         kBodyLineHeight, body, ink);

    if (!message.routeButton)
        return;
    const float by = y + 36.0f + bodyHeight + 10.0f;
    if (hoveredElement == ElementId::RouteButton)
        canvas.fillRoundedRect(x + 16.0f, by, 120.0f, 26.0f, 13.0f, color(kColorSurface));
    canvas.strokeRect(x + 15.375f, by - 0.625f, 121.25f, 27.25f, 13.625f, 1.25f, ink);
    drawText(canvas, "HOW TO ROUTE", x + 76.0f, by + 16.5f, TextRole::Label, ink, kAlignCenter);
}

void Window::paintAlgorithmMenu(Canvas& canvas) {
    const Color& ink = color(kColorInk);
    canvas.fillRect(328.0f, 196.0f, 420.0f, 192.0f, ink);
    canvas.fillRect(324.0f, 192.0f, 420.0f, 192.0f, color(kColorSurface));
    canvas.strokeRect(323.375f, 191.375f, 421.25f, 193.25f, 0.0f, 1.25f, ink);

    for (int i = 0; i < kMenuRows; ++i) {
        const float ry = 196.0f + 46.0f * i;
        const bool current = i == algorithmIndex;
        if (current)
            canvas.fillRect(328.0f, ry, 412.0f, 46.0f, ink);
        else if (i == menuHoverRow)
            canvas.fillRect(328.0f, ry, 412.0f, 46.0f, color(kColorRowHover));
        const Color& text = current ? color(kColorSurface) : ink;
        drawText(canvas, kAlgorithmNames[i], 338.0f, ry + 20.0f, TextRole::ItemName, text);
        drawText(canvas, kAlgorithmDescriptions[i], 338.0f, ry + 37.0f, TextRole::ItemText, text);
        if (focusIsVisible && i == menuKeyRow)
            canvas.strokeRect(328.0f, ry, 412.0f, 46.0f, 0.0f, 2.0f, color(kColorFocus));
    }
}

void Window::paintSettingsPanel(Canvas& canvas) {
    const Color& ink = color(kColorInk);
    const Color& focus = color(kColorFocus);
    canvas.fillRect(368.0f, 50.0f, 380.0f, 186.0f, ink);
    canvas.fillRect(364.0f, 46.0f, 380.0f, 186.0f, color(kColorSurface));
    canvas.strokeRect(363.375f, 45.375f, 381.25f, 187.25f, 0.0f, 1.25f, ink);

    drawText(canvas, "QUALITY", 378.0f, 66.0f, TextRole::Label, color(kColorMuted));
    const int32_t currentQuality = highQuality ? 1 : 0;
    char text[64];
    for (int32_t i = 0; i < 2; ++i) {
        const float ry = 74.0f + 46.0f * i;
        const bool selected = i == currentQuality;
        if (selected)
            canvas.fillRect(368.0f, ry, 372.0f, 46.0f, ink);
        else if (i == panelHoverItem)
            canvas.fillRect(368.0f, ry, 372.0f, 46.0f, color(kColorRowHover));
        const Color& textColor = selected ? color(kColorSurface) : ink;
        drawText(canvas, kQualityNames[i], 378.0f, ry + 20.0f, TextRole::ItemName, textColor);
        const float ms = i == 0 ? latencyStandard : latencyHigh;
        std::snprintf(text, sizeof text, "%d MS LATENCY", static_cast<int>(std::lround(ms)));
        drawText(canvas, text, 730.0f - measure(canvas, text, TextRole::Label), ry + 19.0f,
                 TextRole::Label, textColor);
        drawText(canvas, kQualityDescriptions[i], 378.0f, ry + 37.0f, TextRole::ItemText,
                 textColor);
        if (focusIsVisible && i == panelKeyItem)
            canvas.strokeRect(368.0f, ry, 372.0f, 46.0f, 0.0f, 2.0f, focus);
    }

    drawText(canvas, "THEME", 378.0f, 186.0f, TextRole::Label, color(kColorMuted));
    for (int32_t item = kItemPaper; item <= kItemInk; ++item) {
        const float x = item == kItemPaper ? 368.0f : 554.0f;
        const bool current = themeIndex == item - kItemPaper;
        if (current)
            canvas.fillRect(x, 194.0f, 186.0f, 34.0f, ink);
        else if (item == panelHoverItem)
            canvas.fillRect(x, 194.0f, 186.0f, 34.0f, color(kColorRowHover));
        drawText(canvas, kThemeNames[item - kItemPaper], x + 10.0f, 216.0f, TextRole::ItemName,
                 current ? color(kColorSurface) : ink);
        if (focusIsVisible && item == panelKeyItem)
            canvas.strokeRect(x, 194.0f, 186.0f, 34.0f, 0.0f, 2.0f, focus);
    }
}

void Window::paintAboutCard(Canvas& canvas) {
    const Color& ink = color(kColorInk);
    canvas.fillRect(206.0f, 110.0f, 360.0f, 226.0f, ink);
    canvas.fillRect(200.0f, 104.0f, 360.0f, 226.0f, color(kColorBackground));
    canvas.strokeRect(199.375f, 103.375f, 361.25f, 227.25f, 0.0f, 1.25f, ink);

    canvas.fillPath(kWordmarkPath, 225.0f, 156.5f, 31.0f / 140.0f, ink);

    char text[128];
    std::snprintf(text, sizeof text, "VERSION %s", versionText.c_str());
    drawText(canvas, text, 225.0f, 228.0f, TextRole::SmallLabel, color(kColorMuted));

    const char* trademark = "VST3 is a trademark of Steinberg Media Technologies GmbH.";
    canvas.drawTextBlock(trademark, textLength(trademark), 225.0f, 254.0f, 310.0f, kBodyLineHeight,
                         textStyle(TextRole::Body), ink);
    drawText(canvas, "Fonts under the SIL Open Font License.", 225.0f, 290.0f, TextRole::Body, ink);
}

// --- Hit testing and pointer shape ---------------------------------------------------------

Hit Window::hitTest(float x, float y) const {
    switch (openOverlay) {
    case Overlay::AboutCard:
        return {};
    case Overlay::SettingsPanel:
        if (kQualityBox.holds(x, y))
            return {ElementId::SettingsItem, static_cast<int32_t>((y - kQualityBox.top) / 46.0f)};
        if (kThemeBox.holds(x, y))
            return {ElementId::SettingsItem, x < 554.0f ? kItemPaper : kItemInk};
        return {};
    case Overlay::AlgorithmMenu:
        if (kMenuBox.holds(x, y))
            return {ElementId::AlgorithmMenuRow,
                    std::clamp(static_cast<int32_t>((y - 196.0f) / 46.0f), 0, kMenuRows - 1)};
        return {};
    case Overlay::None:
        break;
    }

    const StatusMessage message = field.statusMessage();
    if (message.shown && message.routeButton) {
        const Box route = {message.x + 16.0f, message.y + 46.0f + bodyHeight, message.x + 136.0f,
                           message.y + 72.0f + bodyHeight};
        if (route.holds(x, y))
            return {ElementId::RouteButton, -1};
    }
    for (const Area& area : kAreas)
        if (area.box.holds(x, y))
            return {area.element, -1};
    return {};
}

CursorKind Window::cursorKind() const {
    switch (drag) {
    case DragMode::Morph:
        return CursorKind::ResizeHorizontal;
    case DragMode::Mix:
    case DragMode::Output:
        return CursorKind::ResizeVertical;
    case DragMode::None:
        break;
    }
    switch (hoveredElement) {
    case ElementId::None:
    case ElementId::PresetPill:
        return CursorKind::Arrow;
    case ElementId::MorphArea:
        return morphIsAutomated ? CursorKind::Arrow : CursorKind::ResizeHorizontal;
    case ElementId::MixValue:
    case ElementId::OutputValue:
        return CursorKind::ResizeVertical;
    default:
        return CursorKind::Hand;
    }
}

// --- Pointer -------------------------------------------------------------------------------

void Window::onMouseDown(float x, float y) {
    // A press without the release of the previous drag (a lost capture) still closes that
    // gesture, so the host never sees a begin without its end.
    if (drag != DragMode::None)
        onMouseUp(x, y);

    focusIsVisible = false;
    const Hit hit = hitTest(x, y);
    switch (openOverlay) {
    case Overlay::AboutCard:
        openOverlay = Overlay::None;
        focusedElement = ElementId::Wordmark;
        return;
    case Overlay::AlgorithmMenu:
        if (hit.element == ElementId::AlgorithmMenuRow) {
            algorithmIndex = hit.index;
            gesture(kParamAlgorithm, static_cast<float>(algorithmIndex));
        }
        closeMenu();
        return;
    case Overlay::SettingsPanel:
        if (hit.element == ElementId::SettingsItem)
            applySettingsItem(hit.index);
        closeSettings();
        return;
    case Overlay::None:
        break;
    }
    focusedElement = ElementId::None;
    pressWithoutOverlay(hit, x, y);
}

void Window::pressWithoutOverlay(const Hit& hit, float x, float y) {
    switch (hit.element) {
    case ElementId::Wordmark:
        openOverlay = Overlay::AboutCard;
        break;
    case ElementId::SettingsButton:
        panelKeyItem = highQuality ? 1 : 0;
        openOverlay = Overlay::SettingsPanel;
        focusedElement = ElementId::SettingsButton;
        break;
    case ElementId::BypassButton:
        setBypass(!bypassOn);
        gesture(kParamBypass, bypassOn ? 1.0f : 0.0f);
        break;
    case ElementId::MorphArea:
        if (morphIsAutomated)
            break;
        drag = DragMode::Morph;
        focusedElement = ElementId::MorphArea;
        begin(kParamMorph);
        morphValue = morphFromX(x);
        perform(kParamMorph, morphValue);
        break;
    case ElementId::AlgorithmSelector:
        menuKeyRow = algorithmIndex;
        openOverlay = Overlay::AlgorithmMenu;
        focusedElement = ElementId::AlgorithmSelector;
        break;
    case ElementId::MixValue:
    case ElementId::OutputValue: {
        const bool isMix = hit.element == ElementId::MixValue;
        dragLastY = y;
        drag = isMix ? DragMode::Mix : DragMode::Output;
        focusedElement = hit.element;
        begin(isMix ? kParamMix : kParamOutput);
        break;
    }
    case ElementId::RouteButton:
        if (listener != nullptr)
            listener->openSetupPage();
        break;
    default:
        break;
    }
}

void Window::onMouseMove(float x, float y) {
    switch (drag) {
    case DragMode::Morph:
        morphValue = morphFromX(x);
        perform(kParamMorph, morphValue);
        return;
    case DragMode::Mix:
        mixValue = std::clamp(mixValue + (dragLastY - y) * kMixPerUnit, 0.0f, 1.0f);
        dragLastY = y;
        perform(kParamMix, mixValue);
        return;
    case DragMode::Output:
        outputDb =
            std::clamp(outputDb + (dragLastY - y) * kOutputDbPerUnit, kOutputMinDb, kOutputMaxDb);
        dragLastY = y;
        perform(kParamOutput, outputDb);
        return;
    case DragMode::None:
        break;
    }
    const Hit hit = hitTest(x, y);
    hoveredElement = hit.element;
    menuHoverRow = hit.element == ElementId::AlgorithmMenuRow ? hit.index : -1;
    panelHoverItem = hit.element == ElementId::SettingsItem ? hit.index : -1;
}

void Window::onMouseUp(float, float) {
    if (drag == DragMode::None)
        return;
    const ParamIndex index = paramOfDrag(drag);
    drag = DragMode::None;
    end(index);
}

void Window::onDoubleClick(float x, float y) {
    if (openOverlay == Overlay::AlgorithmMenu || openOverlay == Overlay::AboutCard)
        return;
    if (morphIsAutomated || !kMorphBox.holds(x, y))
        return;
    morphValue = 0.5f;
    gesture(kParamMorph, morphValue);
}

void Window::onMouseLeave() {
    hoveredElement = ElementId::None;
    menuHoverRow = -1;
    panelHoverItem = -1;
}

// --- Keys ----------------------------------------------------------------------------------

void Window::onKey(Key key, bool shift) {
    focusIsVisible = true;
    switch (openOverlay) {
    case Overlay::AboutCard:
        if (isActivation(key) || key == Key::Escape) {
            openOverlay = Overlay::None;
            focusedElement = ElementId::Wordmark;
        }
        return;
    case Overlay::AlgorithmMenu:
        keyInMenu(key);
        return;
    case Overlay::SettingsPanel:
        keyInSettings(key);
        return;
    case Overlay::None:
        break;
    }
    if (key == Key::Tab)
        moveFocus(shift);
    else
        keyWithoutOverlay(key, shift);
}

void Window::keyInMenu(Key key) {
    if (key == Key::Up) {
        menuKeyRow = (menuKeyRow + kMenuRows - 1) % kMenuRows;
    } else if (key == Key::Down) {
        menuKeyRow = (menuKeyRow + 1) % kMenuRows;
    } else if (isActivation(key)) {
        algorithmIndex = std::clamp(menuKeyRow, 0, kAlgorithms - 1);
        gesture(kParamAlgorithm, static_cast<float>(algorithmIndex));
        closeMenu();
    } else if (key == Key::Escape) {
        closeMenu();
    }
}

void Window::keyInSettings(Key key) {
    const float direction = arrowDirection(key);
    if (direction != 0.0f) {
        // Left and Up go back, Right and Down forward.
        const bool back = key == Key::Left || key == Key::Up;
        panelKeyItem = (panelKeyItem + (back ? kSettingsItems - 1 : 1)) % kSettingsItems;
    } else if (isActivation(key)) {
        applySettingsItem(panelKeyItem);
        closeSettings();
    } else if (key == Key::Escape) {
        closeSettings();
    }
}

void Window::keyWithoutOverlay(Key key, bool shift) {
    switch (focusedElement) {
    case ElementId::Wordmark:
        if (isActivation(key))
            openOverlay = Overlay::AboutCard;
        break;
    case ElementId::SettingsButton:
        if (isActivation(key)) {
            panelKeyItem = highQuality ? 1 : 0;
            openOverlay = Overlay::SettingsPanel;
        }
        break;
    case ElementId::BypassButton:
        if (isActivation(key)) {
            setBypass(!bypassOn);
            gesture(kParamBypass, bypassOn ? 1.0f : 0.0f);
        }
        break;
    case ElementId::AlgorithmSelector:
        if (isActivation(key)) {
            menuKeyRow = algorithmIndex;
            openOverlay = Overlay::AlgorithmMenu;
        }
        break;
    // While the pointer drags a value its gesture is open; a key gesture would nest inside it.
    case ElementId::MorphArea:
        if (drag == DragMode::None)
            stepMorph(key, shift);
        break;
    case ElementId::MixValue:
        if (drag == DragMode::None)
            stepValue(key, shift, kParamMix);
        break;
    case ElementId::OutputValue:
        if (drag == DragMode::None)
            stepValue(key, shift, kParamOutput);
        break;
    default:
        break;
    }
}

void Window::stepMorph(Key key, bool shift) {
    if (morphIsAutomated)
        return;
    float value = morphValue;
    const float direction = arrowDirection(key);
    if (direction != 0.0f)
        value += direction * (shift ? 0.001f : 0.01f);
    else if (key == Key::PageUp)
        value += 0.1f;
    else if (key == Key::PageDown)
        value -= 0.1f;
    else if (key == Key::Home)
        value = 0.0f;
    else if (key == Key::End)
        value = 1.0f;
    else
        return;
    morphValue = std::clamp(value, 0.0f, 1.0f);
    gesture(kParamMorph, morphValue);
}

void Window::stepValue(Key key, bool shift, ParamIndex index) {
    const float direction = arrowDirection(key);
    if (direction == 0.0f)
        return;
    if (index == kParamMix) {
        mixValue = std::clamp(mixValue + direction * (shift ? 0.005f : 0.01f), 0.0f, 1.0f);
        gesture(kParamMix, mixValue);
    } else {
        outputDb =
            std::clamp(outputDb + direction * (shift ? 0.1f : 0.2f), kOutputMinDb, kOutputMaxDb);
        gesture(kParamOutput, outputDb);
    }
}

void Window::moveFocus(bool backwards) {
    int position = -1;
    for (int i = 0; i < kFocusCount; ++i)
        if (kFocusOrder[i] == focusedElement)
            position = i;
    if (position < 0)
        position = backwards ? kFocusCount - 1 : 0;
    else
        position = (position + (backwards ? kFocusCount - 1 : 1)) % kFocusCount;
    focusedElement = kFocusOrder[position];
}

// --- Overlays and gestures -----------------------------------------------------------------

void Window::applySettingsItem(int32_t item) {
    if (item == kItemPaper || item == kItemInk) {
        // The theme is the view's own; the editor host picks it up from there.
        themeIndex = item == kItemInk ? kThemeInk : kThemePaper;
        return;
    }
    const bool high = item == 1;
    if (high == highQuality)
        return;
    highQuality = high;
    gesture(kParamQuality, high ? 1.0f : 0.0f);
}

void Window::closeMenu() {
    openOverlay = Overlay::None;
    menuHoverRow = -1;
    focusedElement = ElementId::AlgorithmSelector;
}

void Window::closeSettings() {
    openOverlay = Overlay::None;
    panelHoverItem = -1;
    focusedElement = ElementId::SettingsButton;
}

void Window::gesture(ParamIndex index, float value) {
    begin(index);
    perform(index, value);
    end(index);
}

void Window::begin(ParamIndex index) {
    if (listener != nullptr)
        listener->beginEdit(index);
}

void Window::perform(ParamIndex index, float value) {
    if (listener != nullptr)
        listener->performEdit(index, value);
}

void Window::end(ParamIndex index) {
    if (listener != nullptr)
        listener->endEdit(index);
}

} // namespace tav::ui
