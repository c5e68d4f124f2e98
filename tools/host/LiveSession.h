#pragma once

#include "tools/audio/AudioFile.h"
#include "tools/host/ComponentHandler.h"
#include "tools/host/ParameterChanges.h"
#include "tools/host/PluginInstance.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

namespace tav::host {

// Plays A and B through a plug-in instance in real time on an audio thread of its own, looping,
// as a DAW's transport would; the output is discarded, so no audio device is needed. Edits the
// controller reports to the host reach the processor as parameter changes in the next block.
class LiveSession {
public:
    // Main thread; allocates. a and b share a rate and length; the instance must have been set
    // up for a's rate and channels, with blockSize as its largest block, and must outlive this.
    LiveSession(PluginInstance& instance, const AudioBuffer& a, const AudioBuffer& b,
                int blockSize);
    // Main thread. Stops the audio thread and deactivates.
    ~LiveSession();
    LiveSession(const LiveSession&) = delete;
    LiveSession& operator=(const LiveSession&) = delete;

    // Main thread. Activates the plug-in and starts the audio thread.
    void start();
    // Main thread. Stops the audio thread and deactivates the plug-in.
    void stop();
    // Main thread. A latency change the controller asked for (a Quality switch) takes effect as
    // in a DAW: stop, activate again, play on.
    void serviceRestarts();
    // Any thread. Blocks processed since the session began.
    uint64_t blocks() const { return processed.load(); }

private:
    void play();
    void applyEdits();

    PluginInstance& instance;
    const AudioBuffer& a;
    const AudioBuffer& b;
    int blockSize;
    ParameterChanges changes;
    std::array<Steinberg::Vst::ParamValue, ComponentHandler::kParameterCount> edits{};
    std::atomic<bool> running{false};
    std::atomic<uint64_t> processed{0};
    std::thread audio;
};

} // namespace tav::host
