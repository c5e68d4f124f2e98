// The view's input: hit testing against EditorLayout's boxes, the pointer, the keys, and the
// gestures they make.
#include "ui/EditorLayout.h"
#include "ui/Window.h"

#include <algorithm>

namespace tav::ui {
namespace {

// Drag sensitivities per view unit moved upwards.
constexpr float kMixPerUnit = 0.005f;
constexpr float kOutputDbPerUnit = 0.1f;

// Keyboard focus moves through the controls in this order.
constexpr ElementId kFocusOrder[] = {
    ElementId::Wordmark,     ElementId::PresetPill,  ElementId::SettingsButton,
    ElementId::BypassButton, ElementId::MorphArea,   ElementId::AlgorithmSelector,
    ElementId::MixValue,     ElementId::OutputValue,
};
constexpr int kFocusCount = static_cast<int>(sizeof(kFocusOrder) / sizeof(kFocusOrder[0]));

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

// --- Hit testing and pointer shape ---------------------------------------------------------

Hit Window::hitTest(float x, float y) const {
    switch (openOverlay) {
    case Overlay::AboutCard:
        return {};
    case Overlay::SettingsPanel:
        if (EditorLayout::kQualityItems.holds(x, y))
            return {ElementId::SettingsItem, EditorLayout::qualityAt(y)};
        if (EditorLayout::kThemeItems.holds(x, y))
            return {ElementId::SettingsItem, EditorLayout::themeAt(x)};
        return {};
    case Overlay::AlgorithmMenu:
        if (EditorLayout::kAlgorithmMenu.holds(x, y))
            return {ElementId::AlgorithmMenuRow, EditorLayout::menuRowAt(y)};
        return {};
    case Overlay::PresetMenu:
        return hitPresetMenu(x, y).value_or(Hit{});
    case Overlay::NameField:
        if (EditorLayout::kPresetPill.holds(x, y) || EditorLayout::kNameFieldNote.holds(x, y))
            return {ElementId::PresetPill, -1};
        return {};
    case Overlay::None:
        break;
    }

    if (const auto notice = noticeBox(); notice && notice->holds(x, y))
        return {ElementId::NoticeCard, -1};
    if (const auto route = routeButtonBox(); route && route->holds(x, y))
        return {ElementId::RouteButton, -1};
    for (const Area& area : EditorLayout::kAreas)
        if (area.box.holds(x, y))
            return {area.element, -1};
    return {};
}

std::optional<Box> Window::hitBox(ElementId element) const {
    switch (openOverlay) {
    case Overlay::AboutCard:
        return std::nullopt;
    case Overlay::SettingsPanel:
        if (element != ElementId::SettingsItem)
            return std::nullopt;
        return EditorLayout::kSettingsItemsSpan;
    case Overlay::AlgorithmMenu:
        if (element != ElementId::AlgorithmMenuRow)
            return std::nullopt;
        return EditorLayout::kAlgorithmMenu;
    case Overlay::PresetMenu:
        if (element != ElementId::PresetMenuRow)
            return std::nullopt;
        return presetMenuLayout().panel;
    case Overlay::NameField:
        if (element != ElementId::PresetPill)
            return std::nullopt;
        return EditorLayout::kPresetPill;
    case Overlay::None:
        break;
    }
    if (element == ElementId::RouteButton)
        return routeButtonBox();
    if (element == ElementId::NoticeCard)
        return noticeBox();
    for (const Area& area : EditorLayout::kAreas)
        if (area.element == element)
            return area.box;
    return std::nullopt;
}

std::optional<Box> Window::routeButtonBox() const {
    const StatusMessage message = shownStatus();
    if (!message.shown || !message.routeButton)
        return std::nullopt;
    return EditorLayout::routeButton(message, bodyHeight);
}

std::optional<Box> Window::noticeBox() const {
    if (noticeText.empty())
        return std::nullopt;
    const StatusMessage notice = shownStatus();
    return EditorLayout::statusCard(notice, bodyHeight);
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
        return CursorKind::Arrow;
    case ElementId::PresetPill:
        return openOverlay == Overlay::NameField ? CursorKind::Arrow : CursorKind::Hand;
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
    case Overlay::PresetMenu:
        pressInPresetMenu(hit);
        return;
    case Overlay::NameField:
        // A press on the field keeps it; one anywhere else leaves it, saving nothing.
        if (hit.element != ElementId::PresetPill)
            closeNameField();
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
    case ElementId::PresetPill:
        openPresetMenu();
        break;
    case ElementId::NoticeCard:
        showNotice({});
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
        morphValue = EditorLayout::morphAt(x);
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
        morphValue = EditorLayout::morphAt(x);
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
    presetHoverRow = hit.element == ElementId::PresetMenuRow ? hit.index : -1;
}

void Window::onMouseUp(float, float) {
    if (drag == DragMode::None)
        return;
    const ParamIndex index = paramOfDrag(drag);
    drag = DragMode::None;
    end(index);
}

void Window::onDoubleClick(float x, float y) {
    if (openOverlay != Overlay::None && openOverlay != Overlay::SettingsPanel)
        return;
    if (morphIsAutomated || !EditorLayout::kMorphArea.holds(x, y))
        return;
    morphValue = 0.5f;
    gesture(kParamMorph, morphValue);
}

void Window::onMouseLeave() {
    hoveredElement = ElementId::None;
    menuHoverRow = -1;
    panelHoverItem = -1;
    presetHoverRow = -1;
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
    case Overlay::PresetMenu:
        keyInPresetMenu(key);
        return;
    case Overlay::NameField:
        keyInNameField(key);
        return;
    case Overlay::None:
        break;
    }
    if (key == Key::Escape && !noticeText.empty())
        showNotice({});
    else if (key == Key::Tab)
        moveFocus(shift);
    else
        keyWithoutOverlay(key, shift);
}

void Window::keyInMenu(Key key) {
    if (key == Key::Up) {
        menuKeyRow = (menuKeyRow + EditorLayout::kMenuRows - 1) % EditorLayout::kMenuRows;
    } else if (key == Key::Down) {
        menuKeyRow = (menuKeyRow + 1) % EditorLayout::kMenuRows;
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
        panelKeyItem = (panelKeyItem + (back ? EditorLayout::kSettingsItems - 1 : 1)) %
                       EditorLayout::kSettingsItems;
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
    case ElementId::PresetPill:
        if (isActivation(key))
            openPresetMenu();
        else if (key == Key::Left || key == Key::Right)
            stepPreset(key == Key::Left ? -1 : 1);
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
    if (item == EditorLayout::kItemPaper || item == EditorLayout::kItemInk) {
        // The theme is the view's own; the editor host picks it up from there.
        themeIndex = item == EditorLayout::kItemInk ? kThemeInk : kThemePaper;
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
