#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

class RtAudio;

namespace tav::live {

// One device as the audio system describes it.
struct DeviceInfo {
    int index = 0;
    std::string name;
    int inputs = 0;
    int outputs = 0;
    std::vector<unsigned> rates;
    unsigned preferredRate = 0;
    bool isDefaultOutput = false;
};

// The machine's audio devices through RtAudio, on the first system that has any: a running JACK
// server, then ALSA's cards, then a PulseAudio server (PulseAudio only when its socket exists,
// since RtAudio offers it whether or not a server answers).
class AudioDevices {
public:
    // Main thread; allocates. Never throws: a machine without devices has an empty list.
    AudioDevices();
    // Main thread.
    ~AudioDevices();
    AudioDevices(const AudioDevices&) = delete;
    AudioDevices& operator=(const AudioDevices&) = delete;

    // Main thread. "JACK", "ALSA", "PulseAudio", or "none".
    std::string systemName() const;
    // Main thread. Every device the system offers, in its order.
    const std::vector<DeviceInfo>& list() const { return devices; }
    // Main thread. The default output device, or the first with outputs; nothing without one.
    std::optional<DeviceInfo> defaultOutput() const;
    // Main thread; allocates. The device with this exact name, else the only one whose name
    // contains it, else the one with this index. Throws HostError (one line) when none or
    // several match, or the device has no outputs.
    DeviceInfo find(const std::string& nameOrIndex) const;
    // Main thread. The rate to open device at: wanted when it offers it, else its own.
    static unsigned rateFor(const DeviceInfo& device, double wanted);

    // Main thread. The RtAudio object the devices belong to; streams open on it.
    RtAudio& system() { return *audio; }

private:
    std::unique_ptr<RtAudio> audio;
    std::vector<DeviceInfo> devices;
};

} // namespace tav::live
