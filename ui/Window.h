#pragma once

#include "dsp/AnalysisRecord.h"
#include "ui/Canvas.h"
#include "ui/EditorLayout.h"
#include "ui/MorphField.h"
#include "ui/NameField.h"
#include "ui/Theme.h"
#include "ui/WindowListener.h"
#include "ui/WindowTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tav::ui {

// The editor's view on the 760 x 500 design plane: holds the values it shows, paints the
// whole editor every frame (WindowPainting.cpp) and turns pointer and key input into parameter
// gestures (WindowInput.cpp), both reading where things are from EditorLayout.
// No platform code; every operation runs on the UI thread.
class Window {
public:
    static constexpr float kWidth = 760.0f;
    static constexpr float kHeight = 500.0f;

    // UI thread. The listener may be null (edits then change only the view) and must
    // outlive the view.
    explicit Window(WindowListener* listener = nullptr);

    // UI thread. Replaces the listener; null detaches it.
    void setListener(WindowListener* newListener) { listener = newListener; }

    // --- Values from the editor host ------------------------------------------------------

    // UI thread; never allocates. All parameter values at once, in plain units; each is
    // clamped to its range and a non-finite value leaves the current one.
    void setParameterValues(float morph, int32_t algorithm, float mix, float outputDb, bool bypass,
                            bool highQuality);
    void setMorph(float value);
    void setAlgorithm(int32_t index);
    void setMix(float value);
    void setOutput(float decibels);
    void setBypass(bool on);
    void setQuality(bool high) { highQuality = high; }
    // UI thread. 0 "Paper", 1 "Ink"; other values read as "Paper".
    void setTheme(int32_t value) { themeIndex = value == kThemeInk ? kThemeInk : kThemePaper; }
    // UI thread; allocates. Shown as "VERSION " followed by it on the about card.
    void setVersionText(std::string text) { versionText = std::move(text); }
    // UI thread. The host is moving Morph by automation.
    void setMorphAutomated(bool automated) { morphIsAutomated = automated; }

    // UI thread; allocates. The presets the menu offers: factory presets grouped by category in
    // table order, then the user's presets sorted by name.
    void setPresets(std::vector<PresetEntry> entries);
    // UI thread; allocates. What the pill shows: the current preset's name, "*" after it while
    // edited; loadedEntry is the index in the entries of the loaded preset, or -1 (Init or
    // unknown).
    void setCurrentPreset(std::string name, bool edited, int32_t loadedEntry);
    // UI thread; allocates. A one-line message in the status card (a refused preset file, a folder
    // that cannot be written), shown until the user dismisses it or a few seconds pass.
    void showNotice(std::string text);

    // UI thread; never allocates. A fresh analysis record arrived during the last dt seconds.
    void updateSignals(const AnalysisRecord& record, float dt);
    // UI thread; never allocates. A frame passed without a record.
    void advance(float dt);

    // --- Drawing --------------------------------------------------------------------------

    // UI thread. Paints one complete frame; keeps the status card's measured body height.
    void paint(Canvas& canvas);

    // --- Input, in view units -------------------------------------------------------------

    void onMouseDown(float x, float y);
    void onMouseMove(float x, float y);
    void onMouseUp(float x, float y);
    void onDoubleClick(float x, float y);
    void onMouseLeave();
    void onKey(Key key, bool shift);
    // UI thread. Text typed on the keyboard, UTF-8; used only while the name field is open.
    void onText(const char* utf8);
    // UI thread. The wheel turned over a point: positive `steps` scroll up (one row a step).
    void onWheel(float x, float y, float steps);
    CursorKind cursorKind() const;

    // UI thread. What lies under a point in the current state (overlays first).
    Hit hitTest(float x, float y) const;
    // UI thread. The box hit testing finds the element in, in the current state (for menu rows
    // and settings items, the span of them all); nothing where it cannot be hit.
    std::optional<Box> hitBox(ElementId element) const;

    // --- State, for the editor host, snapshots and tests ----------------------------------

    float morph() const { return morphValue; }
    int32_t algorithm() const { return algorithmIndex; }
    float mix() const { return mixValue; }
    float output() const { return outputDb; }
    bool bypass() const { return bypassOn; }
    bool quality() const { return highQuality; }
    int32_t theme() const { return themeIndex; }
    bool morphAutomated() const { return morphIsAutomated; }
    const std::string& version() const { return versionText; }

    float levelA() const { return inputLevelA; }
    float levelB() const { return inputLevelB; }
    bool sidechainLive() const { return sidechainIsLive; }
    float latencyMs() const { return latency; }
    float latencyStandardMs() const { return latencyStandard; }
    float latencyHighMs() const { return latencyHigh; }

    const MorphField& morphField() const { return field; }
    MorphField& morphField() { return field; }

    ElementId hovered() const { return hoveredElement; }
    ElementId focused() const { return focusedElement; }
    bool focusVisible() const { return focusIsVisible; }
    DragMode dragMode() const { return drag; }
    Overlay overlay() const { return openOverlay; }
    int32_t menuKeyboardRow() const { return menuKeyRow; }
    int32_t menuPointerRow() const { return menuHoverRow; }
    int32_t settingsKeyboardItem() const { return panelKeyItem; }
    int32_t settingsPointerItem() const { return panelHoverItem; }
    float statusBodyHeight() const { return bodyHeight; }

    const std::vector<PresetEntry>& presets() const { return presetEntries; }
    const std::string& presetName() const { return currentPresetName; }
    bool presetEdited() const { return currentPresetEdited; }
    int32_t loadedPreset() const { return loadedPresetEntry; }
    const std::string& notice() const { return noticeText; }
    // Whether the pill is a name field now: only then does the view take typed text.
    bool nameFieldOpen() const { return openOverlay == Overlay::NameField; }
    const NameField& nameField() const { return nameText; }
    // What the preset menu shows now, top to bottom: its scrolling list, then its actions.
    int32_t presetMenuRows() const { return static_cast<int32_t>(menuRows.size()); }
    int32_t presetMenuFirstRow() const { return menuScroll; }
    int32_t presetMenuKeyboardRow() const { return presetKeyRow; }
    // The text a row shows (for an action, its words), as painting draws it.
    std::string presetMenuRowText(int32_t row) const;
    // The line under the name field: what Enter does, or why it did not.
    std::string nameFieldNote() const { return fieldNoteText(); }

private:
    // The rows of the preset menu.
    enum class RowKind : int32_t {
        Init,
        Category, // a factory category; `index` is its number in presetCategories
        Factory,  // `index` is the entry
        Heading,  // "YOUR PRESETS", not selectable
        User,     // `index` is the entry
        SaveAs,
        Rename,
        Delete,
    };
    struct MenuRow {
        RowKind kind;
        int32_t index;
    };
    // Why the name field is open.
    enum class FieldPurpose : int32_t { SaveAs, Rename };
    // The line under the name field.
    enum class FieldNote : int32_t { Hint, Empty, Refused, TooLong, Replaces };

    // Value ranges, in plain units, from the parameter table.
    static constexpr auto kOutputMinDb = static_cast<float>(model::param(model::kOutputId).minimum);
    static constexpr auto kOutputMaxDb = static_cast<float>(model::param(model::kOutputId).maximum);
    static constexpr auto kAlgorithms = static_cast<int>(model::kAlgorithmNames.size());

    const Color& color(int32_t index) const { return paletteFor(themeIndex)[index]; }
    const Color& valueColor() const;
    float morphX() const;
    bool ringOn(ElementId element) const;

    void paintMorphDisplay(Canvas& canvas);
    void paintInputPanel(Canvas& canvas, bool isB);
    void paintMorphHandle(Canvas& canvas);
    void paintTopBar(Canvas& canvas);
    void paintBottomStrip(Canvas& canvas);
    void paintValueField(Canvas& canvas, ElementId element, const Box& box, const char* label,
                         const char* text, bool dragged);
    void paintStatusCard(Canvas& canvas, const StatusMessage& message);
    void paintAlgorithmMenu(Canvas& canvas);
    void paintSettingsPanel(Canvas& canvas);
    void paintAboutCard(Canvas& canvas);
    void paintPresetPill(Canvas& canvas);
    void paintNameField(Canvas& canvas);
    void paintPresetMenu(Canvas& canvas);
    void paintPresetRow(Canvas& canvas, int32_t row, const Box& box);
    StatusMessage shownStatus() const;

    // The preset menu and the name field (WindowPresets.cpp).
    void openPresetMenu();
    void closePresetMenu();
    void rebuildMenuRows();
    int32_t listRowCount() const;
    int32_t actionRowCount() const;
    EditorLayout::PresetMenu presetMenuLayout() const;
    std::optional<Hit> hitPresetMenu(float x, float y) const;
    void pressInPresetMenu(const Hit& hit);
    void keyInPresetMenu(Key key);
    void activatePresetRow(int32_t row);
    void movePresetKeyRow(int32_t direction);
    void scrollPresetMenu(int32_t rows);
    void keepKeyRowVisible();
    bool selectable(int32_t row) const;
    void stepPreset(int32_t direction);
    void openNameField(FieldPurpose purpose);
    void keyInNameField(Key key);
    void commitNameField();
    void closeNameField();
    int32_t userEntryNamed(const std::string& name) const;
    bool loadedIsUser() const;
    std::string fieldNoteText() const;
    void ageNotice(float dt);

    std::optional<Box> routeButtonBox() const;
    std::optional<Box> noticeBox() const;
    void pressWithoutOverlay(const Hit& hit, float x, float y);
    void keyWithoutOverlay(Key key, bool shift);
    void keyInMenu(Key key);
    void keyInSettings(Key key);
    void applySettingsItem(int32_t item);
    void closeMenu();
    void closeSettings();
    void moveFocus(bool backwards);
    void stepMorph(Key key, bool shift);
    void stepValue(Key key, bool shift, ParamIndex index);

    void gesture(ParamIndex index, float value);
    void begin(ParamIndex index);
    void perform(ParamIndex index, float value);
    void end(ParamIndex index);

    WindowListener* listener = nullptr;
    MorphField field;

    int32_t themeIndex = kThemePaper;
    float morphValue = 0.5f;
    int32_t algorithmIndex = 0;
    float mixValue = 1.0f;
    float outputDb = 0.0f;
    bool bypassOn = false;
    bool highQuality = false;
    bool morphIsAutomated = false;
    std::string versionText = "0.1.0";

    float inputLevelA = 0.0f;
    float inputLevelB = 0.0f;
    bool sidechainIsLive = true;
    float latency = 44.0f;
    float latencyStandard = 44.0f;
    float latencyHigh = 87.0f;

    ElementId hoveredElement = ElementId::None;
    ElementId focusedElement = ElementId::None;
    bool focusIsVisible = false;
    DragMode drag = DragMode::None;
    float dragLastY = 0.0f;
    Overlay openOverlay = Overlay::None;
    int32_t menuKeyRow = 0;
    int32_t menuHoverRow = -1;
    int32_t panelKeyItem = 0;
    int32_t panelHoverItem = -1;
    float bodyHeight = 54.6f; // the status card's body, as measured at the last paint

    std::vector<PresetEntry> presetEntries;
    std::vector<std::string> presetCategories; // in the entries' order
    std::string currentPresetName = "Init";
    bool currentPresetEdited = false;
    int32_t loadedPresetEntry = -1;
    std::string noticeText;
    float noticeSeconds = 0.0f; // left before the notice goes by itself

    std::vector<MenuRow> menuRows; // list rows, then action rows
    int32_t openCategory = -1;     // the category whose presets the list shows, or -1
    int32_t menuScroll = 0;        // the first list row shown
    int32_t presetKeyRow = 0;
    int32_t presetHoverRow = -1;
    bool deleteAsked = false; // "Delete" was chosen once; the next choice deletes

    NameField nameText;
    FieldPurpose fieldPurpose = FieldPurpose::SaveAs;
    int32_t renamedEntry = -1;
    FieldNote fieldNote = FieldNote::Hint;
};

} // namespace tav::ui
