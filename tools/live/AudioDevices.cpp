#include "tools/live/AudioDevices.h"

#include "tools/HostError.h"

#include <alsa/asoundlib.h>
#include <rtaudio/RtAudio.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace tav::live {
namespace {

// ALSA reports every card it fails to find on standard error while RtAudio probes; a machine
// without cards is an answer, not an error.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// RtAudio's PulseAudio back end always reports one device, server or not; only a socket to
// talk to means a server may answer.
bool pulseServerMayAnswer() {
    if (std::getenv("PULSE_SERVER") != nullptr)
        return true;
    std::error_code error;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::filesystem::path folder =
        runtime != nullptr ? std::filesystem::path(runtime)
                           : std::filesystem::path("/run/user") / std::to_string(getuid());
    return std::filesystem::exists(folder / "pulse" / "native", error);
}

std::vector<DeviceInfo> probe(RtAudio& audio) {
    std::vector<DeviceInfo> found;
    unsigned count = 0;
    try {
        count = audio.getDeviceCount();
    } catch (const RtAudioError&) {
        return found;
    }
    for (unsigned i = 0; i < count; ++i) {
        RtAudio::DeviceInfo info;
        try {
            info = audio.getDeviceInfo(i);
        } catch (const RtAudioError&) {
            continue;
        }
        if (!info.probed)
            continue;
        DeviceInfo device;
        device.index = static_cast<int>(i);
        device.name = info.name;
        device.inputs = static_cast<int>(info.inputChannels);
        device.outputs = static_cast<int>(info.outputChannels);
        device.rates = info.sampleRates;
        device.preferredRate = info.preferredSampleRate;
        device.isDefaultOutput = info.isDefaultOutput;
        found.push_back(device);
    }
    return found;
}

} // namespace

AudioDevices::AudioDevices() {
    snd_lib_error_set_handler(&quietAlsa);
    for (RtAudio::Api api : {RtAudio::UNIX_JACK, RtAudio::LINUX_ALSA, RtAudio::LINUX_PULSE}) {
        if (api == RtAudio::LINUX_PULSE && !pulseServerMayAnswer())
            continue;
        try {
            auto candidate = std::make_unique<RtAudio>(api);
            candidate->showWarnings(false);
            std::vector<DeviceInfo> found = probe(*candidate);
            if (found.empty())
                continue;
            audio = std::move(candidate);
            devices = std::move(found);
            return;
        } catch (const RtAudioError&) {
            // This system is not compiled in or not reachable: try the next.
        }
    }
}

AudioDevices::~AudioDevices() = default;

std::string AudioDevices::systemName() const {
    if (!audio)
        return "none";
    switch (audio->getCurrentApi()) {
    case RtAudio::UNIX_JACK:
        return "JACK";
    case RtAudio::LINUX_ALSA:
        return "ALSA";
    case RtAudio::LINUX_PULSE:
        return "PulseAudio";
    default:
        return RtAudio::getApiDisplayName(audio->getCurrentApi());
    }
}

std::optional<DeviceInfo> AudioDevices::defaultOutput() const {
    for (const DeviceInfo& device : devices)
        if (device.isDefaultOutput && device.outputs > 0)
            return device;
    for (const DeviceInfo& device : devices)
        if (device.outputs > 0)
            return device;
    return std::nullopt;
}

DeviceInfo AudioDevices::find(const std::string& nameOrIndex) const {
    const DeviceInfo* match = nullptr;
    for (const DeviceInfo& device : devices)
        if (device.name == nameOrIndex)
            match = &device;
    if (match == nullptr) {
        int containing = 0;
        for (const DeviceInfo& device : devices)
            if (device.name.find(nameOrIndex) != std::string::npos) {
                match = &device;
                ++containing;
            }
        if (containing > 1)
            throw host::HostError("--device \"" + nameOrIndex +
                                  "\" names several devices; tavimo devices lists them");
    }
    if (match == nullptr && !nameOrIndex.empty() &&
        std::all_of(nameOrIndex.begin(), nameOrIndex.end(), ::isdigit)) {
        const int index = std::atoi(nameOrIndex.c_str());
        for (const DeviceInfo& device : devices)
            if (device.index == index)
                match = &device;
    }
    if (match == nullptr)
        throw host::HostError(
            "no audio device \"" + nameOrIndex + "\" (" +
            (devices.empty() ? std::string("this machine has none") : "tavimo devices lists them") +
            ")");
    if (match->outputs == 0)
        throw host::HostError("the audio device \"" + match->name + "\" has no outputs");
    return *match;
}

unsigned AudioDevices::rateFor(const DeviceInfo& device, double wanted) {
    const auto rate = static_cast<unsigned>(wanted);
    if (std::find(device.rates.begin(), device.rates.end(), rate) != device.rates.end())
        return rate;
    if (device.preferredRate != 0)
        return device.preferredRate;
    return device.rates.empty() ? rate : device.rates.back();
}

} // namespace tav::live
