#include "tools/audio/AudioFile.h"

#include "tools/HostError.h"
#include "tools/audio/WavCodec.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
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
// Rates outside these are no audio anyone records: most likely a damaged header.
constexpr double kMinFileRate = 1000.0;
constexpr double kMaxFileRate = 768000.0;

std::string quoted(const std::filesystem::path& path) {
    return "\"" + path.string() + "\"";
}

[[maybe_unused]] void checkShape(const std::filesystem::path& path, int channels, int64_t frames) {
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

[[maybe_unused]] std::vector<float> interleave(const AudioBuffer& buffer) {
    const int channels = buffer.channelCount();
    std::vector<float> interleaved(static_cast<size_t>(buffer.frames() * channels));
    for (int64_t i = 0; i < buffer.frames(); ++i)
        for (int c = 0; c < channels; ++c)
            interleaved[static_cast<size_t>(i * channels + c)] =
                buffer.channels[static_cast<size_t>(c)][static_cast<size_t>(i)];
    return interleaved;
}

void warnTruncated(const std::filesystem::path& path, const AudioBuffer& buffer) {
    std::fprintf(stderr,
                 "tavimo: warning: %s ends before its header says it does; reading the %.2f s it "
                 "holds\n",
                 quoted(path).c_str(), static_cast<double>(buffer.frames()) / buffer.sampleRate);
}

#ifdef TAVIMO_HAVE_SNDFILE

// Whether the library found the file's data chunk longer than the file (its log says so).
bool endsEarly(SNDFILE* file) {
    std::string log(8192, '\0');
    sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
    const std::size_t data = log.find("\ndata :");
    return data != std::string::npos && log.find("should be", data) < log.find('\n', data + 1);
}

AudioBuffer readFile(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &info);
    if (file == nullptr)
        throw HostError("cannot read " + quoted(path) + ": " + sf_strerror(nullptr));
    if (info.channels > kMaxChannels || info.frames <= 0) {
        sf_close(file);
        checkShape(path, info.channels, info.frames);
    }
    const bool truncated = endsEarly(file);
    std::vector<float> interleaved(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    interleaved.resize(static_cast<size_t>(std::max<sf_count_t>(got, 0) * info.channels));
    checkShape(path, info.channels, got);
    AudioBuffer buffer = deinterleave(interleaved, info.channels, info.samplerate);
    if (truncated)
        warnTruncated(path, buffer);
    return buffer;
}

int sndfileFormat(const OutputFormat& format) {
    using Container = OutputFormat::Container;
    int major = SF_FORMAT_WAV;
    switch (format.container) {
    case Container::Wav:
        break;
    case Container::Aiff:
        major = SF_FORMAT_AIFF;
        break;
    case Container::Flac:
        major = SF_FORMAT_FLAC;
        break;
    case Container::OggVorbis:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case Container::Mp3:
        return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    }
    switch (format.depth.value_or(SampleDepth::Float32)) {
    case SampleDepth::Pcm16:
        return major | SF_FORMAT_PCM_16;
    case SampleDepth::Pcm24:
        return major | SF_FORMAT_PCM_24;
    case SampleDepth::Float32:
        break;
    }
    return major | SF_FORMAT_FLOAT;
}

void writeFile(const std::filesystem::path& path, const AudioBuffer& buffer,
               const OutputFormat& format, uint32_t ditherSeed) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(buffer.sampleRate));
    info.channels = buffer.channelCount();
    info.format = sndfileFormat(format);
    SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw HostError("cannot write " + quoted(path) + " as " + format.name() + ": " +
                        sf_strerror(nullptr));
    sf_count_t written = 0;
    const int bits = format.depth == SampleDepth::Pcm16   ? 16
                     : format.depth == SampleDepth::Pcm24 ? 24
                                                          : 0;
    if (bits != 0) {
        // Integers are rounded here, with dither, rather than truncated by the library.
        const std::vector<int32_t> samples = ditheredInterleaved(buffer.channels, bits, ditherSeed);
        written = sf_writef_int(file, samples.data(), buffer.frames());
    } else {
        // Lossy encoders clip rather than wrap a sample beyond full scale.
        sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        const std::vector<float> interleaved = interleave(buffer);
        written = sf_writef_float(file, interleaved.data(), buffer.frames());
    }
    const int closeError = sf_close(file);
    if (written != buffer.frames() || closeError != 0)
        throw HostError("cannot write " + quoted(path) + ": disk full or not writable");
}

#else // The small RIFF/WAVE codec of builds without libsndfile.

AudioBuffer readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw HostError("cannot read " + quoted(path));
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    bool truncated = false;
    AudioBuffer buffer;
    try {
        buffer = wav::parse(bytes.data(), bytes.size(), path.string(), &truncated);
    } catch (const HostError& error) {
        // Other formats are read by libsndfile, which this build does not have.
        if (std::string(error.what()).find("not a WAV file") == std::string::npos)
            throw;
        throw HostError("cannot read " + quoted(path) +
                        ": this Windows build of tavimo reads WAV files only");
    }
    if (truncated)
        warnTruncated(path, buffer);
    return buffer;
}

void writeFile(const std::filesystem::path& path, const AudioBuffer& buffer,
               const OutputFormat& format, uint32_t ditherSeed) {
    const std::vector<unsigned char> out =
        wav::encode(buffer, path.string(), format.depth.value_or(SampleDepth::Float32), ditherSeed);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    file.close();
    if (!file)
        throw HostError("cannot write " + quoted(path) + ": disk full or not writable");
}

#endif

} // namespace

AudioBuffer read(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        throw HostError("file not found: " + quoted(path));
    if (std::filesystem::is_directory(path, error))
        throw HostError("cannot read " + quoted(path) + ": it is a folder");
    AudioBuffer buffer = readFile(path);
    if (!(buffer.sampleRate >= kMinFileRate && buffer.sampleRate <= kMaxFileRate))
        throw HostError(quoted(path) + " has a sample rate of " +
                        std::to_string(std::lround(buffer.sampleRate)) +
                        " Hz; tavimo reads files at 1000 to 768000 Hz");
    return buffer;
}

void write(const std::filesystem::path& path, const AudioBuffer& buffer, const OutputFormat& format,
           uint32_t ditherSeed) {
    if (format.container == OutputFormat::Container::Wav)
        wav::checkFits(buffer.frames(), buffer.channelCount(), path.string());
    std::filesystem::path temporary = path;
    temporary += ".partial-" + std::to_string(TAVIMO_GETPID());
    try {
        writeFile(temporary, buffer, format, ditherSeed);
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

void write(const std::filesystem::path& path, const AudioBuffer& buffer) {
    write(path, buffer, outputFormatFor(path, std::nullopt, buffer.sampleRate));
}

AudioBuffer conform(const AudioBuffer& buffer, double rate, int64_t frames, Tail tail) {
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
        throw HostError("B is at " + std::to_string(std::lround(buffer.sampleRate)) +
                        " Hz and A at " + std::to_string(std::lround(rate)) +
                        " Hz; this Windows build of tavimo cannot convert sample rates: give B "
                        "at A's rate (the Linux build converts it)");
#endif
    }
    for (auto& channel : converted.channels) {
        const size_t length = channel.size();
        channel.resize(static_cast<size_t>(frames), 0.0f);
        if (tail == Tail::Loop && length > 0)
            for (size_t i = length; i < channel.size(); ++i)
                channel[i] = channel[i - length];
    }
    converted.sampleRate = rate;
    return converted;
}

std::optional<double> sampleRateOf(const std::filesystem::path& path) {
#ifdef TAVIMO_HAVE_SNDFILE
    SF_INFO info{};
    SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &info);
    if (file == nullptr)
        return std::nullopt;
    sf_close(file);
    return static_cast<double>(info.samplerate);
#else
    (void)path;
    return std::nullopt;
#endif
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
