#pragma once

#include "Material.h"
#include "SoundMeasures.h"

#include <vector>

// Renders cases through the whole engine and measures the output as a listener would.
namespace tav::lab {

inline constexpr int kBlockSize = 512;
// Renders of a grid share the machine's two cores.
inline constexpr int kRenderThreads = 2;

// The engine's settings for one render; Mix 1, Output gain 1, no Bypass.
struct Setting {
    int algorithm = 0;
    int quality = 0;
    float morph = 0.5f;
};

// Everything measured on one render.
struct Figures {
    Swells swells;
    double peakDb = -1000.0;       // the output's peak after start-up
    int ceilingHits = 0;           // samples at or over the limiter's ceiling
    bool ceilingApplies = false;   // both inputs at or below kCeilingInputPeakDb
    Loudness loudness;             // pairs only
    HitFigures preEcho;            // pairs with drum hits only
    HitFigures ducking;            // likewise
    double switchPeakDb = -1000.0; // the peak in the 100 ms after a case's switch to zeros
};

// Any thread; allocates. The case through a freshly prepared engine at the setting, in blocks
// of kBlockSize with constant parameters, aligned with the inputs by the engine's latency.
Stereo render(const Case& c, const Setting& setting);

// Any thread; allocates. (1 - morph) A + morph B: what the output is measured against.
Stereo crossfade(const Case& c, float morph);

// Any thread; allocates. The figures of an output aligned with the case's inputs.
Figures measureOutput(const Case& c, float morph, const Stereo& y);

// One render of a grid and its figures.
struct Job {
    const Case* c = nullptr;
    Setting setting;
};
struct Result {
    Job job;
    Figures figures;
};

// Main thread; allocates. Renders and measures every job on `threads` threads; results in the
// jobs' order.
std::vector<Result> runJobs(const std::vector<Job>& jobs, int threads = kRenderThreads);

} // namespace tav::lab
