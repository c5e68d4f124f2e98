#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tav::host {

// How a written file stores each sample.
enum class SampleDepth { Pcm16, Pcm24, Float32 };

// What a rendered file is written as: the container its name's extension asks for and the
// depth its samples are stored at.
struct OutputFormat {
    enum class Container { Wav, Aiff, Flac, OggVorbis, Mp3 };
    Container container = Container::Wav;
    std::optional<SampleDepth> depth; // none for the lossy formats

    // "WAV", "FLAC", ...
    const char* name() const;
};

// Any thread. "16", "24" or "32f" as a depth; nothing for anything else.
std::optional<SampleDepth> parseSampleDepth(const std::string& text);

// Main thread; allocates. The format of a file named path, holding audio at rate, with the
// depth asked for (none: the format's own, 32-bit float where it can hold it, else 24-bit).
// Throws HostError with one line saying why when the extension names no format this build
// writes, or the format cannot hold that rate or depth.
OutputFormat outputFormatFor(const std::filesystem::path& path, std::optional<SampleDepth> depth,
                             double rate);

// Any thread; allocates. The channels interleaved as integers of `bits` bits, left-aligned in
// 32 (what a 16- or 24-bit file keeps), with triangular (TPDF) dither of one step either way,
// reproducible from seed, and clipped at full scale.
std::vector<int32_t> ditheredInterleaved(const std::vector<std::vector<float>>& channels, int bits,
                                         uint32_t seed);

// The seed a render's dither starts from: the same file always comes out the same.
inline constexpr uint32_t kDitherSeed = 0x7461766d; // "tavm"

} // namespace tav::host
