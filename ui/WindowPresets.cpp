// The view's presets: the pill's menu, stepping through the presets, the name field that saves
// and renames them, and notices. The host keeps the presets; the view asks it through the
// listener and shows what the host tells it.
#include "ui/EditorLayout.h"
#include "ui/Window.h"

#include <algorithm>
#include <cmath>

namespace tav::ui {
namespace {

constexpr float kNoticeSeconds = 6.0f;
// A click on a scroll strip moves the list by this many rows.
constexpr int32_t kScrollStep = 3;

// Names compare without regard to ASCII case: on Windows "Pad" and "pad" are the same file.
bool sameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

} // namespace

// --- Values from the editor host ----------------------------------------------------------

void Window::setPresets(std::vector<PresetEntry> entries) {
    presetEntries = std::move(entries);
    presetCategories.clear();
    for (const PresetEntry& entry : presetEntries) {
        if (!entry.category.empty() && std::find(presetCategories.begin(), presetCategories.end(),
                                                 entry.category) == presetCategories.end())
            presetCategories.push_back(entry.category);
    }
    if (loadedPresetEntry >= static_cast<int32_t>(presetEntries.size()))
        loadedPresetEntry = -1;
    if (openCategory >= static_cast<int32_t>(presetCategories.size()))
        openCategory = -1;
    // A list that changed under an open menu keeps the menu, its rows made anew.
    if (openOverlay == Overlay::PresetMenu) {
        rebuildMenuRows();
        presetKeyRow = std::clamp(presetKeyRow, 0, presetMenuRows() - 1);
        if (!selectable(presetKeyRow))
            movePresetKeyRow(1);
        scrollPresetMenu(0);
    }
    if (openOverlay == Overlay::NameField && fieldPurpose == FieldPurpose::Rename &&
        renamedEntry >= static_cast<int32_t>(presetEntries.size()))
        closeNameField();
}

void Window::setCurrentPreset(std::string name, bool edited, int32_t loadedEntry) {
    currentPresetName = std::move(name);
    currentPresetEdited = edited;
    loadedPresetEntry = loadedEntry >= 0 && loadedEntry < static_cast<int32_t>(presetEntries.size())
                            ? loadedEntry
                            : -1;
    // Rename and Delete follow the loaded preset.
    if (openOverlay == Overlay::PresetMenu) {
        rebuildMenuRows();
        presetKeyRow = std::clamp(presetKeyRow, 0, presetMenuRows() - 1);
    }
}

void Window::showNotice(std::string text) {
    noticeText = std::move(text);
    noticeSeconds = noticeText.empty() ? 0.0f : kNoticeSeconds;
}

void Window::ageNotice(float dt) {
    if (noticeText.empty())
        return;
    noticeSeconds -= dt;
    if (noticeSeconds <= 0.0f)
        noticeText.clear();
}

StatusMessage Window::shownStatus() const {
    if (noticeText.empty())
        return field.statusMessage();
    StatusMessage notice;
    notice.shown = true;
    notice.x = EditorLayout::kNoticeX;
    notice.y = EditorLayout::kNoticeY;
    notice.title = "Presets";
    notice.body = noticeText.c_str();
    return notice;
}

// --- The menu's rows ------------------------------------------------------------------------

void Window::rebuildMenuRows() {
    menuRows.clear();
    menuRows.push_back({RowKind::Init, -1});
    const auto entries = static_cast<int32_t>(presetEntries.size());
    for (int32_t c = 0; c < static_cast<int32_t>(presetCategories.size()); ++c) {
        menuRows.push_back({RowKind::Category, c});
        if (c != openCategory)
            continue;
        for (int32_t e = 0; e < entries; ++e)
            if (presetEntries[static_cast<size_t>(e)].category ==
                presetCategories[static_cast<size_t>(c)])
                menuRows.push_back({RowKind::Factory, e});
    }
    bool heading = false;
    for (int32_t e = 0; e < entries; ++e) {
        if (!presetEntries[static_cast<size_t>(e)].category.empty())
            continue;
        if (!heading)
            menuRows.push_back({RowKind::Heading, -1});
        heading = true;
        menuRows.push_back({RowKind::User, e});
    }
    menuRows.push_back({RowKind::SaveAs, -1});
    if (loadedIsUser()) {
        menuRows.push_back({RowKind::Rename, loadedPresetEntry});
        menuRows.push_back({RowKind::Delete, loadedPresetEntry});
    }
}

int32_t Window::actionRowCount() const {
    return loadedIsUser() ? 3 : 1;
}

int32_t Window::listRowCount() const {
    return std::max(presetMenuRows() - actionRowCount(), 0);
}

EditorLayout::PresetMenu Window::presetMenuLayout() const {
    return EditorLayout::presetMenu(listRowCount(), actionRowCount());
}

bool Window::selectable(int32_t row) const {
    return row >= 0 && row < presetMenuRows() &&
           menuRows[static_cast<size_t>(row)].kind != RowKind::Heading;
}

bool Window::loadedIsUser() const {
    return loadedPresetEntry >= 0 &&
           loadedPresetEntry < static_cast<int32_t>(presetEntries.size()) &&
           presetEntries[static_cast<size_t>(loadedPresetEntry)].category.empty();
}

int32_t Window::userEntryNamed(const std::string& name) const {
    for (size_t e = 0; e < presetEntries.size(); ++e)
        if (presetEntries[e].category.empty() && sameName(presetEntries[e].name, name))
            return static_cast<int32_t>(e);
    return -1;
}

std::string Window::presetMenuRowText(int32_t row) const {
    if (row < 0 || row >= presetMenuRows())
        return {};
    const MenuRow& r = menuRows[static_cast<size_t>(row)];
    switch (r.kind) {
    case RowKind::Init:
        return "Init";
    case RowKind::Category:
        return presetCategories[static_cast<size_t>(r.index)];
    case RowKind::Factory:
    case RowKind::User:
        return presetEntries[static_cast<size_t>(r.index)].name;
    case RowKind::Heading:
        return "YOUR PRESETS";
    case RowKind::SaveAs:
        return "Save as\u2026";
    case RowKind::Rename:
        return "Rename\u2026";
    case RowKind::Delete:
        return deleteAsked ? "Delete \u201C" + presetEntries[static_cast<size_t>(r.index)].name +
                                 "\u201D? Choose again"
                           : "Delete";
    }
    return {};
}

// --- Opening, closing and scrolling ---------------------------------------------------------

void Window::openPresetMenu() {
    // The category of the loaded factory preset opens with the menu, its row under the keys.
    openCategory = -1;
    if (loadedPresetEntry >= 0 && !loadedIsUser()) {
        const std::string& category =
            presetEntries[static_cast<size_t>(loadedPresetEntry)].category;
        const auto at = std::find(presetCategories.begin(), presetCategories.end(), category);
        openCategory = static_cast<int32_t>(at - presetCategories.begin());
    }
    deleteAsked = false;
    rebuildMenuRows();
    presetKeyRow = 0;
    for (int32_t row = 0; row < presetMenuRows(); ++row) {
        const MenuRow& r = menuRows[static_cast<size_t>(row)];
        if ((r.kind == RowKind::Factory || r.kind == RowKind::User) && r.index == loadedPresetEntry)
            presetKeyRow = row;
    }
    menuScroll = 0;
    presetHoverRow = -1;
    openOverlay = Overlay::PresetMenu;
    focusedElement = ElementId::PresetPill;
    keepKeyRowVisible();
}

void Window::closePresetMenu() {
    openOverlay = Overlay::None;
    presetHoverRow = -1;
    deleteAsked = false;
    focusedElement = ElementId::PresetPill;
}

void Window::scrollPresetMenu(int32_t rows) {
    const int32_t most = std::max(listRowCount() - presetMenuLayout().visibleRows, 0);
    menuScroll = std::clamp(menuScroll + rows, 0, most);
}

void Window::keepKeyRowVisible() {
    const int32_t visible = presetMenuLayout().visibleRows;
    if (presetKeyRow >= listRowCount())
        return; // an action, always shown
    if (presetKeyRow < menuScroll)
        menuScroll = presetKeyRow;
    else if (presetKeyRow >= menuScroll + visible)
        menuScroll = presetKeyRow - visible + 1;
    scrollPresetMenu(0);
}

void Window::movePresetKeyRow(int32_t direction) {
    const int32_t rows = presetMenuRows();
    int32_t row = presetKeyRow;
    for (int32_t tries = 0; tries < rows; ++tries) {
        row = (row + direction + rows) % rows;
        if (selectable(row))
            break;
    }
    presetKeyRow = row;
    deleteAsked = false;
    keepKeyRowVisible();
}

std::optional<Hit> Window::hitPresetMenu(float x, float y) const {
    const EditorLayout::PresetMenu menu = presetMenuLayout();
    if (!menu.panel.holds(x, y))
        return std::nullopt;
    if (menu.scrolls && menu.scrollUp.holds(x, y))
        return Hit{ElementId::PresetMenuScroll, -1};
    if (menu.scrolls && menu.scrollDown.holds(x, y))
        return Hit{ElementId::PresetMenuScroll, 1};
    if (menu.list.holds(x, y)) {
        const auto slot =
            static_cast<int32_t>((y - menu.list.top) / EditorLayout::kPresetRowHeight);
        const int32_t row = menuScroll + std::clamp(slot, 0, menu.visibleRows - 1);
        return Hit{ElementId::PresetMenuRow, row < listRowCount() ? row : -1};
    }
    // Between the rows (the rim, the rule) the pointer is on the menu but on no row.
    const int32_t actions = actionRowCount();
    if (x >= menu.list.left && x < menu.list.right && y >= menu.actionsTop &&
        y < menu.actionsTop + EditorLayout::kPresetRowHeight * actions) {
        const auto action =
            static_cast<int32_t>((y - menu.actionsTop) / EditorLayout::kPresetRowHeight);
        return Hit{ElementId::PresetMenuRow, listRowCount() + std::clamp(action, 0, actions - 1)};
    }
    return Hit{ElementId::PresetMenuRow, -1};
}

// --- Choosing -------------------------------------------------------------------------------

void Window::pressInPresetMenu(const Hit& hit) {
    if (hit.element == ElementId::PresetMenuScroll) {
        scrollPresetMenu(hit.index * kScrollStep);
    } else if (hit.element == ElementId::PresetMenuRow) {
        if (hit.index >= 0)
            activatePresetRow(hit.index);
    } else {
        closePresetMenu(); // a press outside only closes the menu
    }
}

void Window::activatePresetRow(int32_t row) {
    if (!selectable(row))
        return;
    const MenuRow chosen = menuRows[static_cast<size_t>(row)];
    presetKeyRow = row;
    switch (chosen.kind) {
    case RowKind::Init:
    case RowKind::Factory:
    case RowKind::User:
        closePresetMenu();
        if (listener != nullptr)
            listener->loadPreset(chosen.index);
        return;
    case RowKind::Category: {
        openCategory = openCategory == chosen.index ? -1 : chosen.index;
        deleteAsked = false;
        rebuildMenuRows();
        for (int32_t r = 0; r < presetMenuRows(); ++r)
            if (menuRows[static_cast<size_t>(r)].kind == RowKind::Category &&
                menuRows[static_cast<size_t>(r)].index == chosen.index)
                presetKeyRow = r;
        keepKeyRowVisible();
        return;
    }
    case RowKind::SaveAs:
        openNameField(FieldPurpose::SaveAs);
        return;
    case RowKind::Rename:
        openNameField(FieldPurpose::Rename);
        return;
    case RowKind::Delete:
        if (!deleteAsked) {
            deleteAsked = true;
            return;
        }
        closePresetMenu();
        if (listener != nullptr)
            listener->deletePreset(chosen.index);
        return;
    case RowKind::Heading:
        return;
    }
}

void Window::keyInPresetMenu(Key key) {
    const MenuRow current = menuRows[static_cast<size_t>(presetKeyRow)];
    switch (key) {
    case Key::Up:
        movePresetKeyRow(-1);
        return;
    case Key::Down:
        movePresetKeyRow(1);
        return;
    case Key::Home:
        presetKeyRow = presetMenuRows() - 1;
        movePresetKeyRow(1);
        return;
    case Key::End:
        presetKeyRow = 0;
        movePresetKeyRow(-1);
        return;
    case Key::PageUp:
    case Key::PageDown: {
        const int32_t page = presetMenuLayout().visibleRows;
        const int32_t direction = key == Key::PageUp ? -1 : 1;
        presetKeyRow = std::clamp(presetKeyRow + direction * page, 0, presetMenuRows() - 1);
        if (!selectable(presetKeyRow))
            movePresetKeyRow(direction);
        deleteAsked = false;
        keepKeyRowVisible();
        return;
    }
    case Key::Right:
        // Right opens a closed category; Left closes the open one, from any of its presets.
        if (current.kind == RowKind::Category && current.index != openCategory)
            activatePresetRow(presetKeyRow);
        return;
    case Key::Left:
        if ((current.kind == RowKind::Category && current.index == openCategory) ||
            current.kind == RowKind::Factory) {
            for (int32_t r = 0; r < presetMenuRows(); ++r)
                if (menuRows[static_cast<size_t>(r)].kind == RowKind::Category &&
                    menuRows[static_cast<size_t>(r)].index == openCategory)
                    activatePresetRow(r);
        }
        return;
    case Key::Return:
    case Key::Space:
        activatePresetRow(presetKeyRow);
        return;
    case Key::Escape:
        closePresetMenu();
        return;
    default:
        return;
    }
}

void Window::stepPreset(int32_t direction) {
    // Menu order is Init, then the entries in order; the ends wrap around.
    const auto positions = static_cast<int32_t>(presetEntries.size()) + 1;
    const int32_t at = loadedPresetEntry + 1;
    const int32_t next = (at + direction + positions) % positions;
    if (listener != nullptr)
        listener->loadPreset(next - 1);
}

void Window::onWheel(float x, float y, float steps) {
    if (openOverlay != Overlay::PresetMenu || !std::isfinite(steps) || steps == 0.0f ||
        !presetMenuLayout().panel.holds(x, y))
        return;
    const auto rows = static_cast<int32_t>(std::lround(std::clamp(steps, -100.0f, 100.0f)));
    scrollPresetMenu(rows != 0 ? -rows : (steps > 0.0f ? -1 : 1));
}

// --- The name field -------------------------------------------------------------------------

void Window::openNameField(FieldPurpose purpose) {
    fieldPurpose = purpose;
    renamedEntry = purpose == FieldPurpose::Rename ? loadedPresetEntry : -1;
    if (purpose == FieldPurpose::Rename)
        nameText.reset(presetEntries[static_cast<size_t>(renamedEntry)].name);
    else if (loadedPresetEntry < 0 && currentPresetName == "Init")
        nameText.reset("");
    else
        nameText.reset(currentPresetName);
    fieldNote = FieldNote::Hint;
    presetHoverRow = -1;
    deleteAsked = false;
    openOverlay = Overlay::NameField;
    focusedElement = ElementId::PresetPill;
}

void Window::closeNameField() {
    openOverlay = Overlay::None;
    fieldNote = FieldNote::Hint;
    focusedElement = ElementId::PresetPill;
}

void Window::onText(const char* utf8) {
    if (openOverlay != Overlay::NameField || utf8 == nullptr)
        return;
    const std::string before = nameText.text();
    switch (nameText.type(utf8)) {
    case NameField::Typed::Accepted:
        if (nameText.text() != before)
            fieldNote = FieldNote::Hint;
        break;
    case NameField::Typed::Refused:
    case NameField::Typed::Malformed:
        fieldNote = FieldNote::Refused;
        break;
    case NameField::Typed::TooLong:
        fieldNote = FieldNote::TooLong;
        break;
    }
}

void Window::keyInNameField(Key key) {
    const std::string before = nameText.text();
    switch (key) {
    case Key::Left:
        nameText.moveLeft();
        return;
    case Key::Right:
        nameText.moveRight();
        return;
    case Key::Home:
        nameText.moveHome();
        return;
    case Key::End:
        nameText.moveEnd();
        return;
    case Key::Backspace:
        nameText.eraseBackward();
        break;
    case Key::Delete:
        nameText.eraseForward();
        break;
    case Key::Return:
        commitNameField();
        return;
    case Key::Escape:
        closeNameField();
        return;
    default:
        return; // Space arrives as typed text; Tab and the others do nothing here
    }
    if (nameText.text() != before)
        fieldNote = FieldNote::Hint;
}

void Window::commitNameField() {
    const std::string name = nameText.trimmed();
    if (name.empty()) {
        fieldNote = FieldNote::Empty;
        return;
    }
    const int32_t existing = userEntryNamed(name);
    const bool renaming = fieldPurpose == FieldPurpose::Rename;
    if (renaming && name == presetEntries[static_cast<size_t>(renamedEntry)].name) {
        closeNameField(); // nothing changed
        return;
    }
    // Another preset of that name is replaced only on a second Enter, after the note said so.
    const bool replaces = existing >= 0 && !(renaming && existing == renamedEntry);
    if (replaces && fieldNote != FieldNote::Replaces) {
        fieldNote = FieldNote::Replaces;
        return;
    }
    const int32_t entry = renamedEntry;
    closeNameField();
    if (listener == nullptr)
        return;
    if (renaming)
        listener->renamePreset(entry, name);
    else
        listener->savePresetAs(name);
}

std::string Window::fieldNoteText() const {
    switch (fieldNote) {
    case FieldNote::Hint:
        return fieldPurpose == FieldPurpose::Rename ? "Enter renames the preset, Esc cancels."
                                                    : "Enter saves the preset, Esc cancels.";
    case FieldNote::Empty:
        return "Type a name first.";
    case FieldNote::Refused:
        return "Names take Latin letters, figures and punctuation.";
    case FieldNote::TooLong:
        return "Names hold up to 32 characters.";
    case FieldNote::Replaces:
        return "You have a preset of this name: Enter replaces it.";
    }
    return {};
}

} // namespace tav::ui
