#pragma once

#include "tools/host/PluginModule.h"

#include <atomic>
#include <filesystem>
#include <ostream>

namespace tav::host {

// The product's main job on built-in inputs: A and B synthesised, a Morph ramp 0 -> 1 rendered
// with each algorithm, each result written as WAV with a spectrogram beside it.
class Demo {
public:
    static constexpr double kSampleRate = 48000.0;
    static constexpr double kSeconds = 8.0;

    // Main thread; allocates. Creates folder if needed and writes into it; reports each file on
    // report. Throws HostError when the folder or a file cannot be written.
    static void run(const PluginModule& module, const std::filesystem::path& folder,
                    std::ostream& report, const std::atomic<bool>* cancel = nullptr);
};

} // namespace tav::host
