#pragma once

#include "dsp/FrameRecords.h"

#include <vector>

namespace tav {

inline constexpr int kDisplayBands = 128;

// What the editor sees of the last frame; copied as one block of 260 floats into its record.
struct MeterBlock {
    float bandEnergyA[kDisplayBands] = {};
    float bandEnergyB[kDisplayBands] = {};
    float weightedEnergyA = 0.0f;
    float weightedEnergyB = 0.0f;
    float levelA = 0.0f; // 1 + dB/60 relative to a full-scale sine, clamped to 0..1
    float levelB = 0.0f;
};
static_assert(sizeof(MeterBlock) == 260 * sizeof(float));

// Condenses every channel's analyses of A and B into the meter block after each frame.
class FrameMeters {
public:
    // Any thread; allocates only a table of the band map. displayBand has fftSize/2 + 1 entries.
    void prepare(int channels, int fftSize, const int* displayBand);

    // Audio thread; never allocates. Clears only the fresh flag; the values stay for the editor.
    void reset() { fresh = false; }

    // Audio thread; never allocates. analysesA[c] and analysesB[c] for every prepared channel c.
    void update(const FrameAnalysis* const* analysesA, const FrameAnalysis* const* analysesB);

    // Audio thread; never allocates. Exactly what update does when every analysis is of a
    // silent frame (all zeros), without reading them.
    void updateSilent();

    // Audio thread. Whether a frame finished since the last call; clears that.
    bool consumeFresh() {
        const bool wasFresh = fresh;
        fresh = false;
        return wasFresh;
    }

    const MeterBlock& block() const { return meters; }

private:
    // Consecutive bins [begin, end) of one display band (-1: outside every band).
    struct BandRun {
        int band;
        int begin;
        int end;
    };

    // Adds one channel's powers, scaled by share, to the band energies; returns their total.
    float accumulateBands(const float* magnitude, float share, float* bandEnergy) const;
    float referenceEnergy() const;
    void clearSums();

    int channels = 1;
    int fftSize = 0;
    std::vector<BandRun> runs;
    MeterBlock meters;
    bool fresh = false;
};

} // namespace tav
