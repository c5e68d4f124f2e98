#pragma once

#include "tools/audio/AudioFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The RIFF/WAVE reader and writer of builds without libsndfile (the Windows tavimo.exe),
// working on bytes in memory so that it can be tested and fuzzed on every platform.
namespace tav::host::wav {

// Any thread; allocates. Decodes PCM 8/16/24/32-bit or float 32/64-bit WAV. Throws HostError,
// naming name, for anything it cannot read; never reads outside bytes[0, size). truncated, if
// given, tells whether the data ends before its header says it does (what there is is read).
AudioBuffer parse(const unsigned char* bytes, std::size_t size, const std::string& name,
                  bool* truncated = nullptr);

// Any thread; allocates. The buffer as a WAV file of 32-bit floats, or of 16- or 24-bit
// integers with seeded TPDF dither. Throws HostError, naming name, when it would not fit the
// format's 32-bit sizes.
std::vector<unsigned char> encode(const AudioBuffer& buffer, const std::string& name,
                                  SampleDepth depth = SampleDepth::Float32,
                                  uint32_t ditherSeed = kDitherSeed);

// Any thread. Throws HostError, naming name, when frames of channels float samples would
// not fit a WAV file (its RIFF size field is 32 bits).
void checkFits(int64_t frames, int channels, const std::string& name);

} // namespace tav::host::wav
