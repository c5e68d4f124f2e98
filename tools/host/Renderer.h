#pragma once

#include "tools/audio/AudioFile.h"
#include "tools/audio/MorphRamp.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/PluginModule.h"

#include <atomic>
#include <functional>

namespace tav::host {

// What one render asks of the plug-in.
struct RenderSettings {
    MorphRamp morph = MorphRamp::constant(0.5);
    int algorithm = 0; // 0 Transport, 1 Partials, 2 Imprint, 3 Diffuse
    MorphRamp mixPercent = MorphRamp::constant(100.0);
    MorphRamp outputDb = MorphRamp::constant(0.0); // the Output gain

    int quality = 0; // 0 Standard, 1 High
    int blockSize = 512;
};

struct RenderResult {
    AudioBuffer output;
    int latencySamples = 0;
    int analysisMessages = 0; // processor-to-controller messages seen on the connection
};

// Runs a whole file through one new plug-in instance, offline, latency compensated.
class Renderer {
public:
    using Progress = std::function<void(double fraction)>;

    // Main thread; allocates. Throws HostError on settings out of range.
    static void validate(const RenderSettings& settings);

    // Any thread; never allocates. The parameters' values where the settings start.
    static ParameterSet startValues(const RenderSettings& settings);

    // Main thread; allocates. a and b share a rate and length (b as conformed to a). The
    // output has a's rate, channels and length, aligned with a: the plug-in is run for a's
    // length plus its reported latency (zeros after the end) and the first latency samples
    // are dropped. Ramps go out once per block, at the block's middle, as a host's automation
    // does: Morph at the input's time (it shapes the frames analysed), Mix and Output at the
    // output's, so that each lands where the written file has it. Throws HostError when the
    // plug-in refuses, or when cancel becomes true.
    static RenderResult render(const PluginModule& module, const AudioBuffer& a,
                               const AudioBuffer& b, const RenderSettings& settings,
                               const Progress& progress = {},
                               const std::atomic<bool>* cancel = nullptr);
};

} // namespace tav::host
