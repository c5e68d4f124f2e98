#include "tools/commands/DevicesCommand.h"

#include "tools/live/AudioDevices.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

namespace tav::tools {
namespace {

std::string ratesOf(const live::DeviceInfo& device) {
    std::string text;
    for (unsigned rate : device.rates)
        text += (text.empty() ? "" : ", ") + std::to_string(rate);
    return text.empty() ? "-" : text;
}

int runDevices() {
    live::AudioDevices devices;
    if (devices.list().empty()) {
        std::printf("no audio devices (no JACK or PulseAudio server answers and ALSA has no "
                    "card); tavimo editor plays silently, tavimo play cannot play\n");
        return 0;
    }
    const auto chosen = devices.defaultOutput();
    std::printf("audio devices through %s (--device NAME or INDEX picks one):\n",
                devices.systemName().c_str());
    for (const live::DeviceInfo& device : devices.list())
        std::printf("  %d  %-24s %2d in %2d out  %s Hz%s\n", device.index, device.name.c_str(),
                    device.inputs, device.outputs, ratesOf(device).c_str(),
                    chosen && chosen->index == device.index ? "  (default)" : "");
    return 0;
}

} // namespace

void addDevicesCommand(CLI::App& app, std::function<int()>& action) {
    auto* command = app.add_subcommand("devices", "List the audio devices tavimo can play through");
    command->callback([&action] { action = [] { return runDevices(); }; });
}

} // namespace tav::tools
