#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tav::live {

// A single-producer, single-consumer ring of interleaved frames: the audio thread writes, one
// other thread reads, neither waits nor locks.
class FrameRing {
public:
    // Main thread; allocates. Room for capacityFrames frames of channels samples.
    FrameRing(int channels, int capacityFrames)
        : channels(channels), capacity(static_cast<size_t>(capacityFrames)),
          samples(capacity * static_cast<size_t>(channels)) {}

    // Producer thread; never allocates or locks. Writes frames of planar channels, all or none;
    // false (nothing written) when there is no room for them.
    bool push(const float* const* planar, int frames) {
        const size_t head = written.load(std::memory_order_relaxed);
        const size_t tail = taken.load(std::memory_order_acquire);
        if (capacity - (head - tail) < static_cast<size_t>(frames))
            return false;
        for (int i = 0; i < frames; ++i) {
            float* frame = &samples[((head + static_cast<size_t>(i)) % capacity) *
                                    static_cast<size_t>(channels)];
            for (int c = 0; c < channels; ++c)
                frame[c] = planar[c][i];
        }
        written.store(head + static_cast<size_t>(frames), std::memory_order_release);
        return true;
    }

    // Consumer thread; never allocates or locks. Reads up to maxFrames interleaved frames into
    // out; the number read.
    int pop(float* out, int maxFrames) {
        const size_t tail = taken.load(std::memory_order_relaxed);
        const size_t head = written.load(std::memory_order_acquire);
        const size_t count = std::min(head - tail, static_cast<size_t>(maxFrames));
        for (size_t i = 0; i < count; ++i) {
            const float* frame = &samples[((tail + i) % capacity) * static_cast<size_t>(channels)];
            std::copy_n(frame, channels, out + i * static_cast<size_t>(channels));
        }
        taken.store(tail + count, std::memory_order_release);
        return static_cast<int>(count);
    }

    int channelCount() const { return channels; }

private:
    const int channels;
    const size_t capacity;
    std::vector<float> samples;
    std::atomic<size_t> written{0};
    std::atomic<size_t> taken{0};
};

} // namespace tav::live
