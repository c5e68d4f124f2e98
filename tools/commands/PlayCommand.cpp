#include "tools/commands/PlayCommand.h"

#include "tools/commands/OptionChecks.h"
#include "tools/commands/ParameterFlags.h"

#include "tools/audio/AudioFile.h"
#include "tools/audio/MorphRamp.h"
#include "tools/commands/PluginPath.h"
#include "tools/demo/DemoSignals.h"
#include "tools/host/ParameterOptions.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/PluginModule.h"
#include "tools/host/Renderer.h"
#include "tools/live/AudioDevices.h"
#include "tools/live/LiveAudio.h"
#include "tools/live/TerminalKeys.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tav::tools {
namespace {

using namespace tav::host;
using Clock = std::chrono::steady_clock;

struct PlayOptions {
    std::vector<std::string> files;
    std::string plugin, device, input = "none", record;
    ParameterFlags parameters;
    double seconds = 0.0; // 0: until stopped
};

constexpr double kDemoSeconds = 8.0;
constexpr double kMorphStep = 0.05;
constexpr auto kPoll = std::chrono::milliseconds(20);
constexpr auto kStatusEvery = std::chrono::milliseconds(250);

// How many files each --input takes, and which.
int filesWanted(const std::string& input) {
    if (input == "both")
        return 0;
    if (input == "a" || input == "b")
        return 1;
    return 2;
}

std::string decibels(float peak) {
    if (peak <= 0.0f)
        return " -inf";
    char text[16];
    std::snprintf(text, sizeof text, "%5.1f", 20.0 * std::log10(peak));
    return text;
}

// A file read and brought to the device's rate; frames (when given) cuts or pads it.
AudioBuffer atRate(const std::string& path, unsigned rate, int64_t frames = -1) {
    const AudioBuffer file = audio_file::read(path);
    if (frames < 0)
        frames = static_cast<int64_t>(
            std::llround(static_cast<double>(file.frames()) * rate / file.sampleRate));
    return audio_file::conform(file, rate, frames);
}

double fileRate(const PlayOptions& options) {
    return options.files.empty() ? 48000.0 : audio_file::read(options.files[0]).sampleRate;
}

// Main thread. An edit made here reaches the controller and, through the host's queue, the
// processor, as the editor's own edits do.
void edit(PluginInstance& instance, model::ParamId id, double normalized) {
    instance.controller()->setParamNormalized(id, normalized);
    ComponentHandler& handler = instance.handler();
    handler.beginEdit(id);
    handler.performEdit(id, normalized);
    handler.endEdit(id);
}

class StatusLine {
public:
    StatusLine() : shown(isatty(STDOUT_FILENO) != 0) {}
    void draw(const PluginInstance& instance, const live::LiveStatus& s) {
        if (!shown)
            return;
        const double morph = instance.controller()->getParamNormalized(model::kMorphId);
        const int algorithm =
            model::param(model::kAlgorithmId)
                .stepOf(instance.controller()->getParamNormalized(model::kAlgorithmId));
        std::printf("\rMorph %.2f  %-9s  A %s  B %s  out %s dBFS  CPU %3.0f %%  underruns %llu"
                    "  latency %.1f + %.1f ms ",
                    morph, model::kAlgorithmNames[static_cast<size_t>(algorithm)],
                    decibels(s.peakA).c_str(), decibels(s.peakB).c_str(),
                    decibels(s.peakOut).c_str(), s.cpuLoad * 100.0,
                    static_cast<unsigned long long>(s.underruns), s.pluginLatency * 1000.0 / s.rate,
                    static_cast<double>(s.deviceLatency) * 1000.0 / s.rate);
        std::fflush(stdout);
    }
    void finish() {
        if (shown)
            std::printf("\n");
    }

private:
    bool shown;
};

// Mix and Gain ramps, sent as the host's automation whenever their value moves.
struct LevelRampValues {
    double mix = -1.0, gain = -1.0;
};

void followLevelRamps(PluginInstance& instance, const RenderSettings& settings, double elapsed,
                      LevelRampValues& last) {
    const double mix = ParameterSet::mixNormalized(settings.mixPercent.valueAt(elapsed));
    const double gain = ParameterSet::outputNormalized(settings.outputDb.valueAt(elapsed));
    if (mix != last.mix && last.mix >= 0.0)
        edit(instance, model::kMixId, mix);
    if (gain != last.gain && last.gain >= 0.0)
        edit(instance, model::kOutputId, gain);
    last = {mix, gain};
}

int runPlay(const PlayOptions& options, const std::atomic<bool>& interrupted) {
    // Morph may follow a ramp while playing; Mix and Gain start where their ramps start.
    const RenderSettings settings = options.parameters.renderSettings();

    live::AudioDevices devices;
    live::DeviceInfo device;
    if (!options.device.empty()) {
        device = devices.find(options.device);
    } else if (const auto found = devices.defaultOutput()) {
        device = *found;
    } else {
        throw HostError("no audio output device to play through (tavimo devices says what "
                        "there is)");
    }
    const unsigned rate = live::AudioDevices::rateFor(device, fileRate(options));

    // Files are read and brought to the device's rate before playing: the device's callback
    // only copies from memory.
    AudioBuffer a, b;
    live::LiveInput inA, inB;
    if (options.input == "none") {
        if (options.files.empty()) {
            a = DemoSignals::chords(rate, kDemoSeconds);
            b = DemoSignals::voice(rate, kDemoSeconds);
        } else {
            a = atRate(options.files[0], rate);
            b = atRate(options.files[1], rate, a.frames());
        }
        inA.file = &a;
        inB.file = &b;
    } else if (options.input == "a") {
        b = atRate(options.files[0], rate);
        inB.file = &b;
    } else if (options.input == "b") {
        a = atRate(options.files[0], rate);
        inA.file = &a;
    } else {
        inB.firstChannel = 2;
    }

    const PluginModule module(pluginPath(options.plugin));
    PluginInstance instance(module);
    const ParameterSet values = Renderer::startValues(settings);
    instance.restoreParameters(values);

    live::LiveAudio audio(instance, devices, device, rate, inA, inB, values);
    audio.start(options.parameters.block, options.record);
    live::LiveStatus status = audio.status();
    std::printf("tavimo play: %s \"%s\", %u Hz, %d-sample blocks; latency: plug-in %d samples "
                "(%.1f ms) + device %ld samples (%.1f ms)\n",
                devices.systemName().c_str(), device.name.c_str(), rate, status.blockSize,
                status.pluginLatency, status.pluginLatency * 1000.0 / rate, status.deviceLatency,
                static_cast<double>(status.deviceLatency) * 1000.0 / rate);

    live::TerminalKeys keys;
    if (keys.active())
        std::printf("keys: <- -> Morph, 1-4 or Tab algorithm, q quits (Ctrl+C too)\n");
    std::fflush(stdout);
    StatusLine line;
    const auto started = Clock::now();
    auto lastDrawn = started;
    bool followRamp = !settings.morph.isConstant();
    double lastRampValue = values.morph;
    double busySeconds = 0.0;
    LevelRampValues lastLevels;
    bool quit = false;
    while (!interrupted && !quit) {
        std::this_thread::sleep_for(kPoll);
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - started).count();
        if (options.seconds > 0.0 && elapsed >= options.seconds)
            break;
        char character = 0;
        for (auto key = keys.next(character); key != live::TerminalKeys::kNone;
             key = keys.next(character)) {
            const double morph = instance.controller()->getParamNormalized(model::kMorphId);
            const int algorithm =
                model::param(model::kAlgorithmId)
                    .stepOf(instance.controller()->getParamNormalized(model::kAlgorithmId));
            if (key == live::TerminalKeys::kLeft || key == live::TerminalKeys::kRight) {
                const double step = key == live::TerminalKeys::kLeft ? -kMorphStep : kMorphStep;
                edit(instance, model::kMorphId, std::clamp(morph + step, 0.0, 1.0));
                followRamp = false;
            } else if (key == live::TerminalKeys::kTab) {
                edit(instance, model::kAlgorithmId,
                     ParameterSet::algorithmNormalized((algorithm + 1) % 4));
            } else if (key == live::TerminalKeys::kOther && character >= '1' && character <= '4') {
                edit(instance, model::kAlgorithmId,
                     ParameterSet::algorithmNormalized(character - '1'));
            } else if (key == live::TerminalKeys::kOther &&
                       (character == 'q' || character == 'Q' || character == '\x1b')) {
                quit = true;
            }
        }
        if (followRamp) {
            const double value = settings.morph.valueAt(elapsed);
            if (value != lastRampValue)
                edit(instance, model::kMorphId, value);
            lastRampValue = value;
        }
        followLevelRamps(instance, settings, elapsed, lastLevels);
        audio.service();
        if (now - lastDrawn >= kStatusEvery) {
            const double interval = std::chrono::duration<double>(now - lastDrawn).count();
            lastDrawn = now;
            status = audio.status();
            busySeconds += status.cpuLoad * interval;
            line.draw(instance, status);
        }
    }
    line.finish();
    const double interval = std::chrono::duration<double>(Clock::now() - lastDrawn).count();
    status = audio.status();
    busySeconds += status.cpuLoad * interval;
    audio.stop();
    const double played = static_cast<double>(status.frames) / rate;
    const double wall = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf("tavimo play: played %.1f s in %llu blocks of %d, %llu underruns, CPU %.1f %% "
                "on average, %.1f %% in the busiest block\n",
                played, static_cast<unsigned long long>(status.blocks), status.blockSize,
                static_cast<unsigned long long>(status.underruns),
                wall > 0.0 ? busySeconds / wall * 100.0 : 0.0, status.peakCpuLoad * 100.0);
    if (!options.record.empty())
        std::printf("tavimo play: recorded %s%s\n", options.record.c_str(),
                    status.lostRecordFrames > 0 ? (" (" + std::to_string(status.lostRecordFrames) +
                                                   " frames lost: the disk did not keep up)")
                                                      .c_str()
                                                : "");
    return 0;
}

} // namespace

void addPlayCommand(CLI::App& app, std::function<int()>& action,
                    const std::atomic<bool>& interrupted) {
    auto options = std::make_shared<PlayOptions>();
    auto* command = app.add_subcommand(
        "play", "Play A morphed toward B through the plug-in, live, on an audio device");
    command
        ->add_option("FILES", options->files,
                     "A and B (default: the demo's); with --input a only B, with --input b "
                     "only A, with --input both none")
        ->type_name("FILE");
    options->parameters.block = 256;
    options->parameters.add(*command, ParameterFlags::Ramps::Allowed);
    command->add_option("--plugin", options->plugin, "Tavimo.vst3 bundle (default: beside tavimo)")
        ->type_name("PATH");
    command
        ->add_option("--device", options->device,
                     "Audio device by name or index (tavimo devices lists them)")
        ->type_name("NAME|INDEX");
    command
        ->add_option("--input", options->input,
                     "Take an input live from the device: none, a or b (from input channels "
                     "1-2), or both (A from 1-2, B from 3-4)")
        ->type_name("WHICH")
        ->check(oneOf({"none", "a", "b", "both"}))
        ->capture_default_str();
    command
        ->add_option("--seconds", options->seconds,
                     "Stop after this many seconds, 0 to 86400 (0: when stopped)")
        ->type_name("SECONDS")
        ->check(numberFrom(0.0, 86400.0, "seconds"));
    command
        ->add_option("--record", options->record,
                     "Also write what goes to the device to this WAV file (32-bit float)")
        ->type_name("FILE");
    command->callback([options, &action, &interrupted, command] {
        const int wanted = filesWanted(options->input);
        const int given = static_cast<int>(options->files.size());
        if (given != wanted && !(options->input == "none" && given == 0))
            throw CLI::ValidationError(
                "play",
                options->input == "none"
                    ? "give both A and B, or neither"
                    : "--input " + options->input + " takes " + std::to_string(wanted) +
                          (wanted == 1
                               ? " file (" + std::string(options->input == "a" ? "B" : "A") + ")"
                               : " files") +
                          ", not " + std::to_string(given));
        action = [options, &interrupted, command] {
            options->parameters.applyPreset(*command);
            return runPlay(*options, interrupted);
        };
    });
}

} // namespace tav::tools
