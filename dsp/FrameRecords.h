#pragma once

#include <cstdint>
#include <vector>

// The per-frame records the engine fills and the algorithms read: below both, so that the
// building blocks that fill them need nothing from the algorithms.
namespace tav {

// An input whose frame holds less loudness-weighted energy than this counts as silent: about
// 120 dB below full scale, far under any recording's noise floor.
inline constexpr float kSilentEnergy = 1e-12f;

// One input's analysis of one frame and channel, filled by the engine; algorithms only read it.
struct FrameAnalysis {
    std::vector<float> re, im;    // the windowed frame's spectrum, numBins entries
    std::vector<float> magnitude; // sqrt(re^2 + im^2)
    std::vector<float>
        frequency;       // reassigned frequency in bins; kept from the last frame that asked
    float energy = 0.0f; // A-weighted energy; below kSilentEnergy the input is silent
    bool onset = false;  // an onset fired for this input in this frame (any channel)

    // Any thread; allocates. Sizes every array to numBins zeros.
    void resize(int numBins);
};

// Everything an algorithm sees of one frame; built on the stack for every frame and channel.
struct MorphContext {
    const FrameAnalysis* a = nullptr;
    const FrameAnalysis* b = nullptr;
    float morph = 0.0f; // 0 = all A, 1 = all B
    int32_t fftSize = 0;
    int32_t numBins = 0;
    int32_t hopSize = 0;
    double sampleRate = 0.0;
};

} // namespace tav
