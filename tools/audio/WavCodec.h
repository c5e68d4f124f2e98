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
// naming name, for anything it cannot read; never reads outside bytes[0, size).
AudioBuffer parse(const unsigned char* bytes, std::size_t size, const std::string& name);

// Any thread; allocates. The buffer as a 32-bit float WAV file. Throws HostError, naming name,
// when it would not fit the format's 32-bit sizes.
std::vector<unsigned char> encode(const AudioBuffer& buffer, const std::string& name);

// Any thread. Throws HostError, naming name, when frames of channels float samples would
// not fit a WAV file (its RIFF size field is 32 bits).
void checkFits(int64_t frames, int channels, const std::string& name);

} // namespace tav::host::wav
