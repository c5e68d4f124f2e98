#include "tools/demo/Demo.h"

#include "engine/LoudnessLaw.h"
#include "model/Presets.h"
#include "tools/demo/DemoSignals.h"
#include "tools/host/ParameterOptions.h"
#include "tools/host/Renderer.h"
#ifdef TAVIMO_HAVE_CAIRO
#include "tools/audio/Spectrogram.h"
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

namespace tav::host {

namespace {

std::string loudnessText(const AudioBuffer& buffer) {
    const auto lufs = audio_file::integratedLoudness(buffer);
    if (!lufs)
        return "loudness n/a";
    char text[32];
    std::snprintf(text, sizeof text, std::isfinite(*lufs) ? "%.1f LUFS" : "silent", *lufs);
    return text;
}

// The loudness of each quarter of the Morph ramp: Morph travels evenly in heard loudness, so
// the steps between quarters are even where the inputs are steady.
std::string loudnessAlongRamp(const AudioBuffer& buffer) {
    constexpr int kParts = 4;
    std::string text = "loudness by quarter of the ramp:";
    const int64_t part = buffer.frames() / kParts;
    for (int q = 0; q < kParts; ++q) {
        AudioBuffer slice;
        slice.sampleRate = buffer.sampleRate;
        for (const auto& channel : buffer.channels)
            slice.channels.emplace_back(channel.begin() + q * part,
                                        channel.begin() + (q + 1) * part);
        text += " " + loudnessText(slice);
    }
    return text;
}

void writePicture([[maybe_unused]] const std::filesystem::path& path,
                  [[maybe_unused]] const AudioBuffer& audio,
                  [[maybe_unused]] const std::string& title,
                  [[maybe_unused]] const std::optional<MorphRamp>& morph, std::ostream& report) {
#ifdef TAVIMO_HAVE_CAIRO
    Spectrogram::writePng(path, audio, title, morph);
    report << "  " << path.string() << "\n";
#else
    report << "  (no spectrogram: this build has no Cairo)\n";
#endif
}

void writeInput(const std::filesystem::path& folder, const std::string& name,
                const std::string& title, const AudioBuffer& audio, std::ostream& report) {
    audio_file::write(folder / (name + ".wav"), audio);
    report << name << ": " << (folder / (name + ".wav")).string() << " (" << loudnessText(audio)
           << ")\n";
    writePicture(folder / (name + ".png"), audio, title, std::nullopt, report);
}

// Two factory presets the demo plays, at their constant values.
constexpr std::array<const char*, 2> kDemoPresets{"Partials Blend", "Deep Imprint"};

// The level Morph asks for: the Morph-weighted mix of the inputs' heard loudness.
std::string loudnessTarget(const AudioBuffer& a, const AudioBuffer& b, double morph) {
    const auto lufsA = audio_file::integratedLoudness(a);
    const auto lufsB = audio_file::integratedLoudness(b);
    if (!lufsA || !lufsB || !std::isfinite(*lufsA) || !std::isfinite(*lufsB))
        return "no target";
    const double energy =
        loudness::perceivedMix(std::pow(10.0, *lufsA / 10.0), std::pow(10.0, *lufsB / 10.0), morph);
    char text[48];
    std::snprintf(text, sizeof text, "target %.1f LUFS", 10.0 * std::log10(energy));
    return text;
}

void renderPresets(const PluginModule& module, const std::filesystem::path& folder,
                   const AudioBuffer& a, const AudioBuffer& b, std::ostream& report,
                   const std::atomic<bool>* cancel) {
    for (const char* presetName : kDemoPresets) {
        const model::FactoryPreset preset = *model::findFactoryPreset(presetName);
        RenderSettings settings;
        settings.morph = MorphRamp::constant(preset.values.morph);
        settings.algorithm = preset.values.algorithm;
        settings.mixPercent = MorphRamp::constant(preset.values.mixPercent);
        settings.outputDb = MorphRamp::constant(preset.values.outputDb);
        settings.quality = preset.values.highQuality ? 1 : 0;
        const RenderResult result = Renderer::render(module, a, b, settings, {}, cancel);
        std::string name = "preset-" + lowerCase(preset.name);
        std::replace(name.begin(), name.end(), ' ', '-');
        const std::filesystem::path wav = folder / (name + ".wav");
        audio_file::write(wav, result.output);
        report << name << ": " << wav.string() << " (" << loudnessText(result.output) << ", "
               << loudnessTarget(a, b, preset.values.morph) << ")\n";
        writePicture(folder / (name + ".png"), result.output,
                     std::string("Preset \"") + preset.name + "\"", settings.morph, report);
    }
}

} // namespace

void Demo::run(const PluginModule& module, const std::filesystem::path& folder,
               std::ostream& report, const std::atomic<bool>* cancel) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder))
        throw HostError("cannot create the folder \"" + folder.string() + "\"");

    const AudioBuffer a = DemoSignals::chords(kSampleRate, kSeconds);
    const AudioBuffer b = DemoSignals::voice(kSampleRate, kSeconds);
    writeInput(folder, "A-chords", "A: chord progression with drums (input)", a, report);
    writeInput(folder, "B-voice", "B: voice-like texture (sidechain)", b, report);

    RenderSettings settings;
    settings.morph = MorphRamp::parse("0:0," + std::to_string(kSeconds) + ":1");
    for (int algorithm = 0; algorithm < static_cast<int>(model::kAlgorithmNames.size());
         ++algorithm) {
        settings.algorithm = algorithm;
        const RenderResult result = Renderer::render(module, a, b, settings, {}, cancel);
        const char* title = model::kAlgorithmNames[static_cast<std::size_t>(algorithm)];
        const std::string name = "morph-" + lowerCase(title);
        const std::filesystem::path wav = folder / (name + ".wav");
        audio_file::write(wav, result.output);
        report << name << ": " << wav.string() << " (" << loudnessText(result.output)
               << ", latency " << result.latencySamples << " samples)\n  "
               << loudnessAlongRamp(result.output) << "\n";
        writePicture(folder / (name + ".png"), result.output,
                     std::string(title) + ": Morph 0 -> 1 over " +
                         std::to_string(static_cast<int>(kSeconds)) + " s",
                     settings.morph, report);
    }
    renderPresets(module, folder, a, b, report, cancel);
#ifdef TAVIMO_HAVE_CAIRO
    Spectrogram::releaseFontCaches();
#endif
}

} // namespace tav::host
