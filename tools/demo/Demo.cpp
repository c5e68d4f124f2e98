#include "tools/demo/Demo.h"

#include "tools/demo/DemoSignals.h"
#include "tools/host/ParameterOptions.h"
#include "tools/host/Renderer.h"
#ifdef TAVIMO_HAVE_CAIRO
#include "tools/audio/Spectrogram.h"
#endif

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
#ifdef TAVIMO_HAVE_CAIRO
    Spectrogram::releaseFontCaches();
#endif
}

} // namespace tav::host
