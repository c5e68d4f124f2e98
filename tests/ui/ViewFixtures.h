#pragma once

#include "dsp/AnalysisRecord.h"
#include "ui/Theme.h"
#include "ui/Window.h"
#include "ui/WindowListener.h"

#include <algorithm>
#include <vector>

namespace tav::ui::test {

// Records the view's edits in the order they arrive.
class RecordingListener : public WindowListener {
public:
    enum class Kind { Begin, Perform, End, SetupPage };
    struct Event {
        Kind kind;
        int32_t index;
        float value;
    };

    void beginEdit(int32_t index) override { events.push_back({Kind::Begin, index, 0.0f}); }
    void performEdit(int32_t index, float value) override {
        events.push_back({Kind::Perform, index, value});
    }
    void endEdit(int32_t index) override { events.push_back({Kind::End, index, 0.0f}); }
    void openSetupPage() override { events.push_back({Kind::SetupPage, -1, 0.0f}); }

    std::vector<Event> events;
};

// A record in which each input either plays a flat spectrum at the given level or is silent.
inline AnalysisRecord inputRecord(bool aPlays, bool bPlays, float level = 0.5f) {
    AnalysisRecord record;
    for (int k = 0; k < kDisplayBands; ++k) {
        record.meters.bandEnergyA[k] = aPlays ? 1.0f : 0.0f;
        record.meters.bandEnergyB[k] = bPlays ? 1.0f : 0.0f;
    }
    record.meters.weightedEnergyA = aPlays ? 1.0f : 0.0f;
    record.meters.weightedEnergyB = bPlays ? 1.0f : 0.0f;
    record.meters.levelA = aPlays ? level : 0.0f;
    record.meters.levelB = bPlays ? level : 0.0f;
    record.latencySamples = 2120;
    record.sampleRate = 48000.0;
    record.sidechainActive = 1;
    return record;
}

// Feeds the view half a second of the given input state, long enough for every fade.
inline void settleInputs(Window& view, bool aPlays, bool bPlays) {
    const AnalysisRecord record = inputRecord(aPlays, bPlays);
    for (int frame = 0; frame < 20; ++frame)
        view.updateSignals(record, 1.0f / 30.0f);
}

inline const Color& paperColor(int32_t index) {
    return paletteFor(kThemePaper)[index];
}

} // namespace tav::ui::test
