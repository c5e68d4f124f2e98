#pragma once

#include "dsp/FrameMeters.h"
#include "ui/StatusMessage.h"

namespace tav::ui {

// The morph display model: 44 lines from A's spectrum shape to B's, each line one energy
// quantile, gliding toward the measured shapes and fading to a resting staircase while an
// input is absent. Also keeps the two silence timers. UI thread; nothing allocates.
class MorphField {
public:
    static constexpr int kLines = 44;
    static constexpr int kBands = kDisplayBands;
    // An input counts as silent once its timer reaches this.
    static constexpr float kSilenceThreshold = 0.3f;

    MorphField();

    // UI thread. A fresh record: silence timers and measured shapes from it, then animate.
    void updateSignals(const MeterBlock& meters, float dt);
    // UI thread. No record this frame: both inputs count as silent for dt, then animate.
    void advance(float dt);

    // UI thread. The view's bypass, which hides both inputs' shapes.
    void setBypass(bool on) { bypass = on; }

    // Any thread. Line j's value at t (0 left edge, 1 right edge), 0..1.
    float lineValue(int j, float t) const;

    bool activeA() const { return silenceTimeA < kSilenceThreshold; }
    bool activeB() const { return silenceTimeB < kSilenceThreshold; }

    // The message for the current input state and the given bypass.
    StatusMessage statusMessage() const {
        return StatusMessage::forState(bypass, activeA(), activeB());
    }

    // Any thread; never allocates. The 44 energy quantiles of a band spectrum on a 0..1 axis
    // over the bands. Negative or non-finite band values count as 0.
    static void computeProfile(const float* bands, float* profile);

    float silenceTimeA = kSilenceThreshold;
    float silenceTimeB = kSilenceThreshold;

    const float* displayedA() const { return shownA; }
    const float* displayedB() const { return shownB; }
    const float* measuredProfileA() const { return measuredA; }
    const float* measuredProfileB() const { return measuredB; }
    float presenceOfA() const { return presenceA; }
    float presenceOfB() const { return presenceB; }

private:
    void takeInput(const float* bands, float energy, float dt, float* measured, float* shown,
                   bool& seen, float& silenceTime);
    void animate(float dt);

    float measuredA[kLines];
    float measuredB[kLines];
    float shownA[kLines];
    float shownB[kLines];
    float rest[kLines];
    float presenceA = 0.0f;
    float presenceB = 0.0f;
    bool seenA = false;
    bool seenB = false;
    bool bypass = false;
};

} // namespace tav::ui
