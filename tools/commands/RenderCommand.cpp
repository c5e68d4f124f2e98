#include "tools/commands/RenderCommand.h"

#include "tools/host/ParameterOptions.h"

#include "tools/audio/AudioFile.h"
#include "tools/commands/PluginPath.h"
#include "tools/host/PluginModule.h"
#include "tools/host/Renderer.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#ifdef _WIN32
#include <io.h>
#define TAVIMO_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define TAVIMO_ISATTY(f) isatty(fileno(f))
#endif

namespace tav::tools {
namespace {

using namespace tav::host;

struct RenderOptions {
    std::string a, b, output, morph = "0.5", plugin;
    int algorithm = 0;
    double mix = 100.0, outputDb = 0.0;
    int quality = 0;
    int block = 512;
};

std::string loudness(const AudioBuffer& buffer) {
    const auto lufs = audio_file::integratedLoudness(buffer);
    if (!lufs)
        return "loudness n/a";
    if (!std::isfinite(*lufs))
        return "silent";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f LUFS", *lufs);
    return text;
}

std::string describe(const AudioBuffer& buffer) {
    char text[96];
    std::snprintf(text, sizeof text, "%.0f Hz, %d ch, %.2f s", buffer.sampleRate,
                  buffer.channelCount(), static_cast<double>(buffer.frames()) / buffer.sampleRate);
    return text;
}

// A bar on standard error, drawn only when a person watches it.
class ProgressBar {
public:
    ProgressBar() : enabled(TAVIMO_ISATTY(stderr) != 0) {}
    void operator()(double fraction) {
        const int percent = static_cast<int>(fraction * 100.0);
        if (!enabled || percent == shown)
            return;
        shown = percent;
        const int filled = percent * 40 / 100;
        std::fprintf(stderr, "\rrendering [%.*s%.*s] %3d%%", filled,
                     "########################################", 40 - filled,
                     "                                        ", percent);
        std::fflush(stderr);
    }
    void finish() {
        if (enabled && shown >= 0)
            std::fprintf(stderr, "\r%60s\r", "");
    }

private:
    bool enabled;
    int shown = -1;
};

void checkOutputPath(const std::filesystem::path& output, const RenderOptions& options) {
    std::error_code error;
    const auto folder =
        output.has_parent_path() ? output.parent_path() : std::filesystem::path(".");
    if (!std::filesystem::is_directory(folder, error))
        throw HostError("output folder does not exist: \"" + folder.string() + "\"");
    if (std::filesystem::is_directory(output, error))
        throw HostError("output is a folder: \"" + output.string() + "\"");
    for (const std::string& input : {options.a, options.b})
        if (std::filesystem::equivalent(output, input, error))
            throw HostError("output would overwrite the input \"" + input + "\"");
}

int runRender(const RenderOptions& options, const std::atomic<bool>& interrupted) {
    RenderSettings settings;
    settings.morph = MorphRamp::parse(options.morph);
    settings.algorithm = options.algorithm;
    settings.mixPercent = options.mix;
    settings.outputDb = options.outputDb;
    settings.quality = options.quality;
    settings.blockSize = options.block;
    Renderer::validate(settings);
    const std::filesystem::path output(options.output);
    checkOutputPath(output, options);

    const AudioBuffer a = audio_file::read(options.a);
    const AudioBuffer bOriginal = audio_file::read(options.b);
    const PluginModule module(pluginPath(options.plugin));
    const AudioBuffer b = audio_file::conform(bOriginal, a.sampleRate, a.frames());

    ProgressBar bar;
    const auto started = std::chrono::steady_clock::now();
    RenderResult result;
    try {
        result = Renderer::render(module, a, b, settings, std::ref(bar), &interrupted);
    } catch (...) {
        bar.finish();
        throw;
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    bar.finish();
    audio_file::write(output, result.output);

    const double seconds = static_cast<double>(a.frames()) / a.sampleRate;
    std::printf("tavimo render: %s\n", output.string().c_str());
    std::printf("  A       %s, %s, %s\n", options.a.c_str(), describe(a).c_str(),
                loudness(a).c_str());
    std::printf("  B       %s, %s%s, %s\n", options.b.c_str(), describe(bOriginal).c_str(),
                bOriginal.sampleRate != a.sampleRate || bOriginal.frames() != a.frames()
                    ? " (conformed to A)"
                    : "",
                loudness(b).c_str());
    std::printf("  output  %s, %s\n", describe(result.output).c_str(),
                loudness(result.output).c_str());
    std::printf("  latency %d samples (%.2f ms), compensated\n", result.latencySamples,
                result.latencySamples * 1000.0 / a.sampleRate);
    std::printf("  %s, morph %s, mix %.0f %%, output %.1f dB, quality %s, block %d\n",
                model::kAlgorithmNames[static_cast<std::size_t>(options.algorithm)],
                options.morph.c_str(), options.mix, options.outputDb,
                model::kQualityNames[options.quality ? 1 : 0], options.block);
    std::printf("  rendered in %.2f s (%.1fx real time), %d analysis messages to the controller\n",
                elapsed, elapsed > 0.0 ? seconds / elapsed : 0.0, result.analysisMessages);
    return 0;
}

} // namespace

void addRenderCommand(CLI::App& app, std::function<int()>& action,
                      const std::atomic<bool>& interrupted) {
    auto options = std::make_shared<RenderOptions>();
    auto* render = app.add_subcommand("render", "Morph A toward B through the plug-in into a file");
    render->add_option("A", options->a, "Input A (the track the plug-in sits on)")->required();
    render->add_option("B", options->b, "Input B (the sidechain)")->required();
    render->add_option("-o,--output-file", options->output, "Output file (WAV, or .flac)")
        ->required();
    render
        ->add_option("--morph", options->morph,
                     "Morph 0..1, or a ramp of seconds:value points, e.g. \"0:0,8:1\"")
        ->capture_default_str();
    const std::map<std::string, int> algorithms = listChoices(model::kAlgorithmId);
    render->add_option("--algorithm", options->algorithm, "transport|partials|imprint|diffuse")
        ->transform(CLI::CheckedTransformer(algorithms, CLI::ignore_case));
    render->add_option("--mix", options->mix, "Wet/dry mix in percent (0..100)")
        ->capture_default_str();
    render->add_option("--output", options->outputDb, "Output gain in dB (-24..12)")
        ->capture_default_str();
    const std::map<std::string, int> qualities = listChoices(model::kQualityId);
    render->add_option("--quality", options->quality, "standard|high")
        ->transform(CLI::CheckedTransformer(qualities, CLI::ignore_case));
    render->add_option("--block", options->block, "Host block size in samples")
        ->capture_default_str();
    render->add_option("--plugin", options->plugin, "Tavimo.vst3 bundle (default: beside tavimo)");
    render->callback([options, &action, &interrupted] {
        action = [options, &interrupted] { return runRender(*options, interrupted); };
    });
}

} // namespace tav::tools
