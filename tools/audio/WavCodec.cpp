#include "tools/audio/WavCodec.h"

#include "tools/HostError.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tav::host::wav {

namespace {

constexpr int kMaxChannels = 2;
// RIFF header, "fmt " chunk of 16 bytes, "fact" chunk, "data" chunk header.
constexpr uint64_t kHeaderBytes = 12 + 8 + 16 + 8 + 4 + 8;
// Everything after the first 8 bytes is counted in the RIFF size, a 32-bit field.
constexpr uint64_t kMaxRiffSize = std::numeric_limits<uint32_t>::max();

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const unsigned char* p) {
    return uint16_t(p[0] | p[1] << 8);
}

float decodeSample(const unsigned char* p, int bits, bool isFloat) {
    if (isFloat && bits == 32) {
        float value;
        const uint32_t raw = le32(p);
        std::memcpy(&value, &raw, 4);
        return value;
    }
    if (isFloat && bits == 64) {
        uint64_t raw = uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32;
        double value;
        std::memcpy(&value, &raw, 8);
        return static_cast<float>(value);
    }
    switch (bits) {
    case 8:
        return (float(p[0]) - 128.0f) / 128.0f;
    case 16:
        return float(int16_t(le16(p))) / 32768.0f;
    case 24: {
        const uint32_t raw = uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24;
        return float(int32_t(raw) >> 8) / 8388608.0f;
    }
    default:
        return float(int32_t(le32(p))) / 2147483648.0f;
    }
}

void put32(std::vector<unsigned char>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void put16(std::vector<unsigned char>& out, uint16_t v) {
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

std::string quoted(const std::string& name) {
    return "\"" + name + "\"";
}

} // namespace

AudioBuffer parse(const unsigned char* bytes, std::size_t size, const std::string& name,
                  bool* truncated) {
    if (size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0)
        throw HostError("cannot read " + quoted(name) + ": not a WAV file");
    int channels = 0, bits = 0;
    uint16_t formatTag = 0;
    double rate = 0.0;
    const unsigned char* data = nullptr;
    std::size_t dataSize = 0;
    // A chunk may end exactly at the end of the file: its body then starts at bytes + size.
    for (std::size_t pos = 12; pos + 8 <= size;) {
        const uint64_t chunkSize = le32(bytes + pos + 4);
        const std::size_t body = pos + 8;
        const std::size_t available =
            static_cast<std::size_t>(std::min<uint64_t>(chunkSize, size - body));
        const unsigned char* chunk = bytes + body;
        if (std::memcmp(bytes + pos, "fmt ", 4) == 0 && available >= 16) {
            formatTag = le16(chunk);
            channels = le16(chunk + 2);
            rate = le32(chunk + 4);
            bits = le16(chunk + 14);
            if (formatTag == 0xFFFE && available >= 26)
                formatTag = le16(chunk + 24);
        } else if (std::memcmp(bytes + pos, "data", 4) == 0) {
            data = chunk;
            dataSize = available;
            if (truncated != nullptr)
                *truncated = available < chunkSize;
        }
        const uint64_t next = body + chunkSize + (chunkSize & 1u);
        if (next > size)
            break;
        pos = static_cast<std::size_t>(next);
    }
    const bool isFloat = formatTag == 3;
    const bool supported =
        (formatTag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32)) ||
        (isFloat && (bits == 32 || bits == 64));
    if (data == nullptr || !supported || rate <= 0.0)
        throw HostError("cannot read " + quoted(name) + ": unsupported WAV encoding");
    if (channels > kMaxChannels)
        throw HostError(quoted(name) + " has " + std::to_string(channels) +
                        " channels; only mono and stereo files are supported");
    const std::size_t sampleBytes = static_cast<std::size_t>(bits / 8);
    const std::size_t frameBytes = static_cast<std::size_t>(channels) * sampleBytes;
    const int64_t frames = frameBytes == 0 ? 0 : static_cast<int64_t>(dataSize / frameBytes);
    if (channels < 1 || frames <= 0)
        throw HostError(quoted(name) + " holds no audio (zero length)");
    AudioBuffer buffer = AudioBuffer::silence(rate, channels, frames);
    for (int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            buffer.channels[size_t(c)][size_t(i)] = decodeSample(
                data + size_t(i) * frameBytes + size_t(c) * sampleBytes, bits, isFloat);
    return buffer;
}

void checkFits(int64_t frames, int channels, const std::string& name) {
    const uint64_t dataBytes = static_cast<uint64_t>(std::max<int64_t>(frames, 0)) *
                               static_cast<uint64_t>(std::max(channels, 0)) * 4u;
    if (dataBytes > kMaxRiffSize - (kHeaderBytes - 8))
        throw HostError("cannot write " + quoted(name) +
                        ": the audio exceeds the WAV format's 4 GiB limit");
}

std::vector<unsigned char> encode(const AudioBuffer& buffer, const std::string& name,
                                  SampleDepth depth, uint32_t ditherSeed) {
    checkFits(buffer.frames(), buffer.channelCount(), name);
    const bool isFloat = depth == SampleDepth::Float32;
    const uint16_t bits = depth == SampleDepth::Pcm16 ? 16 : depth == SampleDepth::Pcm24 ? 24 : 32;
    const uint16_t channels = static_cast<uint16_t>(buffer.channelCount());
    const uint16_t blockAlign = static_cast<uint16_t>(channels * bits / 8);
    const auto dataBytes = static_cast<uint32_t>(buffer.frames() * blockAlign);
    const uint32_t rate = static_cast<uint32_t>(std::lround(buffer.sampleRate));
    std::vector<unsigned char> out;
    out.reserve(dataBytes + kHeaderBytes);
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put32(out, static_cast<uint32_t>(kHeaderBytes - 8) + dataBytes);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(out, 16);
    put16(out, isFloat ? 3 : 1);
    put16(out, channels);
    put32(out, rate);
    put32(out, rate * blockAlign);
    put16(out, blockAlign);
    put16(out, bits);
    out.insert(out.end(), {'f', 'a', 'c', 't'});
    put32(out, 4);
    put32(out, static_cast<uint32_t>(buffer.frames()));
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(out, dataBytes);
    if (!isFloat) {
        // Little-endian integers: the top bytes of each left-aligned dithered sample.
        for (int32_t sample : ditheredInterleaved(buffer.channels, bits, ditherSeed)) {
            const auto raw = static_cast<uint32_t>(sample);
            for (int shift = 32 - bits; shift < 32; shift += 8)
                out.push_back(static_cast<unsigned char>(raw >> shift));
        }
        return out;
    }
    for (int64_t i = 0; i < buffer.frames(); ++i) {
        for (int c = 0; c < channels; ++c) {
            uint32_t raw;
            std::memcpy(&raw, &buffer.channels[size_t(c)][size_t(i)], 4);
            put32(out, raw);
        }
    }
    return out;
}

} // namespace tav::host::wav
