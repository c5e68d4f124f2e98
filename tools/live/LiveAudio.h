#pragma once

#include "tools/audio/AudioFile.h"
#include "tools/host/ComponentHandler.h"
#include "tools/host/ParameterChanges.h"
#include "tools/host/PluginInstance.h"
#include "tools/live/AudioDevices.h"
#include "tools/live/TakeWriter.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace tav::live {

// Where A or B comes from: a file at the device's rate, played looping, or a stereo pair of the
// device's inputs as they come.
struct LiveInput {
    const host::AudioBuffer* file = nullptr; // null: the device's inputs
    int firstChannel = 0;                    // of the device's inputs, when live
};

// What the status line shows.
struct LiveStatus {
    double cpuLoad = 0.0;     // time in the callback over the time it covered, since last asked
    double peakCpuLoad = 0.0; // the busiest single block since the start
    float peakA = 0.0f, peakB = 0.0f, peakOut = 0.0f; // since last asked
    uint64_t underruns = 0;                           // device under- and overruns since the start
    uint64_t blocks = 0;
    uint64_t frames = 0;
    uint64_t lostRecordFrames = 0;
    int blockSize = 0;
    double rate = 0.0;
    int pluginLatency = 0;  // samples
    long deviceLatency = 0; // samples, as the device reports it
};

// The plug-in played through an audio device, as a DAW plays it: the device's callback runs the
// processor directly on the device's blocks, with no allocation, lock or file access there.
// Edits the controller reports to the host reach the processor as parameter changes in the next
// block. The device's block size is the plug-in's largest; a change of it while playing (a JACK
// server's new buffer size) prepares the plug-in again.
class LiveAudio {
public:
    // Main thread; allocates. The inputs' files, when given, are at rate and outlive this; so do
    // instance and devices. values go to the processor in the first block, as a host's
    // automation does at the start of playback.
    LiveAudio(host::PluginInstance& instance, AudioDevices& devices, const DeviceInfo& device,
              unsigned rate, LiveInput a, LiveInput b, const host::ParameterSet& values);
    // Main thread. Stops playing.
    ~LiveAudio();
    LiveAudio(const LiveAudio&) = delete;
    LiveAudio& operator=(const LiveAudio&) = delete;

    // Main thread; allocates. Opens the device asking for requestedBlock frames, prepares and
    // activates the plug-in for the block size the device gives, and starts playing; what goes
    // to the device is also written to record when it is not empty. Throws HostError.
    void start(int requestedBlock, const std::filesystem::path& record = {});
    // Main thread. Stops playing, closes the device and the recording, deactivates.
    void stop();
    // Main thread; may allocate. Serves restarts the plug-in asked for (a Quality switch) and a
    // new device block size. Throws HostError when the device went away.
    void service();
    // Main thread. The figures since the last call (peaks and load) or the start.
    LiveStatus status();

private:
    static int onAudio(void* output, void* input, unsigned frames, double time, unsigned status,
                       void* self);
    void process(float* output, const float* input, unsigned frames, unsigned status);
    void openStream(int requestedBlock);
    void closeStream();
    void prepare();
    const float* const* source(const LiveInput& in, std::vector<std::vector<float>>& scratch,
                               std::vector<const float*>& pointers, int64_t& position,
                               const float* deviceInput, unsigned frames);

    host::PluginInstance& instance;
    AudioDevices& devices;
    DeviceInfo device;
    unsigned rate;
    LiveInput a, b;
    host::ParameterSet firstValues;
    int mainChannels, sideChannels, outChannels, inChannels;
    int blockSize = 0;
    bool open = false;

    std::unique_ptr<TakeWriter> take;
    Steinberg::IPtr<host::ParameterChanges> changes;
    std::array<Steinberg::Vst::ParamValue, host::ComponentHandler::kParameterCount> edits{};
    std::vector<std::vector<float>> scratchA, scratchB, scratchOut;
    std::vector<const float*> pointersA, pointersB;
    std::vector<float*> pointersOut;
    std::vector<const float*> devicePointers;
    int64_t positionA = 0, positionB = 0;
    bool firstBlock = true;

    std::atomic<uint64_t> underruns{0}, blocks{0}, frames{0}, busyNanos{0};
    std::atomic<float> peakA{0.0f}, peakB{0.0f}, peakOut{0.0f}, peakLoad{0.0f};
    std::atomic<bool> failed{false};
    std::chrono::steady_clock::time_point lastStatus;
    uint64_t lastBusy = 0;
};

} // namespace tav::live
