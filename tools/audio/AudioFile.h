#pragma once

#include "tools/audio/OutputFormat.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace tav::host {

// Planar float audio held in memory: one vector per channel, all of the same length.
struct AudioBuffer {
    double sampleRate = 48000.0;
    std::vector<std::vector<float>> channels;

    int channelCount() const { return static_cast<int>(channels.size()); }
    int64_t frames() const {
        return channels.empty() ? 0 : static_cast<int64_t>(channels[0].size());
    }
    // Main thread; allocates. count channels of frames zeros at rate.
    static AudioBuffer silence(double rate, int count, int64_t frames);
};

// Reading, writing and converting whole audio files for the command-line host.
namespace audio_file {

// Main thread; allocates. Reads a mono or stereo file. Throws HostError, naming the file, when
// it is missing, unreadable, in a format that cannot be read, wider than stereo or empty. A
// file that ends before its header says it does is read as far as it goes, with one warning
// line on standard error.
AudioBuffer read(const std::filesystem::path& path);

// Main thread; allocates. Writes the buffer in format (integer depths with seeded TPDF dither)
// to a temporary file beside path and renames it into place only once complete. Throws
// HostError.
void write(const std::filesystem::path& path, const AudioBuffer& buffer, const OutputFormat& format,
           uint32_t ditherSeed = kDitherSeed);

// Main thread; allocates. The same in the format path's extension names, at its own depth.
void write(const std::filesystem::path& path, const AudioBuffer& buffer);

// What fills the time after a shorter buffer ends.
enum class Tail { Silence, Loop };

// Main thread; allocates. The buffer at rate (band-limited conversion), cut to frames or made
// that long by zeros or by starting it again from its beginning. Throws HostError when this
// build cannot convert rates and the rates differ.
AudioBuffer conform(const AudioBuffer& buffer, double rate, int64_t frames,
                    Tail tail = Tail::Silence);

// Main thread; allocates. Header only: the sample rate of a file, without decoding it; nothing
// when the file cannot be opened (reading it then says why) or this build cannot tell.
std::optional<double> sampleRateOf(const std::filesystem::path& path);

// Main thread; allocates. Integrated loudness (ITU-R BS.1770, LUFS), or nothing when this build
// cannot measure it; -inf for silence.
std::optional<double> integratedLoudness(const AudioBuffer& buffer);

} // namespace audio_file

} // namespace tav::host
