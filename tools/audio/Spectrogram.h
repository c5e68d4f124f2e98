#pragma once

#include "tools/audio/AudioFile.h"
#include "tools/audio/MorphRamp.h"

#include <filesystem>
#include <optional>
#include <string>

namespace tav::host {

// A picture of a sound for people: time across, frequency up on a logarithmic axis, level as
// colour (Hann-windowed short-time spectra of the channels' mean), with an optional Morph lane.
class Spectrogram {
public:
    // Main thread; allocates. Writes a PNG (through a temporary file renamed into place).
    // Throws HostError when it cannot be written. Only in builds with Cairo (TAVIMO_HAVE_CAIRO).
    static void writePng(const std::filesystem::path& path, const AudioBuffer& audio,
                         const std::string& title, const std::optional<MorphRamp>& morph);

    // Main thread, after the last picture. Frees the font caches that text drawing filled, so
    // that a leak checker sees a clean exit.
    static void releaseFontCaches();
};

} // namespace tav::host
