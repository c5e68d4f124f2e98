#pragma once

#include "tools/live/FrameRing.h"

#include <atomic>
#include <filesystem>
#include <thread>

typedef struct sf_private_tag SNDFILE;

namespace tav::live {

// Writes what the audio thread hands over through a ring to a 32-bit float WAV file, from a
// thread of its own, so a take can be kept while it plays.
class TakeWriter {
public:
    // Main thread; allocates. Opens path for writing and starts the writer thread. Throws
    // HostError when the file cannot be created.
    TakeWriter(const std::filesystem::path& path, double rate, int channels);
    // Main thread. Writes what is left in the ring, closes the file.
    ~TakeWriter();
    TakeWriter(const TakeWriter&) = delete;
    TakeWriter& operator=(const TakeWriter&) = delete;

    // Audio thread; never allocates or locks. Hands one block over; a block the ring has no
    // room for is counted as lost.
    void push(const float* const* planar, int frames) {
        if (!ring.push(planar, frames))
            lost.fetch_add(static_cast<uint64_t>(frames), std::memory_order_relaxed);
    }
    // Any thread. Frames the writer could not keep up with.
    uint64_t lostFrames() const { return lost.load(); }
    // Main thread. Writes what is left and closes the file; the destructor does it otherwise.
    void finish();

private:
    void drain();

    FrameRing ring;
    SNDFILE* file = nullptr;
    std::atomic<bool> running{true};
    std::atomic<uint64_t> lost{0};
    std::thread writer;
};

} // namespace tav::live
