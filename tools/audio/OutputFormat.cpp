#include "tools/audio/OutputFormat.h"

#include "tools/HostError.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <random>

namespace tav::host {

namespace {

std::string lowerExtension(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

// The rates the MPEG layer III encoder takes.
constexpr std::array<int, 9> kMp3Rates{8000,  11025, 12000, 16000, 22050,
                                       24000, 32000, 44100, 48000};

std::optional<OutputFormat::Container> containerOf(const std::string& extension) {
    using Container = OutputFormat::Container;
    if (extension == ".wav")
        return Container::Wav;
#ifdef TAVIMO_HAVE_SNDFILE
    if (extension == ".aif" || extension == ".aiff")
        return Container::Aiff;
    if (extension == ".flac")
        return Container::Flac;
    if (extension == ".ogg")
        return Container::OggVorbis;
    if (extension == ".mp3")
        return Container::Mp3;
#endif
    return std::nullopt;
}

} // namespace

const char* OutputFormat::name() const {
    switch (container) {
    case Container::Wav:
        return "WAV";
    case Container::Aiff:
        return "AIFF";
    case Container::Flac:
        return "FLAC";
    case Container::OggVorbis:
        return "OGG/Vorbis";
    case Container::Mp3:
        break;
    }
    return "MP3";
}

std::optional<SampleDepth> parseSampleDepth(const std::string& text) {
    if (text == "16")
        return SampleDepth::Pcm16;
    if (text == "24")
        return SampleDepth::Pcm24;
    if (text == "32f")
        return SampleDepth::Float32;
    return std::nullopt;
}

OutputFormat outputFormatFor(const std::filesystem::path& path, std::optional<SampleDepth> depth,
                             double rate) {
    if (path.empty() || path == "-")
        throw HostError("tavimo writes to a file, not to standard output; name one with -o");
    const std::string extension = lowerExtension(path);
    const std::optional<OutputFormat::Container> container = containerOf(extension);
    if (!container) {
#ifdef TAVIMO_HAVE_SNDFILE
        throw HostError("cannot write \"" + path.string() +
                        "\": name it .wav, .aiff, .flac, "
                        ".ogg or .mp3 to choose the format");
#else
        throw HostError("cannot write \"" + path.string() +
                        "\": this Windows build of tavimo writes WAV files only (.wav)");
#endif
    }
    OutputFormat format{*container, depth};
    using Container = OutputFormat::Container;
    const bool lossy = *container == Container::OggVorbis || *container == Container::Mp3;
    if (lossy) {
        if (depth)
            throw HostError(std::string(format.name()) +
                            " is a lossy format with no bit depth; leave out --bit-depth");
    } else if (!depth) {
        format.depth = *container == Container::Flac ? SampleDepth::Pcm24 : SampleDepth::Float32;
    } else if (*container == Container::Flac && *depth == SampleDepth::Float32) {
        throw HostError("FLAC holds integer samples only; choose --bit-depth 16 or 24");
    }
    if (*container == Container::Mp3) {
        const auto hz = static_cast<int>(std::lround(rate));
        if (std::find(kMp3Rates.begin(), kMp3Rates.end(), hz) == kMp3Rates.end())
            throw HostError("MP3 can be written at 8 to 48 kHz only; this render is at " +
                            std::to_string(hz) + " Hz: write .wav, .aiff or .flac instead");
    }
    return format;
}

std::vector<int32_t> ditheredInterleaved(const std::vector<std::vector<float>>& channels, int bits,
                                         uint32_t seed) {
    const std::size_t count = channels.empty() ? 0 : channels[0].size();
    std::vector<int32_t> out(count * channels.size());
    const double steps = std::ldexp(1.0, bits - 1); // full scale in steps of the last bit
    const double largest = steps - 1.0;
    const int shift = 32 - bits;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(-0.5, 0.5);
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t c = 0; c < channels.size(); ++c) {
            // Two uniform variables of one step each make triangular dither of two steps' span.
            const double dithered = channels[c][i] * steps + unit(random) + unit(random);
            const double step = std::clamp(std::round(dithered), -steps, largest);
            out[i * channels.size() + c] = static_cast<int32_t>(step) * (int32_t{1} << shift);
        }
    }
    return out;
}

} // namespace tav::host
