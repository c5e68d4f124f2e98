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

#include "pluginterfaces/gui/iplugview.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace tav::tools {
namespace {

using namespace tav::host;
using namespace std::chrono_literals;

struct EditorOptions {
    std::string a, b, plugin, screenshot;
    double seconds = 0.0; // 0: until the window is closed
    ParameterFlags parameters;
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

void loadInputs(const EditorOptions& options, AudioBuffer& a, AudioBuffer& b) {
    if (options.a.empty()) {
        a = DemoSignals::chords(48000.0, kDemoSeconds);
        b = DemoSignals::voice(48000.0, kDemoSeconds);
        return;
    }
    a = audio_file::read(options.a);
    b = audio_file::conform(audio_file::read(options.b), a.sampleRate, a.frames());
}

int runEditor(const EditorOptions& options, const std::atomic<bool>& interrupted) {
    // A screenshot that cannot be written fails now, not after the whole session.
    if (!options.screenshot.empty())
        checkOutputPath(options.screenshot, {options.a, options.b});
    AudioBuffer a, b;
    loadInputs(options, a, b);
    const PluginModule module(options.plugin.empty() ? PluginModule::defaultBundlePath()
                                                     : std::filesystem::path(options.plugin));
    PluginInstance instance(module);
    instance.restoreParameters(options.parameters.parameterSet());
    const int block = options.parameters.block;
    instance.setupProcessing(
        {a.sampleRate, a.channelCount(), b.channelCount(), block, /*realtime*/ true});
    LiveSession session(instance, a, b, block);
    session.start();

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
        session.serviceRestarts();
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
    command->callback([options, &action, &interrupted, command] {
        if (!options->a.empty() && options->b.empty())
            throw CLI::ValidationError("editor", "give both A and B, or neither");
        action = [options, &interrupted, command] {
            options->parameters.applyPreset(*command);
            return runEditor(*options, interrupted);
        };
    });
}

} // namespace tav::tools
