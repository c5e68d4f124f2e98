#include "RecordingCanvas.h"
#include "ViewFixtures.h"

#include "ui/EditorLayout.h"
#include "ui/SnapshotScene.h"
#include "ui/Window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tav::ui {
namespace {

// Four categories of four factory presets and three of the user's.
std::vector<PresetEntry> samplePresets() {
    std::vector<PresetEntry> presets;
    const char* const groups[4][5] = {
        {"Starting points", "Transport", "Partials", "Imprint", "Diffuse"},
        {"Subtle blends", "A Hint of B", "Warm Shadow", "Breath on Top", "Soft Edge"},
        {"Full transformations", "Voice into Pad", "Drum Skin", "Glass Choir", "Iron Strings"},
        {"Parallel blends", "Half and Half", "Thicken", "Ghost Layer", "Wide Wash"},
    };
    for (const auto& group : groups)
        for (int i = 1; i < 5; ++i)
            presets.push_back({group[i], group[0]});
    for (const char* name : {"Bass Smear", "Late Night Vocal", "My Favourite Texture"})
        presets.push_back({name, ""});
    return presets;
}

using test::RecordingCanvas;
using Op = RecordingCanvas::Op;

// Records the preset requests as text, "load 3", "save Pad", in the order they arrive.
class PresetListener : public test::RecordingListener {
public:
    void loadPreset(int32_t entry) override { requests.push_back("load " + std::to_string(entry)); }
    void savePresetAs(const std::string& name) override { requests.push_back("save " + name); }
    void renamePreset(int32_t entry, const std::string& name) override {
        requests.push_back("rename " + std::to_string(entry) + " " + name);
    }
    void deletePreset(int32_t entry) override {
        requests.push_back("delete " + std::to_string(entry));
    }
    std::vector<std::string> requests;
};

// The sample list: four categories of four factory presets (entries 0..15), then the user's
// "Bass Smear" (16), "Late Night Vocal" (17) and "My Favourite Texture" (18).
class PresetMenu : public ::testing::Test {
protected:
    void SetUp() override { view.setPresets(samplePresets()); }

    void click(Point p) {
        view.onMouseMove(p.x, p.y);
        view.onMouseDown(p.x, p.y);
        view.onMouseUp(p.x, p.y);
    }
    void openMenu() {
        click(EditorLayout::kPresetPill.centre());
        ASSERT_EQ(view.overlay(), Overlay::PresetMenu);
    }
    // The row showing the text, found in the menu as painted; -1 when none does.
    int32_t rowOf(const std::string& text) const {
        for (int32_t row = 0; row < view.presetMenuRows(); ++row)
            if (view.presetMenuRowText(row) == text)
                return row;
        return -1;
    }
    // The centre of a visible row: the list's rows scroll, the actions stand below them.
    Point centreOfRow(int32_t row) const {
        const int32_t actions = rowOf("Rename\u2026") >= 0 ? 3 : 1;
        const int32_t listRows = view.presetMenuRows() - actions;
        const auto menu = EditorLayout::presetMenu(listRows, actions);
        const Box box = row < listRows ? menu.listRow(row - view.presetMenuFirstRow())
                                       : menu.actionRow(row - listRows);
        return box.centre();
    }
    void choose(const std::string& text) {
        const int32_t row = rowOf(text);
        ASSERT_GE(row, 0) << text;
        click(centreOfRow(row));
    }
    void openField() {
        openMenu();
        choose("Save as\u2026");
        ASSERT_TRUE(view.nameFieldOpen());
    }
    void key(Key k) { view.onKey(k, false); }

    PresetListener listener;
    Window view{&listener};
};

TEST_F(PresetMenu, OpensByClickOrKeysAndLoadsTheChosenPreset) {
    openMenu();
    // Init, the categories closed, the user's presets under their heading, then "Save as…".
    ASSERT_EQ(view.presetMenuRows(), 10);
    EXPECT_EQ(view.presetMenuRowText(0), "Init");
    EXPECT_EQ(view.presetMenuRowText(2), "Subtle blends");
    EXPECT_EQ(view.presetMenuRowText(5), "YOUR PRESETS");
    EXPECT_EQ(view.presetMenuRowText(9), "Save as\u2026");
    choose("Subtle blends"); // opens in place
    ASSERT_EQ(view.overlay(), Overlay::PresetMenu);
    EXPECT_EQ(view.presetMenuRowText(3), "A Hint of B");
    choose("Warm Shadow");
    EXPECT_EQ(view.overlay(), Overlay::None);
    EXPECT_EQ(listener.requests, std::vector<std::string>{"load 5"});
    EXPECT_TRUE(listener.events.empty()); // a preset is never a parameter gesture of the view's

    // By keys: the pill keeps the focus; Right opens a category, Return chooses.
    listener.requests.clear();
    key(Key::Return);
    ASSERT_EQ(view.overlay(), Overlay::PresetMenu);
    EXPECT_EQ(view.presetMenuKeyboardRow(), 0);
    key(Key::Down);
    key(Key::Right);
    key(Key::Down);
    key(Key::Down);
    key(Key::Space);
    EXPECT_EQ(listener.requests, std::vector<std::string>{"load 1"});
    key(Key::Return);
    key(Key::Escape);
    EXPECT_EQ(view.overlay(), Overlay::None);
    EXPECT_EQ(view.focused(), ElementId::PresetPill);
    EXPECT_EQ(listener.requests.size(), 1u);
}

TEST_F(PresetMenu, TheLoadedFactoryPresetsCategoryOpensWithTheMenu) {
    view.setCurrentPreset("Drum Skin", true, 9);
    openMenu();
    EXPECT_EQ(view.presetMenuRowText(view.presetMenuKeyboardRow()), "Drum Skin");
    EXPECT_EQ(rowOf("Rename\u2026"), -1); // factory presets are neither renamed nor deleted
    EXPECT_EQ(rowOf("Delete"), -1);
    key(Key::Left); // closes the category, back on its row
    EXPECT_EQ(view.presetMenuRowText(view.presetMenuKeyboardRow()), "Full transformations");
    EXPECT_EQ(rowOf("Drum Skin"), -1);
}

TEST_F(PresetMenu, SaveAsTypesEditsAndSavesTheName) {
    openField();
    EXPECT_EQ(view.nameField().text(), ""); // Init offers no name to start from
    view.onText("Pad 2");
    key(Key::Backspace);
    view.onText("3");
    key(Key::Left);
    key(Key::Backspace); // the space
    key(Key::Home);
    key(Key::Delete); // the P
    view.onText("L");
    EXPECT_EQ(view.nameField().text(), "Lad3");
    key(Key::End);
    view.onText(" ");
    key(Key::Return);
    EXPECT_FALSE(view.nameFieldOpen());
    EXPECT_EQ(listener.requests, std::vector<std::string>{"save Lad3"}); // trimmed
}

TEST_F(PresetMenu, EscapeOrAPressElsewhereCancelsAndAnEmptyNameIsNotSaved) {
    openField();
    view.onText("Unsaved");
    key(Key::Escape);
    EXPECT_FALSE(view.nameFieldOpen());
    EXPECT_EQ(view.focused(), ElementId::PresetPill);
    view.onText("x"); // typing reaches nothing while the field is closed
    openField();
    view.onText("Also unsaved");
    click({300.0f, 300.0f});
    EXPECT_FALSE(view.nameFieldOpen());

    openField();
    view.onText("   ");
    key(Key::Return);
    EXPECT_TRUE(view.nameFieldOpen());
    EXPECT_EQ(view.nameFieldNote(), "Type a name first.");
    EXPECT_TRUE(listener.requests.empty());
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(PresetMenu, AnExistingUserNameAsksBeforeItIsReplaced) {
    view.setCurrentPreset("Drum Skin", false, 9);
    openField();
    EXPECT_EQ(view.nameField().text(), "Drum Skin"); // a factory name is free for the user
    key(Key::Return);
    EXPECT_EQ(listener.requests, std::vector<std::string>{"save Drum Skin"});

    listener.requests.clear();
    openField();
    for (int i = 0; i < 9; ++i)
        key(Key::Backspace);
    view.onText("bass smear"); // the file system would not tell it from "Bass Smear"
    key(Key::Return);
    EXPECT_TRUE(view.nameFieldOpen());
    EXPECT_EQ(view.nameFieldNote(), "You have a preset of this name: Enter replaces it.");
    EXPECT_TRUE(listener.requests.empty());
    key(Key::Return);
    EXPECT_EQ(listener.requests, std::vector<std::string>{"save bass smear"});
}

TEST_F(PresetMenu, CharactersTheFontsCannotDrawAreRefusedAsTyped) {
    openField();
    view.onText("Caf\u00E9 \u65E5\u672C \u0416");
    EXPECT_EQ(view.nameField().text(), "Caf\u00E9  ");
    EXPECT_EQ(view.nameFieldNote(), "Names take Latin letters, figures and punctuation.");
    view.onText("\xC3"); // not UTF-8: nothing goes in
    EXPECT_EQ(view.nameField().text(), "Caf\u00E9  ");
    view.onText("\u0152uvre\r\t"); // control characters are not typing
    EXPECT_EQ(view.nameField().text(), "Caf\u00E9  \u0152uvre");
    EXPECT_EQ(view.nameFieldNote(), "Enter saves the preset, Esc cancels.");
    view.onText(std::string(40, 'x').c_str());
    EXPECT_EQ(view.nameField().characters(), NameField::kMaxCharacters);
    EXPECT_EQ(view.nameFieldNote(), "Names hold up to 32 characters.");
}

TEST_F(PresetMenu, RenameAndDeleteOnlyForALoadedUserPresetAndDeleteAsksOnce) {
    view.setCurrentPreset("Late Night Vocal", false, 17);
    openMenu();
    choose("Delete");
    EXPECT_EQ(view.overlay(), Overlay::PresetMenu);
    EXPECT_TRUE(listener.requests.empty());
    choose("Delete \u201CLate Night Vocal\u201D? Choose again");
    EXPECT_EQ(listener.requests, std::vector<std::string>{"delete 17"});

    // Moving away from the asked row takes the question back.
    listener.requests.clear();
    openMenu();
    choose("Delete");
    key(Key::Up);
    key(Key::Down);
    key(Key::Return);
    EXPECT_TRUE(listener.requests.empty());
    key(Key::Escape);

    openMenu();
    choose("Rename\u2026");
    ASSERT_TRUE(view.nameFieldOpen());
    EXPECT_EQ(view.nameField().text(), "Late Night Vocal");
    view.onText(" 2");
    key(Key::Return);
    EXPECT_EQ(listener.requests, std::vector<std::string>{"rename 17 Late Night Vocal 2"});
}

TEST_F(PresetMenu, LeftAndRightOnThePillStepInMenuOrder) {
    view.onKey(Key::Tab, false);
    view.onKey(Key::Tab, false);
    ASSERT_EQ(view.focused(), ElementId::PresetPill);
    key(Key::Right);
    key(Key::Left);
    view.setCurrentPreset("My Favourite Texture", false, 18);
    key(Key::Right);
    view.setCurrentPreset("Bass Smear", false, 16);
    key(Key::Left);
    EXPECT_EQ(listener.requests,
              (std::vector<std::string>{"load 0", "load 18", "load -1", "load 15"}));
    EXPECT_EQ(view.overlay(), Overlay::None);
}

TEST_F(PresetMenu, ALongListScrollsAndTheActionsStay) {
    std::vector<PresetEntry> many = samplePresets();
    for (int i = 0; i < 30; ++i)
        many.push_back({"User " + std::to_string(10 + i), ""});
    view.setPresets(many);
    openMenu();
    const auto menu = EditorLayout::presetMenu(view.presetMenuRows() - 1, 1);
    ASSERT_TRUE(menu.scrolls);
    EXPECT_LE(menu.panel.bottom + 4.0f, Window::kHeight); // the shadow too
    key(Key::End); // "Save as…", below the list: the list stays
    EXPECT_EQ(view.presetMenuFirstRow(), 0);
    key(Key::Up); // the last user preset, scrolled into view
    EXPECT_EQ(view.presetMenuFirstRow(), view.presetMenuRows() - 1 - menu.visibleRows);
    click(menu.scrollUp.centre());
    EXPECT_EQ(view.presetMenuFirstRow(), view.presetMenuRows() - 1 - menu.visibleRows - 3);
    EXPECT_EQ(view.overlay(), Overlay::PresetMenu);
    view.onWheel(500.0f, 200.0f, 100.0f);
    EXPECT_EQ(view.presetMenuFirstRow(), 0);
    click(centreOfRow(rowOf("Save as\u2026")));
    EXPECT_TRUE(view.nameFieldOpen());
}

TEST_F(PresetMenu, PillShowsTheNameInCapitalsClippedWithAStarWhileEdited) {
    const auto paint = [this] {
        RecordingCanvas canvas;
        view.paint(canvas);
        return canvas;
    };
    const Box& pill = EditorLayout::kPresetPill;
    view.setCurrentPreset("Voice into Pad", true, 8);
    RecordingCanvas canvas = paint();
    const RecordingCanvas::Call* name = canvas.text("VOICE INTO PAD");
    ASSERT_NE(name, nullptr);
    const RecordingCanvas::Call* star = canvas.text("*");
    ASSERT_NE(star, nullptr);
    EXPECT_FLOAT_EQ(star->x, name->x + RecordingCanvas::widthOf(name->text, name->style));

    view.setCurrentPreset("A name far too long for the pill \u00E9", false, -1);
    canvas = paint();
    EXPECT_EQ(canvas.text("*"), nullptr);
    const RecordingCanvas::Call* clipped = nullptr;
    for (const auto& call : canvas.calls)
        if (call.op == Op::DrawText && call.text.rfind("A NAME", 0) == 0)
            clipped = &call;
    ASSERT_NE(clipped, nullptr);
    EXPECT_EQ(clipped->text.substr(clipped->text.size() - 3), "\u2026");
    EXPECT_LE(clipped->x + RecordingCanvas::widthOf(clipped->text, clipped->style),
              pill.right - 12.0f);
    // Whole characters only: one fewer would leave room for another.
    EXPECT_GT(clipped->x + RecordingCanvas::widthOf(clipped->text + "x", clipped->style),
              pill.right - 12.0f);
}

TEST_F(PresetMenu, ANoticeShowsOnTheStatusCardUntilDismissedOrAged) {
    view.showNotice("Cannot read Broken.vstpreset: it is damaged.");
    RecordingCanvas canvas;
    view.paint(canvas);
    ASSERT_NE(canvas.text("Presets"), nullptr);
    const Point card = *SnapshotScene::centreOf(view, ElementId::NoticeCard);
    click(card);
    EXPECT_EQ(view.notice(), "");
    EXPECT_EQ(view.hitTest(card.x, card.y).element, ElementId::MorphArea);
    EXPECT_TRUE(listener.events.empty()); // the press went to the card, not the morph

    view.showNotice("Cannot write to the preset folder.");
    for (int frame = 0; frame < 5 * 30; ++frame)
        view.advance(1.0f / 30.0f);
    EXPECT_NE(view.notice(), "");
    for (int frame = 0; frame < 2 * 30; ++frame)
        view.advance(1.0f / 30.0f);
    EXPECT_EQ(view.notice(), "");
}

} // namespace
} // namespace tav::ui
