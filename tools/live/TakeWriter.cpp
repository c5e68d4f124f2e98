#include "tools/live/TakeWriter.h"

#include "tools/HostError.h"

#include <sndfile.h>

#include <chrono>
#include <vector>

namespace tav::live {
namespace {

// Four seconds of room: the writer wakes every few milliseconds, so only a stalled disk loses
// frames.
constexpr double kRingSeconds = 4.0;
constexpr int kChunkFrames = 4096;

} // namespace

TakeWriter::TakeWriter(const std::filesystem::path& path, double rate, int channels)
    : ring(channels, static_cast<int>(rate * kRingSeconds)) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    file = sf_open(path.string().c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw host::HostError("cannot write the recording \"" + path.string() +
                              "\": " + sf_strerror(nullptr));
    writer = std::thread([this] { drain(); });
}

TakeWriter::~TakeWriter() {
    finish();
}

void TakeWriter::finish() {
    if (file == nullptr)
        return;
    running = false;
    writer.join();
    sf_close(file);
    file = nullptr;
}

void TakeWriter::drain() {
    std::vector<float> chunk(static_cast<size_t>(kChunkFrames * ring.channelCount()));
    for (;;) {
        const bool last = !running.load();
        int frames;
        while ((frames = ring.pop(chunk.data(), kChunkFrames)) > 0)
            sf_writef_float(file, chunk.data(), frames);
        if (last)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace tav::live
