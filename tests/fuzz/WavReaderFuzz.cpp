// The WAV reader of builds without libsndfile, on mutated files held in memory: it either
// refuses with a HostError or returns mono or stereo audio of at least one frame.
#include "FuzzCheck.h"

#include "tools/HostError.h"
#include "tools/audio/WavCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const auto buffer = tav::host::wav::parse(data, size, "fuzz.wav");
        tav::fuzz::check(buffer.channelCount() >= 1 && buffer.channelCount() <= 2,
                         "mono or stereo");
        tav::fuzz::check(buffer.frames() >= 1, "at least one frame");
        tav::fuzz::check(buffer.sampleRate > 0.0, "a positive rate");
    } catch (const tav::host::HostError&) {
    }
    return 0;
}
