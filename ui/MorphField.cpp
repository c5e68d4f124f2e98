#include "ui/MorphField.h"

#include <algorithm>
#include <cmath>

namespace tav::ui {
namespace {

// The resting shape: five steps rising from 0.2 to 0.8 across the lines.
float staircase(int j) {
    const int step = std::min((5 * j) / MorphField::kLines, 4);
    return 0.2f + 0.15f * static_cast<float>(step);
}

double usableBand(float value) {
    return std::isfinite(value) && value > 0.0f ? static_cast<double>(value) : 0.0;
}

float moveToward(float value, float target, float maxStep) {
    if (value < target)
        return std::min(value + maxStep, target);
    return std::max(value - maxStep, target);
}

// Per-second rate of the glide toward the measured shapes.
constexpr double kGlideRate = 12.5;
// Presence changes by this much per second: a full fade takes 0.5 s.
constexpr float kPresenceRate = 2.0f;

} // namespace

MorphField::MorphField() {
    for (int j = 0; j < kLines; ++j) {
        const float value = staircase(j);
        measuredA[j] = measuredB[j] = shownA[j] = shownB[j] = rest[j] = value;
    }
}

void MorphField::computeProfile(const float* bands, float* profile) {
    double total = 0.0;
    for (int k = 0; k < kBands; ++k)
        total += usableBand(bands[k]);
    // A tiny floor on every band keeps the walk defined where the spectrum is empty.
    const double floor = total * 1e-6 / kBands;
    const double floored = total * (1.0 + 1e-6);

    int k = 0;
    double before = 0.0;
    double through = usableBand(bands[0]) + floor;
    for (int j = 0; j < kLines; ++j) {
        const double target = (j + 0.5) * floored / kLines;
        while (through < target && k < kBands - 1) {
            before = through;
            ++k;
            through = before + usableBand(bands[k]) + floor;
        }
        const double within = through > before ? (target - before) / (through - before) : 0.0;
        profile[j] = static_cast<float>((k + within) / kBands);
    }
}

void MorphField::takeInput(const float* bands, float energy, float dt, float* measured,
                           float* shown, bool& seen, float& silenceTime) {
    // The floor itself counts as silence here (and so does NaN).
    if (!(energy > kSilentEnergy)) {
        silenceTime += dt;
        return;
    }
    computeProfile(bands, measured);
    if (!seen)
        std::copy(measured, measured + kLines, shown);
    seen = true;
    silenceTime = 0.0f;
}

void MorphField::updateSignals(const MeterBlock& meters, float dt) {
    takeInput(meters.bandEnergyA, meters.weightedEnergyA, dt, measuredA, shownA, seenA,
              silenceTimeA);
    takeInput(meters.bandEnergyB, meters.weightedEnergyB, dt, measuredB, shownB, seenB,
              silenceTimeB);
    animate(dt);
}

void MorphField::advance(float dt) {
    silenceTimeA += dt;
    silenceTimeB += dt;
    animate(dt);
}

void MorphField::animate(float dt) {
    const float glide = static_cast<float>(1.0 - std::exp(-kGlideRate * dt));
    for (int j = 0; j < kLines; ++j) {
        shownA[j] += glide * (measuredA[j] - shownA[j]);
        shownB[j] += glide * (measuredB[j] - shownB[j]);
    }
    const float maxStep = kPresenceRate * dt;
    presenceA = moveToward(presenceA, activeA() && !bypass ? 1.0f : 0.0f, maxStep);
    presenceB = moveToward(presenceB, activeB() && !bypass ? 1.0f : 0.0f, maxStep);
}

float MorphField::lineValue(int j, float t) const {
    j = std::clamp(j, 0, kLines - 1);
    const float s = std::clamp(t, 0.0f, 1.0f);
    const float eased = s * s * s * (s * (6.0f * s - 15.0f) + 10.0f);
    const float a = rest[j] + (shownA[j] - rest[j]) * presenceA;
    const float b = rest[j] + (shownB[j] - rest[j]) * presenceB;
    return a + (b - a) * eased;
}

} // namespace tav::ui
