#include "ui/SnapshotScene.h"

#include "dsp/FrameGeometry.h"
#include "ui/EditorLayout.h"

#include <algorithm>
#include <cmath>

namespace tav::ui {
namespace {

constexpr float kFrameSeconds = 1.0f / 30.0f;
constexpr int kWarmUpFrames = 60; // long enough for every glide and fade to settle
constexpr double kSampleRate = 48000.0;
constexpr Point kNowhere = {4.0f, 496.0f}; // a corner no element covers

// A tonal input: harmonics of a low note, falling off towards the top bands.
void tonalBands(float* bands) {
    for (int k = 0; k < kDisplayBands; ++k) {
        const float harmonic = 0.5f + 0.5f * std::cos(static_cast<float>(k) * 0.55f);
        bands[k] = std::pow(harmonic, 6.0f) * std::exp(-static_cast<float>(k) / 18.0f) + 1e-6f;
    }
}

// A breathy input: broad noise rising into the upper middle.
void breathyBands(float* bands) {
    for (int k = 0; k < kDisplayBands; ++k) {
        const float x = static_cast<float>(k) / kDisplayBands;
        bands[k] = 0.02f + std::exp(-std::pow((x - 0.62f) / 0.18f, 2.0f));
    }
}

AnalysisRecord makeRecord(const SnapshotState& state) {
    AnalysisRecord record;
    if (state.playingA) {
        tonalBands(record.meters.bandEnergyA);
        record.meters.weightedEnergyA = 1e-3f;
        record.meters.levelA = state.levelA;
    }
    if (state.playingB) {
        breathyBands(record.meters.bandEnergyB);
        record.meters.weightedEnergyB = 1e-3f;
        record.meters.levelB = state.levelB;
    }
    const int quality = state.highQuality ? kQualityHigh : kQualityStandard;
    record.latencySamples = latencySamples(kSampleRate, quality);
    record.sampleRate = kSampleRate;
    record.sidechainActive = 1;
    return record;
}

ElementId openerOf(Overlay overlay) {
    switch (overlay) {
    case Overlay::AlgorithmMenu:
        return ElementId::AlgorithmSelector;
    case Overlay::SettingsPanel:
        return ElementId::SettingsButton;
    case Overlay::AboutCard:
        return ElementId::Wordmark;
    case Overlay::PresetMenu:
    case Overlay::NameField:
        return ElementId::PresetPill;
    case Overlay::None:
        break;
    }
    return ElementId::None;
}

// From the open preset menu, "Save as…" by keyboard, then the typed name in place of the one
// the field starts with.
void openNameField(Window& window, const std::optional<std::string>& typed) {
    for (int32_t row = 0; row < window.presetMenuRows(); ++row) {
        if (window.presetMenuRowText(window.presetMenuKeyboardRow()) == "Save as\u2026")
            break;
        window.onKey(Key::Down, false);
    }
    window.onKey(Key::Return, false);
    if (!typed)
        return;
    window.onKey(Key::End, false);
    while (!window.nameField().text().empty())
        window.onKey(Key::Backspace, false);
    window.onText(typed->c_str());
}

// Tab through the focus order until the element has the keyboard focus.
void focusByKeyboard(Window& window, ElementId element) {
    for (int presses = 0; presses < 16 && window.focused() != element; ++presses) {
        window.onKey(Key::Tab, false);
    }
}

void click(Window& window, Point p) {
    window.onMouseMove(p.x, p.y);
    window.onMouseDown(p.x, p.y);
    window.onMouseUp(p.x, p.y);
}

} // namespace

float SnapshotScene::clampScale(float scale) {
    return std::isfinite(scale) ? std::clamp(scale, kMinScale, kMaxScale) : 1.0f;
}

std::optional<Point> SnapshotScene::centreOf(const Window& window, ElementId element) {
    const std::optional<Box> box = window.hitBox(element);
    if (!box)
        return std::nullopt;
    return box->centre();
}

void SnapshotScene::prepare(Window& window, const SnapshotState& state) {
    window.setTheme(state.theme);
    window.setParameterValues(state.morph, state.algorithm, state.mix, state.outputDb, state.bypass,
                              state.highQuality);
    window.setPresets(state.presets);
    window.setCurrentPreset(state.presetName, state.presetEdited, state.loadedPreset);
    const AnalysisRecord record = makeRecord(state);
    for (int frame = 0; frame < kWarmUpFrames; ++frame)
        window.updateSignals(record, kFrameSeconds);
    if (!state.notice.empty())
        window.showNotice(state.notice);

    const ElementId opener = openerOf(state.overlay);
    if (opener != ElementId::None) {
        if (state.focus == opener) {
            focusByKeyboard(window, opener);
            window.onKey(Key::Return, false);
        } else if (const auto at = centreOf(window, opener)) {
            click(window, *at);
        }
        if (state.overlay == Overlay::NameField)
            openNameField(window, state.typedName);
    } else if (state.focus != ElementId::None) {
        focusByKeyboard(window, state.focus);
    }

    // Pointer last, so that the hover shows over whatever is open.
    std::optional<Point> pointer = state.hoverAt;
    if (!pointer && state.hover == ElementId::MorphArea) {
        pointer = Point{EditorLayout::morphX(window.morph()), 200.0f};
    } else if (!pointer && state.hover != ElementId::None) {
        pointer = centreOf(window, state.hover);
    }
    if (pointer) {
        window.onMouseMove(pointer->x, pointer->y);
    } else {
        window.onMouseMove(kNowhere.x, kNowhere.y);
        window.onMouseLeave();
    }
    // The automation flag comes last: the host sets it from outside, whatever the user did.
    window.setMorphAutomated(state.morphAutomated);
}

} // namespace tav::ui
