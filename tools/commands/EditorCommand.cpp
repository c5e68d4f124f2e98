#include "tools/commands/EditorCommand.h"

#include "tools/commands/OptionChecks.h"
#include "tools/commands/OutputPath.h"
#include "tools/commands/ParameterFlags.h"
#include "tools/demo/DemoSignals.h"
#include "tools/host/EditorFrame.h"
#include "tools/host/HostWindow.h"
#include "tools/host/LiveSession.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/PluginModule.h"
#ifdef TAVIMO_HAVE_LIVE_AUDIO
#include "tools/live/AudioDevices.h"
#include "tools/live/LiveAudio.h"
#endif

#include "pluginterfaces/gui/iplugview.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tav::tools {
namespace {

using namespace tav::host;
using namespace std::chrono_literals;

struct EditorOptions {
    std::string a, b, plugin, screenshot, device;
    double seconds = 0.0; // 0: until the window is closed
    ParameterFlags parameters;
    bool noAudio = false;
};

constexpr double kDemoSeconds = 8.0;

// The view of the plug-in's controller, attached to a parent window for as long as it lives.
class AttachedView {
public:
    AttachedView(IPlugView* view, EditorFrame& frame, uint32_t parent) : view(view) {
        view->setFrame(&frame);
        const auto parentId = reinterpret_cast<void*>(static_cast<uintptr_t>(parent));
        if (view->attached(parentId, kPlatformTypeX11EmbedWindowID) != kResultOk)
            throw HostError("the plug-in's editor refused to open in an X11 window");
    }
    ~AttachedView() {
        view->removed();
        view->setFrame(nullptr);
        view->release();
    }
    AttachedView(const AttachedView&) = delete;
    AttachedView& operator=(const AttachedView&) = delete;

private:
    IPlugView* view;
};

IPlugView* createEditorView(PluginInstance& instance) {
    IPlugView* view = instance.controller()->createView(Vst::ViewType::kEditor);
    if (view == nullptr)
        throw HostError("the plug-in has no editor");
    if (view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID) != kResultTrue) {
        view->release();
        throw HostError("the plug-in's editor cannot live in an X11 window");
    }
    return view;
}

// The inputs at rate (0: A's own), as the audio device or the silent clock plays them.
void loadInputs(const EditorOptions& options, double rate, AudioBuffer& a, AudioBuffer& b) {
    if (options.a.empty()) {
        a = DemoSignals::chords(rate > 0.0 ? rate : 48000.0, kDemoSeconds);
        b = DemoSignals::voice(rate > 0.0 ? rate : 48000.0, kDemoSeconds);
        return;
    }
    a = audio_file::read(options.a);
    if (rate > 0.0 && rate != a.sampleRate)
        a = audio_file::conform(
            a, rate, static_cast<int64_t>(static_cast<double>(a.frames()) * rate / a.sampleRate));
    b = audio_file::conform(audio_file::read(options.b), a.sampleRate, a.frames());
}

#ifdef TAVIMO_HAVE_LIVE_AUDIO
// The device the editor plays through: the one --device names (an unknown name is an error),
// else the default output; nothing with --no-audio or on a machine without one.
std::optional<live::DeviceInfo> chooseDevice(const EditorOptions& options,
                                             live::AudioDevices& devices) {
    if (options.noAudio)
        return std::nullopt;
    if (!options.device.empty())
        return devices.find(options.device);
    auto device = devices.defaultOutput();
    if (!device)
        std::printf("tavimo: no audio output device; the editor plays silently\n");
    return device;
}
#endif

// Plays the inputs through the instance while the window is open: through the audio device
// when there is one, else on a silent clock of its own.
class EditorPlayback {
public:
    // Main thread; allocates. Throws HostError when the device --device names cannot play.
    EditorPlayback(const EditorOptions& options, PluginInstance& instance, AudioBuffer& a,
                   AudioBuffer& b) {
        instance.restoreParameters(options.parameters.parameterSet());
#ifdef TAVIMO_HAVE_LIVE_AUDIO
        if (const auto device = chooseDevice(options, devices)) {
            const double fileRate =
                options.a.empty() ? 48000.0 : audio_file::read(options.a).sampleRate;
            const unsigned rate = live::AudioDevices::rateFor(*device, fileRate);
            loadInputs(options, rate, a, b);
            audio = std::make_unique<live::LiveAudio>(instance, devices, *device, rate,
                                                      live::LiveInput{&a}, live::LiveInput{&b},
                                                      options.parameters.parameterSet());
            try {
                audio->start(options.parameters.block);
            } catch (const HostError& e) {
                if (!options.device.empty())
                    throw;
                std::printf("tavimo: %s; the editor plays silently\n", e.what());
                audio.reset();
            }
            if (audio) {
                const live::LiveStatus status = audio->status();
                std::printf("tavimo: playing through %s \"%s\", %u Hz, %d-sample blocks; latency "
                            "%.1f ms + the device's %.1f ms\n",
                            devices.systemName().c_str(), device->name.c_str(), rate,
                            status.blockSize, status.pluginLatency * 1000.0 / rate,
                            static_cast<double>(status.deviceLatency) * 1000.0 / rate);
                return;
            }
        }
#endif
        if (a.channels.empty())
            loadInputs(options, 0.0, a, b);
        instance.setupProcessing({a.sampleRate, a.channelCount(), b.channelCount(),
                                  options.parameters.block,
                                  /*realtime*/ true});
        silent = std::make_unique<LiveSession>(instance, a, b, options.parameters.block);
        silent->start();
    }

    // Main thread. Restarts and device changes; throws HostError when the device went away.
    void service() {
#ifdef TAVIMO_HAVE_LIVE_AUDIO
        if (audio) {
            audio->service();
            return;
        }
#endif
        silent->serviceRestarts();
    }

    // Main thread. Blocks played since the start.
    uint64_t blocks() {
#ifdef TAVIMO_HAVE_LIVE_AUDIO
        if (audio)
            return audio->status().blocks;
#endif
        return silent->blocks();
    }

private:
#ifdef TAVIMO_HAVE_LIVE_AUDIO
    live::AudioDevices devices;
    std::unique_ptr<live::LiveAudio> audio;
#endif
    std::unique_ptr<LiveSession> silent;
};

int runEditor(const EditorOptions& options, const std::atomic<bool>& interrupted) {
    // A screenshot that cannot be written fails now, not after the whole session.
    if (!options.screenshot.empty())
        checkOutputPath(options.screenshot, {options.a, options.b});
    AudioBuffer a, b;
    const PluginModule module(options.plugin.empty() ? PluginModule::defaultBundlePath()
                                                     : std::filesystem::path(options.plugin));
    PluginInstance instance(module);
    EditorPlayback session(options, instance, a, b);

    IPlugView* view = createEditorView(instance);
    ViewRect size;
    view->getSize(&size);
    HostWindow window(size.getWidth(), size.getHeight(), "Tavimo");
    IPtr<EditorFrame> frame = owned(new EditorFrame());
    frame->setResizeHandler([&window](IPlugView*, ViewRect* rect) {
        window.resize(rect->getWidth(), rect->getHeight());
        return true;
    });
    const AttachedView attached(view, *frame, window.id());
    std::printf("tavimo: editor open; close its window or press Ctrl+C to stop\n");
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::duration<double>(options.seconds);
    while (!interrupted && window.pump()) {
        frame->runOnce(20ms);
        session.service();
        if (options.seconds > 0.0 && std::chrono::steady_clock::now() - start >= limit)
            break;
    }
    if (!options.screenshot.empty() && !window.capture(options.screenshot))
        throw HostError("could not write the screenshot \"" + options.screenshot + "\"");
    std::printf("tavimo: editor closed after %llu audio blocks\n",
                static_cast<unsigned long long>(session.blocks()));
    return 0;
}

} // namespace

void addEditorCommand(CLI::App& app, std::function<int()>& action,
                      const std::atomic<bool>& interrupted) {
    auto options = std::make_shared<EditorOptions>();
    auto* command = app.add_subcommand(
        "editor", "Open the plug-in's editor in a window while it plays A and B in real time");
    command->add_option("A", options->a, "Input A (default: the demo's chords)")->type_name("FILE");
    command->add_option("B", options->b, "Input B (default: the demo's voice)")->type_name("FILE");
    command
        ->add_option("--seconds", options->seconds,
                     "Close after this many seconds, 0 to 86400 (0: when the window is closed)")
        ->type_name("SECONDS")
        ->check(numberFrom(0.0, 86400.0, "seconds"));
    command
        ->add_option("--screenshot", options->screenshot,
                     "Write what the window shows as PNG when it closes")
        ->type_name("FILE");
    options->parameters.block = 256;
    options->parameters.add(*command, ParameterFlags::Ramps::NotAllowed);
    command->add_option("--plugin", options->plugin, "Tavimo.vst3 bundle (default: beside tavimo)")
        ->type_name("PATH");
#ifdef TAVIMO_HAVE_LIVE_AUDIO
    command
        ->add_option("--device", options->device,
                     "Audio device by name or index (default: the default output; tavimo "
                     "devices lists them)")
        ->type_name("NAME|INDEX");
    command->add_flag("--no-audio", options->noAudio,
                      "Play silently on the host's own clock, without an audio device");
#endif
    command->callback([options, &action, &interrupted, command] {
        if (!options->a.empty() && options->b.empty())
            throw CLI::ValidationError("editor", "give both A and B, or neither");
        if (options->noAudio && !options->device.empty())
            throw CLI::ValidationError("editor", "--no-audio and --device exclude each other");
        action = [options, &interrupted, command] {
            options->parameters.applyPreset(*command);
            return runEditor(*options, interrupted);
        };
    });
}

} // namespace tav::tools
