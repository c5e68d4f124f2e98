#include "tools/commands/RenderCommand.h"

#include "tools/audio/AudioFile.h"
#include "tools/audio/OutputFormat.h"
#ifdef TAVIMO_HAVE_CAIRO
#include "tools/audio/Spectrogram.h"
#endif
#include "tools/commands/JobProgress.h"
#include "tools/commands/OptionChecks.h"
#include "tools/commands/OutputPath.h"
#include "tools/commands/ParameterFlags.h"
#include "tools/commands/PluginPath.h"
#include "tools/host/PluginModule.h"
#include "tools/host/Renderer.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tav::tools {
namespace {

using namespace tav::host;

struct RenderOptions {
    std::string a, b, output, plugin, bitDepth;
    ParameterFlags parameters;
    bool loopB = false;
    bool spectrogram = false;
    bool quiet = false;
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

// The picture --spectrogram writes: the output's name with .png.
std::filesystem::path picturePath(const std::filesystem::path& output) {
    std::filesystem::path png = output;
    return png.replace_extension(".png");
}

// Everything that can be known to fail before a sample is decoded: a user must not wait for a
// render that cannot be written.
OutputFormat checkBeforeStarting(const RenderOptions& options) {
    const std::filesystem::path output(options.output);
    checkOutputPath(output, {options.a, options.b});
    if (options.spectrogram)
        checkOutputPath(picturePath(output), {options.a, options.b});
    // A's header tells the rate the output will have (MP3 takes only some); when it cannot be
    // opened, reading it below says why.
    const double rate = audio_file::sampleRateOf(options.a).value_or(48000.0);
    const std::optional<SampleDepth> depth =
        options.bitDepth.empty() ? std::nullopt : parseSampleDepth(options.bitDepth);
    return outputFormatFor(output, depth, rate);
}

int runRender(const RenderOptions& options, const std::atomic<bool>& interrupted) {
    JobProgress progress(options.quiet);
    const RenderSettings settings = options.parameters.renderSettings();
    Renderer::validate(settings);
    const OutputFormat format = checkBeforeStarting(options);
    const std::filesystem::path output(options.output);

    progress.step("reading A");
    AudioBuffer a, bOriginal, b;
    RenderResult result;
    try {
        a = audio_file::read(options.a);
        progress.step("reading B");
        bOriginal = audio_file::read(options.b);
        const PluginModule module(pluginPath(options.plugin));
        if (bOriginal.sampleRate != a.sampleRate)
            progress.step("converting B's sample rate");
        b = audio_file::conform(bOriginal, a.sampleRate, a.frames(),
                                options.loopB ? audio_file::Tail::Loop : audio_file::Tail::Silence);
        progress.step("rendering");
        result = Renderer::render(module, a, b, settings, std::ref(progress), &interrupted);
        progress.step("writing " + output.filename().string());
        audio_file::write(output, result.output, format);
#ifdef TAVIMO_HAVE_CAIRO
        if (options.spectrogram) {
            progress.step("drawing the spectrogram");
            Spectrogram::writePng(
                picturePath(output), result.output,
                output.filename().string() + ": " +
                    model::kAlgorithmNames[static_cast<std::size_t>(settings.algorithm)],
                settings.morph);
            Spectrogram::releaseFontCaches();
        }
#endif
    } catch (...) {
        progress.finish();
        throw;
    }
    progress.finish();
    const double elapsed = progress.elapsed();
    if (options.quiet)
        return 0;

    const bool conformed = bOriginal.sampleRate != a.sampleRate || bOriginal.frames() != a.frames();
    const double seconds = static_cast<double>(a.frames()) / a.sampleRate;
    std::printf("tavimo render: %s (%s", output.string().c_str(), format.name());
    if (format.depth)
        std::printf(", %s", *format.depth == SampleDepth::Pcm16   ? "16-bit, dithered"
                            : *format.depth == SampleDepth::Pcm24 ? "24-bit, dithered"
                                                                  : "32-bit float");
    std::printf(")\n");
    std::printf("  A       %s, %s, %s\n", options.a.c_str(), describe(a).c_str(),
                loudness(a).c_str());
    std::printf("  B       %s, %s%s, %s\n", options.b.c_str(), describe(bOriginal).c_str(),
                !conformed      ? ""
                : options.loopB ? " (conformed to A, looped)"
                                : " (conformed to A)",
                loudness(b).c_str());
    std::printf("  output  %s, %s\n", describe(result.output).c_str(),
                loudness(result.output).c_str());
    std::printf("  latency %d samples (%.2f ms), compensated\n", result.latencySamples,
                result.latencySamples * 1000.0 / a.sampleRate);
    const ParameterFlags& p = options.parameters;
    std::printf("  %s, morph %s, mix %s %%, gain %s dB, quality %s, block %d\n",
                model::kAlgorithmNames[static_cast<std::size_t>(p.algorithm)], p.morph.c_str(),
                p.mix.c_str(), p.gain.c_str(), model::kQualityNames[p.quality ? 1 : 0], p.block);
    if (!p.preset.empty())
        std::printf("  from the preset %s\n", p.preset.c_str());
    if (options.spectrogram)
        std::printf("  spectrogram %s\n", picturePath(output).string().c_str());
    std::printf("  done in %.2f s, %.1fx real time (reading, rendering and writing), %d analysis "
                "messages to the controller\n",
                elapsed, elapsed > 0.0 ? seconds / elapsed : 0.0, result.analysisMessages);
    return 0;
}

constexpr const char* kRenderNotes =
#ifdef TAVIMO_HAVE_SNDFILE
    "B is converted to A's sample rate and cut to A's length; a shorter B is padded with\n"
    "silence "
    "unless --loop-b.\n"
#else
    "This Windows build reads and writes WAV files only and cannot convert sample rates: B must "
    "be at A's rate. The Linux build does both.\n"
#endif
    "A ramp is seconds:value points, such as --morph \"0:0,8:1\" or --mix \"0:0,4:100\": "
    "straight\nlines between them, held before the first and after the last, applied once per "
    "block.\nThe progress line is drawn only on a terminal.";

} // namespace

void addRenderCommand(CLI::App& app, std::function<int()>& action,
                      const std::atomic<bool>& interrupted) {
    auto options = std::make_shared<RenderOptions>();
    auto* render = app.add_subcommand("render", "Morph A toward B through the plug-in into a file");
#ifdef TAVIMO_HAVE_SNDFILE
    render->add_option("A", options->a, "Input A, the track the plug-in sits on")
        ->type_name("FILE")
        ->required();
    render->add_option("B", options->b, "Input B, the sidechain, at any rate and length")
        ->type_name("FILE")
        ->required();
    render
        ->add_option("-o,--output-file", options->output,
                     "Output: .wav, .aiff, .flac, .ogg or .mp3 (MP3 at 8 to 48 kHz only)")
        ->type_name("FILE")
        ->required();
#else
    render->add_option("A", options->a, "Input A, the track the plug-in sits on (WAV only)")
        ->type_name("FILE")
        ->required();
    render->add_option("B", options->b, "Input B, the sidechain (WAV only, at A's sample rate)")
        ->type_name("FILE")
        ->required();
    render->add_option("-o,--output-file", options->output, "Output, .wav")
        ->type_name("FILE")
        ->required();
#endif
    render
        ->add_option(
            "--bit-depth", options->bitDepth,
#ifdef TAVIMO_HAVE_SNDFILE
            "16, 24 (dithered) or 32f (float); default 32f, for FLAC 24; none for OGG, MP3")
#else
            "16, 24 (dithered) or 32f (float, the default)")
#endif
        ->type_name("DEPTH")
        ->check(oneOf({"16", "24", "32f"}));
    options->parameters.add(*render, ParameterFlags::Ramps::Allowed);
    render->add_flag("--loop-b", options->loopB,
                     "Loop a B shorter than A instead of padding it with silence");
#ifdef TAVIMO_HAVE_CAIRO
    render->add_flag("--spectrogram", options->spectrogram,
                     "Also write the output's spectrogram beside it (same name, .png)");
#endif
    render->add_flag("-q,--quiet", options->quiet,
                     "Print only errors and warnings: no progress line, no report");
    render->add_option("--plugin", options->plugin, "Tavimo.vst3 bundle (default: beside tavimo)")
        ->type_name("PATH");
    render->footer(std::string(kRenderNotes) + "\n\n" + app.get_footer());
    render->callback([options, &action, &interrupted, render] {
        action = [options, &interrupted, render] {
            options->parameters.applyPreset(*render);
            return runRender(*options, interrupted);
        };
    });
}

} // namespace tav::tools
