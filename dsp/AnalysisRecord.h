#pragma once

#include "dsp/FrameMeters.h"

#include <cstddef>
#include <cstdint>

namespace tav {

// What the processor tells the editor after a block with a fresh frame: 1088 bytes,
// little-endian, the engine's meter block first. Sent through the data-exchange queue.
struct alignas(32) AnalysisRecord {
    MeterBlock meters; // bandEnergyA .. levelB, 260 floats
    int32_t latencySamples = 0;
    uint8_t reserved0[4] = {};
    double sampleRate = 0.0;
    uint32_t sidechainActive = 0;
    uint8_t reserved1[28] = {};
};

inline constexpr uint32_t kAnalysisRecordSize = 1088;
inline constexpr uint32_t kAnalysisQueueBlocks = 8;
inline constexpr uint32_t kAnalysisQueueAlignment = 32;

static_assert(sizeof(AnalysisRecord) == kAnalysisRecordSize);
static_assert(offsetof(AnalysisRecord, latencySamples) == 1040);
static_assert(offsetof(AnalysisRecord, sampleRate) == 1048);
static_assert(offsetof(AnalysisRecord, sidechainActive) == 1056);

} // namespace tav
