#pragma once

#include <cstdint>

namespace tav {

// The per-block targets the processor hands the engine; smoothing happens inside the engine.
struct EngineParams {
    float morph = 0.0f;      // 0..1; forced to 0 while no sidechain is connected
    float mix = 1.0f;        // normalized 0..1, not percent
    float outputGain = 1.0f; // linear, -24 dB .. +12 dB
    bool bypass = false;
    int32_t algorithm = 0; // 0 Transport, 1 Partials, 2 Imprint, 3 Diffuse
};

} // namespace tav
