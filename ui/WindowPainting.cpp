// The view's painting: every frame whole, each control in its box from EditorLayout.
#include "ui/EditorLayout.h"
#include "ui/Window.h"
#include "ui/Wordmark.h"

#include "ui/NameField.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace tav::ui {
namespace {

constexpr int kLinePoints = 41;

constexpr float kStatusBodyWidth = 252.0f;
constexpr float kBodyLineHeight = 18.2f;

// Outlines are centred on their box's edge.
constexpr float kOutline = 1.25f;
constexpr float kHalfOutline = kOutline / 2.0f;
// Focus rings stand this far outside the top bar's controls; the bottom strip's trace their box.
constexpr float kRingGap = 4.0f;
constexpr float kRingWidth = 2.0f;
// The wordmark's ring was sized to the measured wordmark, a hair wider than its box.
constexpr float kWordmarkRingWidth = 235.411f;
// The bottom strip's fields: label and value this far inside the box, their baselines this far
// below its top, the underline under both.
constexpr float kFieldInset = 6.0f;
constexpr float kFieldLabelY = 14.5f;
constexpr float kFieldValueY = 39.0f;
constexpr float kFieldUnderlineY = 45.0f;

constexpr const char* kMenuIcon = "M3 6 H21 M3 12 H21 M3 18 H14";
constexpr const char* kSettingsIcon =
    "M3 7 H13 M19 7 H21 M3 17 H5 M11 17 H21 M13 4 H19 V10 H13 Z M5 14 H11 V20 H5 Z";
constexpr const char* kAutomatedCallout = "AUTOMATED IN YOUR DAW";

using model::kAlgorithmNames;
using model::kQualityNames;
constexpr const char* kAlgorithmDescriptions[] = {
    "The harmonics slide from A to B. For tonal and polyphonic sounds.",
    "Single tones pair up and glide. For clean instruments and voices.",
    "B's voice lands on A's notes first. For vocals and talkers.",
    "A soft blur through the middle. For pads, noise and textures.",
};
constexpr const char* kQualityDescriptions[2] = {
    "Less delay. For playing live, and most sounds.",
    "Separates low notes better. For mixing, not playing live.",
};
constexpr const char* kThemeNames[2] = {"Paper", "Ink"};

// Grip marks of a dragged handle stay dark in both themes (they sit on the accent).
constexpr Color kDraggedGrip = colorFromHex(0x0C0C0B);

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

void fillBox(Canvas& canvas, const Box& box, const Color& color) {
    canvas.fillRect(box.left, box.top, box.width(), box.height(), color);
}

void fillPill(Canvas& canvas, const Box& box, const Color& color) {
    canvas.fillRoundedRect(box.left, box.top, box.width(), box.height(), box.height() / 2.0f,
                           color);
}

void outline(Canvas& canvas, const Box& box, float radius, const Color& color) {
    canvas.strokeRect(box.left - kHalfOutline, box.top - kHalfOutline, box.width() + kOutline,
                      box.height() + kOutline, radius, kOutline, color);
}

void outlinePill(Canvas& canvas, const Box& box, const Color& color) {
    outline(canvas, box, box.height() / 2.0f + kHalfOutline, color);
}

// An overlay's panel: a hard shadow down and right, the fill, the outline.
void paintPanel(Canvas& canvas, const Box& box, float shadow, const Color& fill, const Color& ink) {
    canvas.fillRect(box.left + shadow, box.top + shadow, box.width(), box.height(), ink);
    fillBox(canvas, box, fill);
    outline(canvas, box, 0.0f, ink);
}

void underline(Canvas& canvas, const Box& field, const Color& ink) {
    canvas.fillRect(field.left + kFieldInset, field.top + kFieldUnderlineY,
                    field.width() - 2.0f * kFieldInset, 1.5f, ink);
}

void ringOutside(Canvas& canvas, const Box& box, float radius, const Color& focus) {
    canvas.strokeRect(box.left - kRingGap, box.top - kRingGap, box.width() + 2.0f * kRingGap,
                      box.height() + 2.0f * kRingGap, radius, kRingWidth, focus);
}

void ringOnBox(Canvas& canvas, const Box& box, const Color& focus) {
    canvas.strokeRect(box.left, box.top, box.width(), box.height(), 0.0f, kRingWidth, focus);
}

// The compact rows of the preset menu: categories bold, presets regular, both in the sans.
constexpr TextStyle kRowStyle{kFontSans, 13.0f, 400.0f, 100.0f, 0, 0.0f};
constexpr TextStyle kGroupStyle{kFontSans, 13.0f, 700.0f, 100.0f, 0, 0.0f};
constexpr float kRowTextInset = 10.0f;
constexpr float kRowBaseline = 17.5f;
constexpr const char* kEllipsis = "\u2026";

// The pill's text stands right of its menu icon; the field's where the icon was.
constexpr float kPillTextInset = 30.25f;
constexpr float kPillTextRight = 12.0f;
constexpr float kFieldTextInset = 14.0f;
constexpr float kPillBaseline = 16.5f;

float measureView(Canvas& canvas, std::string_view text, const TextStyle& style) {
    return canvas.measureText(text.data(), static_cast<int32_t>(text.size()), style);
}

// Byte offset of the character before `at`.
size_t previousCharacter(std::string_view text, size_t at) {
    while (at > 0) {
        --at;
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80)
            break;
    }
    return at;
}

// The text as it fits in maxWidth: whole, or as many whole characters as fit with an ellipsis.
std::string fitted(Canvas& canvas, std::string_view text, const TextStyle& style, float maxWidth) {
    if (measureView(canvas, text, style) <= maxWidth)
        return std::string(text);
    size_t length = text.size();
    std::string candidate;
    while (length > 0) {
        length = previousCharacter(text, length);
        candidate.assign(text.substr(0, length));
        while (!candidate.empty() && candidate.back() == ' ')
            candidate.pop_back();
        candidate += kEllipsis;
        if (measureView(canvas, candidate, style) <= maxWidth)
            return candidate;
    }
    return kEllipsis;
}

// Labels are set in capitals: the Latin letters the fonts hold, each as its capital where the
// fonts hold that too (ß and ÿ keep their form).
std::string capitals(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        char32_t c = 0;
        const int32_t length = decodeUtf8(text, at, c);
        if (length == 0) {
            out += text[at++];
            continue;
        }
        at += static_cast<size_t>(length);
        if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
            c -= 0x20;
        else if (c == 0x153)
            c = 0x152;
        else if (c == 0x131)
            c = 'I';
        out += encodeUtf8(c);
    }
    return out;
}

void chevron(Canvas& canvas, float x, float y, bool down, const Color& color) {
    if (down) {
        const Point points[3] = {{x - 4.0f, y - 2.0f}, {x, y + 2.0f}, {x + 4.0f, y - 2.0f}};
        canvas.strokePolyline(points, 3, 1.5f, color);
    } else {
        const Point points[3] = {{x - 2.0f, y - 4.0f}, {x + 2.0f, y}, {x - 2.0f, y + 4.0f}};
        canvas.strokePolyline(points, 3, 1.5f, color);
    }
}

} // namespace

const Color& Window::valueColor() const {
    return color(bypassOn ? kColorMuted : kColorInk);
}

float Window::morphX() const {
    return EditorLayout::morphX(morphValue);
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
    const StatusMessage message = shownStatus();
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
    case Overlay::PresetMenu:
        paintPresetMenu(canvas);
        break;
    case Overlay::NameField:
        paintNameField(canvas);
        break;
    case Overlay::None:
        break;
    }
}

void Window::paintMorphDisplay(Canvas& canvas) {
    const Box& lines = EditorLayout::kLineField;
    const bool live = !bypassOn && field.activeA() && field.activeB();
    const Color& lineColor =
        color(live && openOverlay != Overlay::AboutCard ? kColorLines : kColorMuted);
    Point points[kLinePoints];
    for (int j = 0; j < MorphField::kLines; ++j) {
        for (int k = 0; k < kLinePoints; ++k) {
            const float t = static_cast<float>(k) / (kLinePoints - 1);
            points[k] = {lines.left + lines.width() * t,
                         lines.top + lines.height() * (1.0f - field.lineValue(j, t))};
        }
        canvas.strokePolyline(points, kLinePoints, 1.4f, lineColor);
    }
    if (!live)
        return;
    // Markers go on top of every line, where each line crosses the morph position.
    const float mx = morphX();
    for (int j = 0; j < MorphField::kLines; ++j) {
        const float y = lines.top + lines.height() * (1.0f - field.lineValue(j, morphValue));
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
    const Box& area = EditorLayout::kMorphArea;
    const float handleY = EditorLayout::kHandleY;
    const bool dragging = drag == DragMode::Morph;
    const float s = dragging || hoveredElement == ElementId::MorphArea ? 22.0f : 20.0f;
    const float mx = morphX();
    const float pillX = mx - s;
    const float pillY = handleY - s / 2.0f;

    canvas.fillRect(mx - 1.5f, area.top, 3.0f, area.height(),
                    color(bypassOn ? kColorMuted : kColorAccent));

    if (morphIsAutomated) {
        canvas.fillRoundedRect(pillX, pillY, 2.0f * s, s, s / 2.0f, color(kColorBackground));
        canvas.strokeRect(pillX, pillY, 2.0f * s, s, s / 2.0f, 1.5f, color(kColorHandle));
        drawText(canvas, "AUTO", mx, handleY + 3.0f, TextRole::SmallLabel, color(kColorHandle),
                 kAlignCenter);
        const float w = measure(canvas, kAutomatedCallout, TextRole::Label) + 16.0f;
        const float bx = morphValue > 0.62f ? mx - 200.0f : mx + 28.0f;
        canvas.fillRect(bx + 3.0f, handleY - 5.0f, w, 22.0f, color(kColorInk));
        canvas.fillRect(bx, handleY - 8.0f, w, 22.0f, color(kColorSurface));
        canvas.strokeRect(bx, handleY - 8.0f, w, 22.0f, 0.0f, 1.25f, color(kColorInk));
        drawText(canvas, kAutomatedCallout, bx + 8.0f, handleY + 6.5f, TextRole::Label,
                 color(kColorInk));
    } else {
        const Color& fill =
            color(dragging ? kColorAccent : (bypassOn ? kColorMuted : kColorHandle));
        canvas.fillRoundedRect(pillX, pillY, 2.0f * s, s, s / 2.0f, fill);
        const Color& grip = dragging ? kDraggedGrip : color(kColorGrip);
        for (int i = -1; i <= 1; ++i)
            canvas.fillRect(mx - 0.75f + 4.0f * i, handleY - 4.5f, 1.5f, 9.0f, grip);
    }

    if (ringOn(ElementId::MorphArea))
        canvas.strokeRect(mx - s - 4.0f, handleY - 4.0f - s / 2.0f, 2.0f * s + 8.0f, s + 8.0f,
                          s / 2.0f + 4.0f, 2.0f, color(kColorFocus));
}

void Window::paintTopBar(Canvas& canvas) {
    const Box& wordmark = EditorLayout::kWordmark;
    const Box& preset = EditorLayout::kPresetPill;
    const Box& settings = EditorLayout::kSettingsButton;
    const Box& bypass = EditorLayout::kBypassButton;
    const Color& ink = color(kColorInk);
    canvas.fillRect(0.0f, 50.75f, kWidth, 1.25f, ink);
    canvas.fillPath(kWordmarkPath, wordmark.left, wordmark.bottom, 3.0f / 14.0f, ink);

    if (openOverlay != Overlay::NameField)
        paintPresetPill(canvas);

    canvas.strokePath(kSettingsIcon, settings.left + 4.0f, settings.top + 4.0f, 5.0f / 6.0f, 2.0f,
                      ink);

    if (bypassOn)
        fillPill(canvas, bypass, ink);
    else if (hoveredElement == ElementId::BypassButton)
        fillPill(canvas, bypass, color(kColorSurface));
    outlinePill(canvas, bypass, ink);
    drawText(canvas, "BYPASS", bypass.centre().x, bypass.top + 16.5f, TextRole::Label,
             bypassOn ? color(kColorBackground) : ink, kAlignCenter);

    const Color& focus = color(kColorFocus);
    if (ringOn(ElementId::Wordmark))
        canvas.strokeRect(wordmark.left - kRingGap, wordmark.top - kRingGap, kWordmarkRingWidth,
                          wordmark.height() + 2.0f * kRingGap, 4.0f, kRingWidth, focus);
    if (ringOn(ElementId::PresetPill) && openOverlay != Overlay::NameField)
        ringOutside(canvas, preset, preset.height() / 2.0f + kRingGap, focus);
    if (ringOn(ElementId::SettingsButton))
        ringOutside(canvas, settings, 4.0f, focus);
    if (ringOn(ElementId::BypassButton))
        ringOutside(canvas, bypass, bypass.height() / 2.0f + kRingGap, focus);
}

void Window::paintBottomStrip(Canvas& canvas) {
    const Box& selector = EditorLayout::kAlgorithmSelector;
    const Box& mix = EditorLayout::kMixValue;
    const Box& output = EditorLayout::kOutputValue;
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
    const float nameX = selector.left + kFieldInset;
    drawText(canvas, "ALGORITHM", nameX, selector.top + kFieldLabelY, TextRole::Label, muted);
    drawText(canvas, name, nameX, selector.top + kFieldValueY, TextRole::Value, value);
    const float f = nameX + measure(canvas, name, TextRole::Value) + 9.0f;
    const float chevronY = selector.top + 30.5f;
    const Point chevron[3] = {{f, chevronY}, {f + 5.0f, chevronY + 5.0f}, {f + 10.0f, chevronY}};
    canvas.strokePolyline(chevron, 3, 1.5f, value);
    // While the menu is open its selector's underline is heavier.
    if (openOverlay == Overlay::AlgorithmMenu)
        canvas.fillRect(nameX, selector.top + 44.0f, selector.width() - 2.0f * kFieldInset, 3.0f,
                        ink);
    else if (hoveredElement == ElementId::AlgorithmSelector)
        underline(canvas, selector, ink);
    if (ringOn(ElementId::AlgorithmSelector))
        ringOnBox(canvas, selector, focus);

    std::snprintf(text, sizeof text, "%d%%", static_cast<int>(std::lround(mixValue * 100.0f)));
    paintValueField(canvas, ElementId::MixValue, mix, "MIX", text, drag == DragMode::Mix);

    drawText(canvas, "LATENCY", 588.0f, 434.5f, TextRole::Label, muted);
    std::snprintf(text, sizeof text, "%d ms", static_cast<int>(std::lround(latency)));
    drawText(canvas, text, 588.0f, 459.0f, TextRole::Value, muted);

    double rounded = std::round(static_cast<double>(outputDb) * 10.0) / 10.0;
    if (rounded == 0.0)
        rounded = 0.0; // never print a minus zero
    std::snprintf(text, sizeof text, "%s%.1f dB", rounded > 0.0 ? "+" : "", rounded);
    paintValueField(canvas, ElementId::OutputValue, output, "OUTPUT", text,
                    drag == DragMode::Output);
}

// Mix and Output: the label, the value, an underline while hovered or dragged, the focus ring.
void Window::paintValueField(Canvas& canvas, ElementId element, const Box& box, const char* label,
                             const char* text, bool dragged) {
    const float x = box.left + kFieldInset;
    drawText(canvas, label, x, box.top + kFieldLabelY, TextRole::Label, color(kColorMuted));
    drawText(canvas, text, x, box.top + kFieldValueY, TextRole::Value, valueColor());
    if (hoveredElement == element || dragged)
        underline(canvas, box, color(kColorInk));
    if (ringOn(element))
        ringOnBox(canvas, box, color(kColorFocus));
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
    // Sized by the constants rather than the box's edges, which round with the body's height.
    const Box route = EditorLayout::routeButton(message, bodyHeight);
    const float w = EditorLayout::kRouteButtonWidth;
    const float h = EditorLayout::kRouteButtonHeight;
    if (hoveredElement == ElementId::RouteButton)
        canvas.fillRoundedRect(route.left, route.top, w, h, h / 2.0f, color(kColorSurface));
    canvas.strokeRect(route.left - kHalfOutline, route.top - kHalfOutline, w + kOutline,
                      h + kOutline, h / 2.0f + kHalfOutline, kOutline, ink);
    drawText(canvas, "HOW TO ROUTE", route.left + w / 2.0f, route.top + 16.5f, TextRole::Label, ink,
             kAlignCenter);
}

void Window::paintAlgorithmMenu(Canvas& canvas) {
    const Color& ink = color(kColorInk);
    paintPanel(canvas, EditorLayout::kAlgorithmMenu, 4.0f, color(kColorSurface), ink);

    for (int i = 0; i < EditorLayout::kMenuRows; ++i) {
        const Box row = EditorLayout::menuRow(i);
        const bool current = i == algorithmIndex;
        if (current)
            fillBox(canvas, row, ink);
        else if (i == menuHoverRow)
            fillBox(canvas, row, color(kColorRowHover));
        const Color& text = current ? color(kColorSurface) : ink;
        drawText(canvas, kAlgorithmNames[i], row.left + 10.0f, row.top + 20.0f, TextRole::ItemName,
                 text);
        drawText(canvas, kAlgorithmDescriptions[i], row.left + 10.0f, row.top + 37.0f,
                 TextRole::ItemText, text);
        if (focusIsVisible && i == menuKeyRow)
            ringOnBox(canvas, row, color(kColorFocus));
    }
}

void Window::paintSettingsPanel(Canvas& canvas) {
    const Box& panel = EditorLayout::kSettingsPanel;
    const Color& ink = color(kColorInk);
    const Color& focus = color(kColorFocus);
    paintPanel(canvas, panel, 4.0f, color(kColorSurface), ink);

    const float textX = panel.left + 14.0f;
    drawText(canvas, "QUALITY", textX, panel.top + 20.0f, TextRole::Label, color(kColorMuted));
    const int32_t currentQuality = highQuality ? 1 : 0;
    char text[64];
    for (int32_t i = 0; i < 2; ++i) {
        const Box row = EditorLayout::qualityItem(i);
        const bool selected = i == currentQuality;
        if (selected)
            fillBox(canvas, row, ink);
        else if (i == panelHoverItem)
            fillBox(canvas, row, color(kColorRowHover));
        const Color& textColor = selected ? color(kColorSurface) : ink;
        drawText(canvas, kQualityNames[i], textX, row.top + 20.0f, TextRole::ItemName, textColor);
        const float ms = i == 0 ? latencyStandard : latencyHigh;
        std::snprintf(text, sizeof text, "%d MS LATENCY", static_cast<int>(std::lround(ms)));
        drawText(canvas, text, row.right - 10.0f - measure(canvas, text, TextRole::Label),
                 row.top + 19.0f, TextRole::Label, textColor);
        drawText(canvas, kQualityDescriptions[i], textX, row.top + 37.0f, TextRole::ItemText,
                 textColor);
        if (focusIsVisible && i == panelKeyItem)
            ringOnBox(canvas, row, focus);
    }

    drawText(canvas, "THEME", textX, panel.top + 140.0f, TextRole::Label, color(kColorMuted));
    for (int32_t item = EditorLayout::kItemPaper; item <= EditorLayout::kItemInk; ++item) {
        const Box box = EditorLayout::themeItem(item);
        const bool current = themeIndex == item - EditorLayout::kItemPaper;
        if (current)
            fillBox(canvas, box, ink);
        else if (item == panelHoverItem)
            fillBox(canvas, box, color(kColorRowHover));
        drawText(canvas, kThemeNames[item - EditorLayout::kItemPaper], box.left + 10.0f,
                 box.top + 22.0f, TextRole::ItemName, current ? color(kColorSurface) : ink);
        if (focusIsVisible && item == panelKeyItem)
            ringOnBox(canvas, box, focus);
    }
}

void Window::paintAboutCard(Canvas& canvas) {
    const Box& card = EditorLayout::kAboutCard;
    const Color& ink = color(kColorInk);
    paintPanel(canvas, card, 6.0f, color(kColorBackground), ink);

    const float textX = card.left + 25.0f;
    canvas.fillPath(kWordmarkPath, textX, card.top + 52.5f, 31.0f / 140.0f, ink);

    char text[128];
    std::snprintf(text, sizeof text, "VERSION %s", versionText.c_str());
    drawText(canvas, text, textX, card.top + 124.0f, TextRole::SmallLabel, color(kColorMuted));

    const char* trademark = "VST3 is a trademark of Steinberg Media Technologies GmbH.";
    canvas.drawTextBlock(trademark, textLength(trademark), textX, card.top + 150.0f, 310.0f,
                         kBodyLineHeight, textStyle(TextRole::Body), ink);
    drawText(canvas, "Fonts under the SIL Open Font License.", textX, card.top + 186.0f,
             TextRole::Body, ink);
}

} // namespace tav::ui

namespace tav::ui {

// The current preset's name in capitals, shortened with an ellipsis to fit, "*" after it while
// the values differ from the preset's.
void Window::paintPresetPill(Canvas& canvas) {
    const Box& pill = EditorLayout::kPresetPill;
    const Color& ink = color(kColorInk);
    if (hoveredElement == ElementId::PresetPill || openOverlay == Overlay::PresetMenu)
        fillPill(canvas, pill, color(kColorSurface));
    outlinePill(canvas, pill, ink);
    canvas.strokePath(kMenuIcon, pill.left + 9.25f, pill.top + 5.0f, 2.0f / 3.0f, 2.0f, ink);

    const TextStyle& style = textStyle(TextRole::Label);
    const float x = pill.left + kPillTextInset;
    const float room = pill.right - kPillTextRight - x;
    const float star = currentPresetEdited ? measureView(canvas, "*", style) : 0.0f;
    const std::string name = fitted(canvas, capitals(currentPresetName), style, room - star);
    canvas.drawText(name.data(), static_cast<int32_t>(name.size()), x, pill.top + kPillBaseline,
                    style, ink, kAlignLeft);
    if (currentPresetEdited)
        canvas.drawText("*", 1, x + measureView(canvas, name, style), pill.top + kPillBaseline,
                        style, ink, kAlignLeft);
}

// The pill as a text field: the part of the name around the caret that fits, the caret, and
// under it the note on what Enter does.
void Window::paintNameField(Canvas& canvas) {
    const Box& pill = EditorLayout::kPresetPill;
    const Color& ink = color(kColorInk);
    fillPill(canvas, pill, color(kColorSurface));
    outlinePill(canvas, pill, ink);
    ringOutside(canvas, pill, pill.height() / 2.0f + kRingGap, color(kColorFocus));

    const TextStyle& style = textStyle(TextRole::Label);
    const std::string_view text = nameText.text();
    const auto caret = static_cast<size_t>(nameText.caret());
    const float x = pill.left + kFieldTextInset;
    const float room = pill.width() - 2.0f * kFieldTextInset;
    // The first character shown: as early as lets the caret show.
    size_t start = 0;
    while (start < caret && measureView(canvas, text.substr(start, caret - start), style) > room) {
        char32_t c = 0;
        start += static_cast<size_t>(std::max(decodeUtf8(text, start, c), 1));
    }
    // The last: as late as fits.
    size_t end = text.size();
    while (end > caret && measureView(canvas, text.substr(start, end - start), style) > room)
        end = previousCharacter(text, end);
    const std::string_view shown = text.substr(start, end - start);
    canvas.drawText(shown.data(), static_cast<int32_t>(shown.size()), x, pill.top + kPillBaseline,
                    style, ink, kAlignLeft);
    const float caretX = x + measureView(canvas, text.substr(start, caret - start), style);
    canvas.fillRect(caretX, pill.top + 6.0f, 1.5f, pill.height() - 12.0f, ink);

    const Box& note = EditorLayout::kNameFieldNote;
    paintPanel(canvas, note, 3.0f, color(kColorBackground), ink);
    const bool warn = fieldNote != FieldNote::Hint;
    const TextStyle& noteStyle = textStyle(TextRole::ItemText);
    const std::string line =
        fitted(canvas, fieldNoteText(), noteStyle, note.width() - 2.0f * kRowTextInset);
    canvas.drawText(line.data(), static_cast<int32_t>(line.size()), note.left + kRowTextInset,
                    note.top + 18.0f, noteStyle, color(warn ? kColorWarning : kColorInk),
                    kAlignLeft);
}

void Window::paintPresetMenu(Canvas& canvas) {
    const EditorLayout::PresetMenu menu = presetMenuLayout();
    const Color& ink = color(kColorInk);
    paintPanel(canvas, menu.panel, 4.0f, color(kColorSurface), ink);

    for (int32_t slot = 0; slot < menu.visibleRows; ++slot) {
        const int32_t row = menuScroll + slot;
        if (row < listRowCount())
            paintPresetRow(canvas, row, menu.listRow(slot));
    }
    if (menu.scrolls) {
        const int32_t most = listRowCount() - menu.visibleRows;
        const Color& up = color(menuScroll > 0 ? kColorInk : kColorRowHover);
        const Color& down = color(menuScroll < most ? kColorInk : kColorRowHover);
        const Point top = menu.scrollUp.centre();
        const Point bottom = menu.scrollDown.centre();
        const Point upMark[3] = {
            {top.x - 5.0f, top.y + 2.5f}, {top.x, top.y - 2.5f}, {top.x + 5.0f, top.y + 2.5f}};
        canvas.strokePolyline(upMark, 3, 1.5f, up);
        chevron(canvas, bottom.x, bottom.y + 0.5f, true, down);
    }
    canvas.fillRect(menu.list.left, menu.actionsTop - EditorLayout::kPresetRuleGap / 2.0f - 0.625f,
                    menu.list.width(), 1.25f, ink);
    for (int32_t action = 0; action < actionRowCount(); ++action)
        paintPresetRow(canvas, listRowCount() + action, menu.actionRow(action));
}

void Window::paintPresetRow(Canvas& canvas, int32_t row, const Box& box) {
    const MenuRow& r = menuRows[static_cast<size_t>(row)];
    const Color& ink = color(kColorInk);
    const float baseline = box.top + kRowBaseline;
    if (r.kind == RowKind::Heading) {
        drawText(canvas, "YOUR PRESETS", box.left + kRowTextInset, baseline - 1.0f,
                 TextRole::SmallLabel, color(kColorMuted));
        return;
    }
    const bool current =
        ((r.kind == RowKind::Factory || r.kind == RowKind::User) && r.index == loadedPresetEntry) ||
        (r.kind == RowKind::Init && loadedPresetEntry < 0 && currentPresetName == "Init");
    if (current)
        fillBox(canvas, box, ink);
    else if (row == presetHoverRow)
        fillBox(canvas, box, color(kColorRowHover));
    const Color& text =
        current ? color(kColorSurface) : (r.kind == RowKind::Delete ? color(kColorWarning) : ink);

    const bool group = r.kind == RowKind::Category;
    const TextStyle& style = group ? kGroupStyle : kRowStyle;
    const float x = box.left + kRowTextInset +
                    (r.kind == RowKind::Factory ? EditorLayout::kPresetIndent : 0.0f);
    const float right = box.right - kRowTextInset - (group ? 14.0f : 0.0f);
    const std::string label = fitted(canvas, presetMenuRowText(row), style, right - x);
    canvas.drawText(label.data(), static_cast<int32_t>(label.size()), x, baseline, style, text,
                    kAlignLeft);
    if (group)
        chevron(canvas, box.right - kRowTextInset - 4.0f, box.centre().y, r.index == openCategory,
                text);
    if (focusIsVisible && row == presetKeyRow)
        ringOnBox(canvas, box, color(kColorFocus));
}

} // namespace tav::ui
