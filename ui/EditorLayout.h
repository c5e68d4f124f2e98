#pragma once

#include "ui/Canvas.h"
#include "ui/StatusMessage.h"
#include "ui/WindowTypes.h"

#include <algorithm>
#include <cstdint>

namespace tav::ui {

// A rectangle on the 760 x 500 design plane. Hit testing reads it half-open: left and top
// inclusive, right and bottom exclusive.
struct Box {
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;

    constexpr float width() const { return right - left; }
    constexpr float height() const { return bottom - top; }
    constexpr Point centre() const { return {(left + right) / 2.0f, (top + bottom) / 2.0f}; }
    constexpr bool holds(float x, float y) const {
        return x >= left && x < right && y >= top && y < bottom;
    }
};

// An element and the box hit testing finds it in.
struct Area {
    ElementId element;
    Box box;
};

// Where the editor's elements stand: one box per element, which painting draws the control in,
// hit testing finds it in and snapshots point at, so the three cannot disagree. What a control
// paints inside its box is placed as an offset from the box.
struct EditorLayout {
    // --- Top bar -------------------------------------------------------------------------------

    // The wordmark, its baseline on the bottom edge.
    static constexpr Box kWordmark = {16.0f, 18.0f, 243.41072f, 33.0f};
    static constexpr Box kPresetPill = {456.0f, 14.0f, 606.0f, 40.0f};
    static constexpr Box kSettingsButton = {612.0f, 13.0f, 640.0f, 41.0f};
    static constexpr Box kBypassButton = {648.0f, 14.0f, 744.0f, 40.0f};

    // --- Morph area ----------------------------------------------------------------------------

    // The handle moves along the full width: Morph maps linearly onto it.
    static constexpr Box kMorphArea = {68.0f, 52.0f, 692.0f, 396.0f};
    // The field the lines are drawn in, across the same width.
    static constexpr Box kLineField = {kMorphArea.left, 80.0f, kMorphArea.right, 382.0f};
    // The handle's centre line.
    static constexpr float kHandleY = 66.0f;

    // Any thread. The handle's x for a Morph value 0..1.
    static constexpr float morphX(float morph) {
        return kMorphArea.left + kMorphArea.width() * morph;
    }
    // Any thread. The Morph value under an x, clamped to 0..1.
    static constexpr float morphAt(float x) {
        return std::clamp((x - kMorphArea.left) / kMorphArea.width(), 0.0f, 1.0f);
    }

    // --- Status card ---------------------------------------------------------------------------

    static constexpr float kRouteButtonWidth = 120.0f;
    static constexpr float kRouteButtonHeight = 26.0f;

    static constexpr float kStatusCardWidth = 284.0f;

    // Any thread. The whole card, for a body of the given height.
    static constexpr Box statusCard(const StatusMessage& message, float bodyHeight) {
        const float height = bodyHeight + 36.0f + (message.routeButton ? 48.5f : 17.0f);
        return {message.x, message.y, message.x + kStatusCardWidth, message.y + height};
    }

    // Any thread. The card's "HOW TO ROUTE" button, below the card's body of the given height.
    static constexpr Box routeButton(const StatusMessage& message, float bodyHeight) {
        const float left = message.x + 16.0f;
        const float top = message.y + 36.0f + bodyHeight + 10.0f;
        return {left, top, left + kRouteButtonWidth, top + kRouteButtonHeight};
    }

    // --- Bottom strip --------------------------------------------------------------------------

    static constexpr Box kAlgorithmSelector = {346.0f, 420.0f, 496.0f, 480.0f};
    static constexpr Box kMixValue = {498.0f, 420.0f, 570.0f, 480.0f};
    static constexpr Box kOutputValue = {664.0f, 420.0f, 744.0f, 480.0f};

    // Without an overlay, the first area that holds a point wins (after the route button).
    static constexpr Area kAreas[] = {
        {ElementId::Wordmark, kWordmark},
        {ElementId::PresetPill, kPresetPill},
        {ElementId::SettingsButton, kSettingsButton},
        {ElementId::BypassButton, kBypassButton},
        {ElementId::MorphArea, kMorphArea},
        {ElementId::AlgorithmSelector, kAlgorithmSelector},
        {ElementId::MixValue, kMixValue},
        {ElementId::OutputValue, kOutputValue},
    };

    // --- Overlays ------------------------------------------------------------------------------

    // Rows of the algorithm menu and of the settings panel's quality list.
    static constexpr float kRowHeight = 46.0f;

    // The menu's panel; a point on its rim counts as the nearest row.
    static constexpr Box kAlgorithmMenu = {324.0f, 192.0f, 744.0f, 384.0f};
    static constexpr int kMenuRows = 4;
    // The first row's top, 4 units inside the panel.
    static constexpr float kMenuRowsTop = kAlgorithmMenu.top + 4.0f;

    // Any thread. Row 0..3 of the menu.
    static constexpr Box menuRow(int row) {
        const float top = kMenuRowsTop + kRowHeight * row;
        return {kAlgorithmMenu.left + 4.0f, top, kAlgorithmMenu.right - 4.0f, top + kRowHeight};
    }
    // Any thread. The row at a y on the menu's panel.
    static constexpr int32_t menuRowAt(float y) {
        return std::clamp(static_cast<int32_t>((y - kMenuRowsTop) / kRowHeight), 0, kMenuRows - 1);
    }

    static constexpr Box kSettingsPanel = {364.0f, 46.0f, 744.0f, 232.0f};
    // Settings items as hit testing numbers them: the two Qualities, then the two themes.
    static constexpr int kSettingsItems = 4;
    static constexpr int32_t kItemPaper = 2;
    static constexpr int32_t kItemInk = 3;
    static constexpr Box kQualityItems = {368.0f, 74.0f, 740.0f, 166.0f};
    static constexpr Box kThemeItems = {368.0f, 194.0f, 740.0f, 228.0f};
    static constexpr Box kSettingsItemsSpan = {kQualityItems.left, kQualityItems.top,
                                               kThemeItems.right, kThemeItems.bottom};

    // Any thread. Quality 0 (Standard) or 1 (High).
    static constexpr Box qualityItem(int32_t quality) {
        const float top = kQualityItems.top + kRowHeight * quality;
        return {kQualityItems.left, top, kQualityItems.right, top + kRowHeight};
    }
    // Any thread. The Quality at a y within kQualityItems.
    static constexpr int32_t qualityAt(float y) {
        return static_cast<int32_t>((y - kQualityItems.top) / kRowHeight);
    }
    // Any thread. The left (Paper) or right (Ink) half of the theme row.
    static constexpr Box themeItem(int32_t item) {
        const float middle = kThemeItems.left + kThemeItems.width() / 2.0f;
        return item == kItemPaper
                   ? Box{kThemeItems.left, kThemeItems.top, middle, kThemeItems.bottom}
                   : Box{middle, kThemeItems.top, kThemeItems.right, kThemeItems.bottom};
    }

    // Any thread. The theme item at an x within kThemeItems.
    static constexpr int32_t themeAt(float x) {
        return x < themeItem(kItemInk).left ? kItemPaper : kItemInk;
    }

    static constexpr Box kAboutCard = {200.0f, 104.0f, 560.0f, 330.0f};

    // --- Preset menu ---------------------------------------------------------------------------

    // A list of compact rows under the pill, its right edge on the header's: the rows that
    // scroll (Init, categories, their presets, the user's presets), a rule, then the actions.
    static constexpr float kPresetMenuLeft = 416.0f;
    static constexpr float kPresetMenuRight = 744.0f;
    static constexpr float kPresetMenuTop = 46.0f;
    static constexpr float kPresetRowHeight = 26.0f;
    static constexpr float kPresetMenuInset = 4.0f;
    // Thirteen rows show at once; a longer list scrolls, with a strip above and below it.
    static constexpr int kPresetListRows = 13;
    static constexpr float kPresetScrollStrip = kPresetRowHeight / 2.0f;
    static constexpr float kPresetRuleGap = 9.0f;
    // Presets inside an open category stand this far in from the row's text.
    static constexpr float kPresetIndent = 16.0f;

    // Where the preset menu's parts stand for a list of `listRows` rows and `actionRows` actions.
    struct PresetMenu {
        Box panel;
        Box list;     // the list's visible rows (without the strips)
        bool scrolls; // the list is longer than what shows
        int visibleRows;
        Box scrollUp; // empty unless it scrolls
        Box scrollDown;
        float actionsTop;

        // Any thread. The box of the visible list row `slot` (0 at the top).
        constexpr Box listRow(int slot) const {
            const float top = list.top + kPresetRowHeight * slot;
            return {list.left, top, list.right, top + kPresetRowHeight};
        }
        // Any thread. The box of action `action` (0 is "Save as…").
        constexpr Box actionRow(int action) const {
            const float top = actionsTop + kPresetRowHeight * action;
            return {list.left, top, list.right, top + kPresetRowHeight};
        }
    };

    // Any thread. The preset menu's geometry.
    static constexpr PresetMenu presetMenu(int listRows, int actionRows) {
        const bool scrolls = listRows > kPresetListRows;
        const int visible = scrolls ? kPresetListRows - 1 : std::max(listRows, 0);
        const float left = kPresetMenuLeft + kPresetMenuInset;
        const float right = kPresetMenuRight - kPresetMenuInset;
        const float stripsTop = kPresetMenuTop + kPresetMenuInset;
        const float listTop = stripsTop + (scrolls ? kPresetScrollStrip : 0.0f);
        const float listBottom = listTop + kPresetRowHeight * visible;
        const float stripsBottom = listBottom + (scrolls ? kPresetScrollStrip : 0.0f);
        const float actionsTop = stripsBottom + kPresetRuleGap;
        const float bottom = actionsTop + kPresetRowHeight * actionRows + kPresetMenuInset;
        PresetMenu menu{{kPresetMenuLeft, kPresetMenuTop, kPresetMenuRight, bottom},
                        {left, listTop, right, listBottom},
                        scrolls,
                        visible,
                        {},
                        {},
                        actionsTop};
        if (scrolls) {
            menu.scrollUp = {left, stripsTop, right, listTop};
            menu.scrollDown = {left, listBottom, right, stripsBottom};
        }
        return menu;
    }

    // --- Name field and notices ----------------------------------------------------------------

    // The line under the pill while it is a name field: what Enter does, or why it did not.
    static constexpr Box kNameFieldNote = {kPresetMenuLeft, 46.0f, kPresetMenuRight, 74.0f};
    // A notice's card (its height follows its text), where the status card of a silent A stands.
    static constexpr float kNoticeX = 408.0f;
    static constexpr float kNoticeY = 139.0f;
};

} // namespace tav::ui
