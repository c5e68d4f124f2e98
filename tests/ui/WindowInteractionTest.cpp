#include "RecordingCanvas.h"
#include "ViewFixtures.h"

#include "ui/SnapshotScene.h"
#include "ui/Window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tav::ui {
namespace {

using test::RecordingListener;
using Kind = RecordingListener::Kind;
using Event = RecordingListener::Event;

class WindowInput : public ::testing::Test {
protected:
    RecordingListener listener;
    Window view{&listener};

    void click(float x, float y) {
        view.onMouseDown(x, y);
        view.onMouseUp(x, y);
    }
    void key(Key k, bool shift = false) { view.onKey(k, shift); }
    void tabTo(ElementId element) {
        for (int i = 0; i < 8 && view.focused() != element; ++i)
            key(Key::Tab);
        ASSERT_EQ(view.focused(), element);
    }
    void expectGesture(int32_t index, float value, size_t first = 0) {
        ASSERT_EQ(listener.events.size(), first + 3);
        const Event& b = listener.events[first];
        const Event& p = listener.events[first + 1];
        const Event& e = listener.events[first + 2];
        EXPECT_EQ(b.kind, Kind::Begin);
        EXPECT_EQ(b.index, index);
        EXPECT_EQ(p.kind, Kind::Perform);
        EXPECT_EQ(p.index, index);
        EXPECT_NEAR(p.value, value, 1e-6);
        EXPECT_EQ(e.kind, Kind::End);
        EXPECT_EQ(e.index, index);
    }
    void expectLastPerform(int32_t index, float value) {
        ASSERT_GE(listener.events.size(), 2u);
        const Event& p = listener.events[listener.events.size() - 2];
        EXPECT_EQ(p.kind, Kind::Perform);
        EXPECT_EQ(p.index, index);
        EXPECT_NEAR(p.value, value, 1e-6);
    }
};

TEST_F(WindowInput, RouteButtonAsksForTheSetupPage) {
    test::settleInputs(view, true, false);
    const Point route = *SnapshotScene::centreOf(view, ElementId::RouteButton);
    view.onMouseMove(route.x, route.y);
    EXPECT_EQ(view.cursorKind(), CursorKind::Hand);
    view.onMouseDown(route.x, route.y);
    ASSERT_EQ(listener.events.size(), 1u);
    EXPECT_EQ(listener.events[0].kind, Kind::SetupPage);

    // Other states have no button.
    test::settleInputs(view, false, false);
    EXPECT_EQ(view.hitTest(route.x, route.y).element, ElementId::MorphArea);
}

TEST_F(WindowInput, PointerShapesFollowTheHoveredElementAndTheDrag) {
    const struct {
        float x, y;
        CursorKind kind;
    } probes[] = {
        {5.0f, 5.0f, CursorKind::Arrow},
        {500.0f, 27.0f, CursorKind::Hand},
        {100.0f, 25.0f, CursorKind::Hand},
        {626.0f, 27.0f, CursorKind::Hand},
        {700.0f, 27.0f, CursorKind::Hand},
        {300.0f, 200.0f, CursorKind::ResizeHorizontal},
        {400.0f, 450.0f, CursorKind::Hand},
        {530.0f, 450.0f, CursorKind::ResizeVertical},
        {700.0f, 450.0f, CursorKind::ResizeVertical},
    };
    for (const auto& probe : probes) {
        view.onMouseMove(probe.x, probe.y);
        EXPECT_EQ(view.cursorKind(), probe.kind) << probe.x << ", " << probe.y;
    }
    view.onMouseDown(300.0f, 200.0f);
    view.onMouseMove(5.0f, 5.0f);
    EXPECT_EQ(view.cursorKind(), CursorKind::ResizeHorizontal);
    view.onMouseUp(5.0f, 5.0f);
    view.onMouseMove(5.0f, 5.0f);
    view.onMouseDown(530.0f, 450.0f);
    view.onMouseMove(5.0f, 5.0f);
    EXPECT_EQ(view.cursorKind(), CursorKind::ResizeVertical);
    view.onMouseUp(5.0f, 5.0f);

    view.onMouseMove(400.0f, 450.0f);
    view.onMouseDown(400.0f, 450.0f); // menu rows show a hand
    view.onMouseMove(500.0f, 300.0f);
    EXPECT_EQ(view.cursorKind(), CursorKind::Hand);
    EXPECT_EQ(view.menuPointerRow(), 2);
    view.onMouseLeave();
    EXPECT_EQ(view.menuPointerRow(), -1);
    EXPECT_EQ(view.hovered(), ElementId::None);
    EXPECT_EQ(view.cursorKind(), CursorKind::Arrow);
}

TEST_F(WindowInput, BypassClickIsOneGestureEachWay) {
    click(700.0f, 27.0f);
    EXPECT_TRUE(view.bypass());
    EXPECT_TRUE(view.morphField().statusMessage().shown);
    EXPECT_STREQ(view.morphField().statusMessage().title, "Bypassed");
    expectGesture(kParamBypass, 1.0f);
    click(700.0f, 27.0f);
    EXPECT_FALSE(view.bypass());
    expectGesture(kParamBypass, 0.0f, 3);
}

TEST_F(WindowInput, MorphDragJumpsToThePointerAndPerformsOnEveryMove) {
    click(30.0f, 200.0f);
    EXPECT_TRUE(listener.events.empty());

    view.onMouseDown(68.0f, 200.0f);
    EXPECT_EQ(view.dragMode(), DragMode::Morph);
    EXPECT_EQ(view.focused(), ElementId::MorphArea);
    view.onMouseMove(691.9f, 300.0f);
    view.onMouseMove(900.0f, 10.0f);
    view.onMouseMove(-50.0f, 10.0f);
    view.onMouseUp(-50.0f, 10.0f);
    const std::vector<Event>& e = listener.events;
    ASSERT_EQ(e.size(), 6u);
    EXPECT_EQ(e[0].kind, Kind::Begin);
    EXPECT_EQ(e[0].index, kParamMorph);
    EXPECT_EQ(e[1].kind, Kind::Perform);
    EXPECT_FLOAT_EQ(e[1].value, 0.0f);
    EXPECT_NEAR(e[2].value, 623.9f / 624.0f, 1e-6);
    EXPECT_LT(e[2].value, 1.0f);
    EXPECT_FLOAT_EQ(e[3].value, 1.0f);
    EXPECT_FLOAT_EQ(e[4].value, 0.0f);
    EXPECT_EQ(e[5].kind, Kind::End);
    EXPECT_EQ(e[5].index, kParamMorph);
    EXPECT_EQ(view.dragMode(), DragMode::None);
    EXPECT_FLOAT_EQ(view.morph(), 0.0f);
}

TEST_F(WindowInput, MixAndOutputDragVerticallyAndClamp) {
    view.setMix(0.5f);
    view.onMouseDown(530.0f, 450.0f);
    for (int step = 1; step <= 3; ++step)
        view.onMouseMove(530.0f, 450.0f - 100.0f * step);
    view.onMouseUp(530.0f, 150.0f);
    const std::vector<Event>& e = listener.events;
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].kind, Kind::Begin);
    EXPECT_EQ(e[0].index, kParamMix);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(e[i].kind, Kind::Perform);
        EXPECT_EQ(e[i].index, kParamMix);
        EXPECT_FLOAT_EQ(e[i].value, 1.0f);
    }
    EXPECT_EQ(e[4].kind, Kind::End);
    EXPECT_EQ(e[4].index, kParamMix);

    listener.events.clear();
    view.onMouseDown(700.0f, 450.0f);
    view.onMouseMove(700.0f, 440.0f); // 10 units up: +1 dB
    view.onMouseMove(700.0f, 460.0f); // 20 down: -2 dB
    view.onMouseMove(700.0f, 1000.0f);
    view.onMouseUp(700.0f, 1000.0f);
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].index, kParamOutput);
    EXPECT_NEAR(e[1].value, 1.0f, 1e-5);
    EXPECT_NEAR(e[2].value, -1.0f, 1e-5);
    EXPECT_FLOAT_EQ(e[3].value, -24.0f);
    EXPECT_EQ(e[4].kind, Kind::End);
    EXPECT_EQ(e[4].index, kParamOutput);
}

TEST_F(WindowInput, DoubleClickOnTheMorphResetsItToTheMiddle) {
    view.onMouseDown(100.0f, 200.0f);
    view.onMouseUp(100.0f, 200.0f);
    listener.events.clear();
    view.onDoubleClick(100.0f, 200.0f);
    expectGesture(kParamMorph, 0.5f);
    EXPECT_FLOAT_EQ(view.morph(), 0.5f);

    listener.events.clear();
    view.onDoubleClick(30.0f, 200.0f);
    view.onDoubleClick(530.0f, 450.0f);
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(WindowInput, AutomatedMorphIgnoresPressesKeysAndDoubleClicks) {
    view.setMorphAutomated(true);
    view.setMorph(0.3f);
    view.onMouseMove(300.0f, 200.0f);
    EXPECT_EQ(view.cursorKind(), CursorKind::Arrow);
    view.onMouseDown(300.0f, 200.0f);
    view.onMouseMove(500.0f, 200.0f);
    view.onMouseUp(500.0f, 200.0f);
    view.onDoubleClick(300.0f, 200.0f);
    tabTo(ElementId::MorphArea);
    for (Key k : {Key::Right, Key::Left, Key::PageUp, Key::Home, Key::End})
        key(k);
    EXPECT_TRUE(listener.events.empty());
    EXPECT_FLOAT_EQ(view.morph(), 0.3f);

    view.setMorphAutomated(false);
    key(Key::End);
    expectGesture(kParamMorph, 1.0f);
}

TEST_F(WindowInput, MorphKeysStepAndClamp) {
    tabTo(ElementId::MorphArea);
    EXPECT_TRUE(view.focusVisible());
    const struct {
        Key key;
        bool shift;
        float expected;
    } steps[] = {
        {Key::Right, false, 0.51f}, {Key::Up, true, 0.511f},    {Key::Left, false, 0.501f},
        {Key::Down, true, 0.5f},    {Key::PageUp, false, 0.6f}, {Key::End, false, 1.0f},
        {Key::Right, false, 1.0f},  {Key::Home, false, 0.0f},   {Key::Left, false, 0.0f},
    };
    for (const auto& step : steps) {
        listener.events.clear();
        key(step.key, step.shift);
        expectGesture(kParamMorph, step.expected);
    }
    view.setMorph(0.05f);
    listener.events.clear();
    key(Key::PageDown);
    expectGesture(kParamMorph, 0.0f);

    listener.events.clear();
    key(Key::Return);
    key(Key::Escape);
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(WindowInput, MixAndOutputKeysStepInTheirUnits) {
    view.setMix(0.5f);
    tabTo(ElementId::MixValue);
    key(Key::Up);
    expectLastPerform(kParamMix, 0.51f);
    key(Key::Left, true);
    expectLastPerform(kParamMix, 0.505f);
    EXPECT_EQ(listener.events.size(), 6u);
    key(Key::PageUp); // not a mix key
    EXPECT_EQ(listener.events.size(), 6u);

    tabTo(ElementId::OutputValue);
    key(Key::Right);
    expectLastPerform(kParamOutput, 0.2f);
    key(Key::Down, true);
    expectLastPerform(kParamOutput, 0.1f);
    view.setOutput(11.9f);
    key(Key::Up);
    expectLastPerform(kParamOutput, 12.0f);
    view.setOutput(-24.0f);
    key(Key::Left);
    expectLastPerform(kParamOutput, -24.0f);
}

TEST_F(WindowInput, TabCyclesThroughTheControlsBothWays) {
    const ElementId order[] = {
        ElementId::Wordmark,     ElementId::PresetPill,  ElementId::SettingsButton,
        ElementId::BypassButton, ElementId::MorphArea,   ElementId::AlgorithmSelector,
        ElementId::MixValue,     ElementId::OutputValue,
    };
    key(Key::Tab, true);
    EXPECT_EQ(view.focused(), ElementId::OutputValue);
    key(Key::Tab);
    EXPECT_EQ(view.focused(), ElementId::Wordmark);
    key(Key::Tab, true);
    EXPECT_EQ(view.focused(), ElementId::OutputValue);
    for (int i = 6; i >= 0; --i) {
        key(Key::Tab, true);
        EXPECT_EQ(view.focused(), order[i]);
    }
    for (int i = 1; i < 8; ++i) {
        key(Key::Tab);
        EXPECT_EQ(view.focused(), order[i]);
    }
    // A press clears focus and hides it; Tab then starts at the wordmark again.
    click(5.0f, 5.0f);
    EXPECT_EQ(view.focused(), ElementId::None);
    EXPECT_FALSE(view.focusVisible());
    key(Key::Tab);
    EXPECT_EQ(view.focused(), ElementId::Wordmark);
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(WindowInput, KeysOnButtonsOpenOverlaysAndToggleBypass) {
    tabTo(ElementId::BypassButton);
    key(Key::Space);
    expectGesture(kParamBypass, 1.0f);
    listener.events.clear();

    tabTo(ElementId::PresetPill);
    key(Key::Return);
    EXPECT_EQ(view.overlay(), Overlay::PresetMenu);
    key(Key::Escape);

    tabTo(ElementId::Wordmark);
    key(Key::Return);
    EXPECT_EQ(view.overlay(), Overlay::AboutCard);
    key(Key::Tab); // the card takes every key
    key(Key::Left);
    EXPECT_EQ(view.overlay(), Overlay::AboutCard);
    EXPECT_EQ(view.focused(), ElementId::Wordmark);
    key(Key::Escape);
    EXPECT_EQ(view.overlay(), Overlay::None);
    EXPECT_EQ(view.focused(), ElementId::Wordmark);
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(WindowInput, AlgorithmMenuByPointerAndKeys) {
    view.setAlgorithm(1);
    click(400.0f, 450.0f);
    ASSERT_EQ(view.overlay(), Overlay::AlgorithmMenu);
    EXPECT_EQ(view.menuKeyboardRow(), 1);
    EXPECT_EQ(view.focused(), ElementId::AlgorithmSelector);

    // A press outside only closes the menu; nothing behind it reacts.
    click(700.0f, 27.0f);
    EXPECT_EQ(view.overlay(), Overlay::None);
    EXPECT_FALSE(view.bypass());
    EXPECT_TRUE(listener.events.empty());
    EXPECT_EQ(view.focused(), ElementId::AlgorithmSelector);

    click(400.0f, 450.0f);
    view.onMouseMove(500.0f, 300.0f);
    view.onMouseDown(500.0f, 300.0f); // third row
    EXPECT_EQ(view.algorithm(), 2);
    expectGesture(kParamAlgorithm, 2.0f);
    EXPECT_EQ(view.menuPointerRow(), -1);
    EXPECT_EQ(view.overlay(), Overlay::None);
    view.onMouseUp(500.0f, 300.0f);
    EXPECT_EQ(listener.events.size(), 3u);

    listener.events.clear();
    key(Key::Return); // the selector keeps the focus
    ASSERT_EQ(view.overlay(), Overlay::AlgorithmMenu);
    EXPECT_EQ(view.menuKeyboardRow(), 2);
    key(Key::Down);
    key(Key::Down);
    EXPECT_EQ(view.menuKeyboardRow(), 0);
    key(Key::Up);
    EXPECT_EQ(view.menuKeyboardRow(), 3);
    key(Key::Tab);
    key(Key::Home);
    EXPECT_TRUE(listener.events.empty());
    key(Key::Space);
    expectGesture(kParamAlgorithm, 3.0f);
    EXPECT_EQ(view.overlay(), Overlay::None);

    listener.events.clear();
    key(Key::Return);
    key(Key::Escape);
    EXPECT_EQ(view.overlay(), Overlay::None);
    EXPECT_EQ(view.focused(), ElementId::AlgorithmSelector);
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(WindowInput, SettingsSendOnlyRealQualityChanges) {
    click(626.0f, 27.0f);
    ASSERT_EQ(view.overlay(), Overlay::SettingsPanel);
    EXPECT_EQ(view.settingsKeyboardItem(), 0);
    click(500.0f, 90.0f); // "Standard", already selected
    EXPECT_TRUE(listener.events.empty());
    EXPECT_EQ(view.overlay(), Overlay::None);
    EXPECT_EQ(view.focused(), ElementId::SettingsButton);

    click(626.0f, 27.0f);
    click(600.0f, 210.0f); // "Ink"
    EXPECT_EQ(view.theme(), kThemeInk);
    EXPECT_TRUE(listener.events.empty());

    click(626.0f, 27.0f);
    click(500.0f, 140.0f); // "High"
    EXPECT_TRUE(view.quality());
    expectGesture(kParamQuality, 1.0f);

    listener.events.clear();
    key(Key::Return); // the settings button keeps the focus
    ASSERT_EQ(view.overlay(), Overlay::SettingsPanel);
    EXPECT_EQ(view.settingsKeyboardItem(), 1);
    key(Key::Left);
    EXPECT_EQ(view.settingsKeyboardItem(), 0);
    key(Key::Up);
    EXPECT_EQ(view.settingsKeyboardItem(), 3);
    key(Key::Down);
    EXPECT_EQ(view.settingsKeyboardItem(), 0);
    key(Key::Right);
    key(Key::Right);
    EXPECT_EQ(view.settingsKeyboardItem(), 2);
    key(Key::Space); // "Paper"
    EXPECT_EQ(view.theme(), kThemePaper);
    EXPECT_EQ(view.overlay(), Overlay::None);
    EXPECT_TRUE(listener.events.empty());

    key(Key::Return);
    key(Key::Left);
    key(Key::Return); // "Standard"
    EXPECT_FALSE(view.quality());
    expectGesture(kParamQuality, 0.0f);
}

TEST_F(WindowInput, AboutCardClosesOnAnyPress) {
    click(100.0f, 25.0f);
    ASSERT_EQ(view.overlay(), Overlay::AboutCard);
    view.onDoubleClick(300.0f, 200.0f); // the card is open: no morph reset
    click(300.0f, 200.0f);
    EXPECT_EQ(view.overlay(), Overlay::None);
    EXPECT_EQ(view.focused(), ElementId::Wordmark);
    EXPECT_EQ(view.dragMode(), DragMode::None);
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(WindowInput, APressDuringADragClosesTheOpenGestureFirst) {
    view.onMouseDown(300.0f, 200.0f);
    view.onMouseDown(700.0f, 27.0f); // a lost release
    const std::vector<Event>& e = listener.events;
    ASSERT_EQ(e.size(), 6u);
    EXPECT_EQ(e[2].kind, Kind::End);
    EXPECT_EQ(e[2].index, kParamMorph);
    EXPECT_EQ(e[3].kind, Kind::Begin);
    EXPECT_EQ(e[3].index, kParamBypass);
}

TEST_F(WindowInput, ValueKeysWaitForTheDragToEnd) {
    view.onMouseDown(530.0f, 450.0f);
    key(Key::Up);
    view.onMouseUp(530.0f, 450.0f);
    ASSERT_EQ(listener.events.size(), 2u);
    EXPECT_EQ(listener.events[1].kind, Kind::End);
    key(Key::Down);
    expectGesture(kParamMix, 0.99f, 2);
}

TEST(WindowWithoutListener, EditsChangeOnlyTheView) {
    Window view;
    view.onMouseDown(700.0f, 27.0f);
    EXPECT_TRUE(view.bypass());
    view.onMouseDown(68.0f + 624.0f * 0.25f, 200.0f);
    view.onMouseUp(0.0f, 0.0f);
    EXPECT_FLOAT_EQ(view.morph(), 0.25f);
    view.onMouseDown(530.0f, 450.0f);
    view.onMouseMove(530.0f, 500.0f);
    view.onMouseUp(530.0f, 500.0f);
    EXPECT_FLOAT_EQ(view.mix(), 0.75f);
}

TEST(WindowValues, SettersClampAndIgnoreNonFiniteValues) {
    Window view;
    view.setParameterValues(1.5f, 7, -0.5f, 40.0f, true, true);
    EXPECT_FLOAT_EQ(view.morph(), 1.0f);
    EXPECT_EQ(view.algorithm(), 3);
    EXPECT_FLOAT_EQ(view.mix(), 0.0f);
    EXPECT_FLOAT_EQ(view.output(), 12.0f);
    EXPECT_TRUE(view.bypass());
    EXPECT_TRUE(view.quality());
    view.setParameterValues(std::nanf(""), -2, std::nanf(""), -100.0f, false, false);
    EXPECT_FLOAT_EQ(view.morph(), 1.0f);
    EXPECT_EQ(view.algorithm(), 0);
    EXPECT_FLOAT_EQ(view.mix(), 0.0f);
    EXPECT_FLOAT_EQ(view.output(), -24.0f);
    view.setTheme(5);
    EXPECT_EQ(view.theme(), kThemePaper);
}

} // namespace
} // namespace tav::ui
