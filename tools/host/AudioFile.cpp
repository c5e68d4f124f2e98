#include "tools/host/AudioFile.h"

#include "tools/host/PluginModule.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>

#ifdef TAVIMO_HAVE_SNDFILE
#include <sndfile.h>
#endif
#ifdef TAVIMO_HAVE_SAMPLERATE
#include <samplerate.h>
#endif
#ifdef TAVIMO_HAVE_EBUR128
#include <ebur128.h>
#endif

#ifdef _WIN32
#include <process.h>
#define TAVIMO_GETPID _getpid
#else
#include <unistd.h>
#define TAVIMO_GETPID getpid
#endif

namespace tav::host {

AudioBuffer AudioBuffer::silence(double rate, int count, int64_t frames) {
    AudioBuffer buffer;
    buffer.sampleRate = rate;
    buffer.channels.assign(static_cast<size_t>(count),
                           std::vector<float>(static_cast<size_t>(frames), 0.0f));
    return buffer;
}

namespace audio_file {

namespace {

constexpr int kMaxChannels = 2;

std::string quoted(const std::filesystem::path& path) {
    return "\"" + path.string() + "\"";
}

void checkShape(const std::filesystem::path& path, int channels, int64_t frames) {
    if (channels > kMaxChannels)
        throw HostError(quoted(path) + " has " + std::to_string(channels) +
                        " channels; only mono and stereo files are supported");
    if (channels < 1 || frames <= 0)
        throw HostError(quoted(path) + " holds no audio (zero length)");
}

[[maybe_unused]] AudioBuffer deinterleave(const std::vector<float>& interleaved, int channels,
                                          double rate) {
    const int64_t frames = static_cast<int64_t>(interleaved.size()) / channels;
    AudioBuffer buffer = AudioBuffer::silence(rate, channels, frames);
    for (int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            buffer.channels[static_cast<size_t>(c)][static_cast<size_t>(i)] =
                interleaved[static_cast<size_t>(i * channels + c)];
    return buffer;
}

std::vector<float> interleave(const AudioBuffer& buffer) {
    const int channels = buffer.channelCount();
    std::vector<float> interleaved(static_cast<size_t>(buffer.frames() * channels));
    for (int64_t i = 0; i < buffer.frames(); ++i)
        for (int c = 0; c < channels; ++c)
            interleaved[static_cast<size_t>(i * channels + c)] =
                buffer.channels[static_cast<size_t>(c)][static_cast<size_t>(i)];
    return interleaved;
}

#ifdef TAVIMO_HAVE_SNDFILE

AudioBuffer readFile(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &info);
    if (file == nullptr)
        throw HostError("cannot read " + quoted(path) + ": " + sf_strerror(nullptr));
    if (info.channels > kMaxChannels || info.frames <= 0) {
        sf_close(file);
        checkShape(path, info.channels, info.frames);
    }
    std::vector<float> interleaved(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    interleaved.resize(static_cast<size_t>(std::max<sf_count_t>(got, 0) * info.channels));
    checkShape(path, info.channels, got);
    return deinterleave(interleaved, info.channels, info.samplerate);
}

void writeFile(const std::filesystem::path& path, const AudioBuffer& buffer, bool flac) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(buffer.sampleRate));
    info.channels = buffer.channelCount();
    info.format = flac ? (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) : (SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw HostError("cannot write " + quoted(path) + ": " + sf_strerror(nullptr));
    // Integer formats clip rather than wrap a sample beyond full scale.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const std::vector<float> interleaved = interleave(buffer);
    const sf_count_t written = sf_writef_float(file, interleaved.data(), buffer.frames());
    const int closeError = sf_close(file);
    if (written != buffer.frames() || closeError != 0)
        throw HostError("cannot write " + quoted(path) + ": disk full or not writable");
}

#else // A small RIFF/WAVE codec for builds without libsndfile.

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

AudioBuffer readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw HostError("cannot read " + quoted(path));
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        throw HostError("cannot read " + quoted(path) + ": not a WAV file");
    int channels = 0, bits = 0;
    uint16_t formatTag = 0;
    double rate = 0.0;
    const unsigned char* data = nullptr;
    size_t dataSize = 0;
    for (size_t pos = 12; pos + 8 <= bytes.size();) {
        const uint32_t size = le32(&bytes[pos + 4]);
        const size_t body = pos + 8;
        const size_t available = std::min<size_t>(size, bytes.size() - body);
        if (std::memcmp(&bytes[pos], "fmt ", 4) == 0 && available >= 16) {
            formatTag = le16(&bytes[body]);
            channels = le16(&bytes[body + 2]);
            rate = le32(&bytes[body + 4]);
            bits = le16(&bytes[body + 14]);
            if (formatTag == 0xFFFE && available >= 26)
                formatTag = le16(&bytes[body + 24]);
        } else if (std::memcmp(&bytes[pos], "data", 4) == 0) {
            data = &bytes[body];
            dataSize = available;
        }
        pos = body + size + (size & 1u);
    }
    const bool isFloat = formatTag == 3;
    const bool supported =
        (formatTag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32)) ||
        (isFloat && (bits == 32 || bits == 64));
    if (data == nullptr || !supported || rate <= 0.0)
        throw HostError("cannot read " + quoted(path) + ": unsupported WAV encoding");
    const size_t frameBytes = static_cast<size_t>(channels) * static_cast<size_t>(bits / 8);
    const int64_t frames = frameBytes == 0 ? 0 : static_cast<int64_t>(dataSize / frameBytes);
    checkShape(path, channels, frames);
    AudioBuffer buffer = AudioBuffer::silence(rate, channels, frames);
    for (int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            buffer.channels[size_t(c)][size_t(i)] = decodeSample(
                data + size_t(i) * frameBytes + size_t(c) * size_t(bits / 8), bits, isFloat);
    return buffer;
}

void put32(std::vector<unsigned char>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void put16(std::vector<unsigned char>& out, uint16_t v) {
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

void writeFile(const std::filesystem::path& path, const AudioBuffer& buffer, bool) {
    const std::vector<float> samples = interleave(buffer);
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 4);
    const uint16_t channels = static_cast<uint16_t>(buffer.channelCount());
    const uint32_t rate = static_cast<uint32_t>(std::lround(buffer.sampleRate));
    std::vector<unsigned char> out;
    out.reserve(dataBytes + 64);
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put32(out, 4 + 8 + 16 + 8 + 4 + 8 + dataBytes);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(out, 16);
    put16(out, 3);
    put16(out, channels);
    put32(out, rate);
    put32(out, rate * channels * 4u);
    put16(out, static_cast<uint16_t>(channels * 4));
    put16(out, 32);
    out.insert(out.end(), {'f', 'a', 'c', 't'});
    put32(out, 4);
    put32(out, static_cast<uint32_t>(buffer.frames()));
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(out, dataBytes);
    for (float value : samples) {
        uint32_t raw;
        std::memcpy(&raw, &value, 4);
        put32(out, raw);
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    file.close();
    if (!file)
        throw HostError("cannot write " + quoted(path) + ": disk full or not writable");
}

#endif

bool endsWith(std::string text, const std::string& suffix) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

AudioBuffer read(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        throw HostError("file not found: " + quoted(path));
    if (std::filesystem::is_directory(path, error))
        throw HostError("cannot read " + quoted(path) + ": it is a folder");
    return readFile(path);
}

void write(const std::filesystem::path& path, const AudioBuffer& buffer) {
    std::filesystem::path temporary = path;
    temporary += ".partial-" + std::to_string(TAVIMO_GETPID());
    try {
        writeFile(temporary, buffer, endsWith(path.string(), ".flac"));
        std::filesystem::rename(temporary, path);
    } catch (const std::filesystem::filesystem_error& error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw HostError("cannot write " + quoted(path) + ": " + error.code().message());
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw;
    }
}

AudioBuffer conform(const AudioBuffer& buffer, double rate, int64_t frames) {
    AudioBuffer converted = buffer;
    if (buffer.sampleRate != rate) {
#ifdef TAVIMO_HAVE_SAMPLERATE
        const double ratio = rate / buffer.sampleRate;
        const std::vector<float> input = interleave(buffer);
        const int channels = buffer.channelCount();
        const long outFrames = static_cast<long>(std::ceil(buffer.frames() * ratio)) + 16;
        std::vector<float> output(static_cast<size_t>(outFrames * channels));
        SRC_DATA data{};
        data.data_in = input.data();
        data.data_out = output.data();
        data.input_frames = static_cast<long>(buffer.frames());
        data.output_frames = outFrames;
        data.src_ratio = ratio;
        const int error = src_simple(&data, SRC_SINC_BEST_QUALITY, channels);
        if (error != 0)
            throw HostError(std::string("sample-rate conversion failed: ") + src_strerror(error));
        output.resize(static_cast<size_t>(data.output_frames_gen * channels));
        converted = deinterleave(output, channels, rate);
#else
        throw HostError("B's sample rate differs from A's and this build cannot convert rates");
#endif
    }
    for (auto& channel : converted.channels)
        channel.resize(static_cast<size_t>(frames), 0.0f);
    converted.sampleRate = rate;
    return converted;
}

std::optional<double> integratedLoudness(const AudioBuffer& buffer) {
#ifdef TAVIMO_HAVE_EBUR128
    ebur128_state* state =
        ebur128_init(static_cast<unsigned>(buffer.channelCount()),
                     static_cast<unsigned long>(std::lround(buffer.sampleRate)), EBUR128_MODE_I);
    if (state == nullptr)
        return std::nullopt;
    const std::vector<float> interleaved = interleave(buffer);
    ebur128_add_frames_float(state, interleaved.data(), static_cast<size_t>(buffer.frames()));
    double loudness = 0.0;
    const int error = ebur128_loudness_global(state, &loudness);
    ebur128_destroy(&state);
    if (error != EBUR128_SUCCESS)
        return std::nullopt;
    return loudness;
#else
    (void)buffer;
    return std::nullopt;
#endif
}

} // namespace audio_file

} // namespace tav::host
