// The view's state: the values it shows and what the editor host tells it. Painting is in
// WindowPainting.cpp, input in WindowInput.cpp, the boxes both read in EditorLayout.h.
#include "ui/Window.h"

#include "dsp/FrameGeometry.h"

#include <algorithm>
#include <cmath>

namespace tav::ui {
namespace {

// Keeps the current value when the new one is not a number.
float clampedOr(float value, float low, float high, float current) {
    return std::isfinite(value) ? std::clamp(value, low, high) : current;
}

float clamp01(float value) {
    return std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 0.0f;
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
    ageNotice(dt);
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
    ageNotice(dt);
}

} // namespace tav::ui
