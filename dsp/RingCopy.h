#pragma once

#include <algorithm>

// Whole-segment copies into and out of a ring buffer, for delay lines that move a block at a
// time instead of a sample at a time.
namespace tav::rings {

// out[i] = ring[(start + i) % length] for i in [0, count); start < length, count <= length.
inline void read(const float* ring, int length, int start, float* out, int count) {
    const int first = std::min(count, length - start);
    std::copy_n(ring + start, first, out);
    std::copy_n(ring, count - first, out + first);
}

// ring[(start + i) % length] = in[i] for i in [0, count); start < length, count <= length.
inline void write(float* ring, int length, int start, const float* in, int count) {
    const int first = std::min(count, length - start);
    std::copy_n(in, first, ring + start);
    std::copy_n(in + first, count - first, ring);
}

// A delay line of length - 1 samples kept in `ring` of `length`, for a block of `count`
// samples whose first one is written at `index`; the sample by sample version writes each
// input at its index and reads the delayed one just past it. Fills delayed[0..count) and
// returns the index for the next block.
inline int delayBlock(float* ring, int length, int index, const float* in, float* delayed,
                      int count) {
    // The oldest part of the output comes from the ring, any later part is the block's own
    // start, and the ring keeps the block's newest samples.
    const int fromRing = std::min(count, length - 1);
    read(ring, length, index + 1 == length ? 0 : index + 1, delayed, fromRing);
    std::copy_n(in, count - fromRing, delayed + fromRing);
    const int kept = std::min(count, length);
    write(ring, length, (index + count - kept) % length, in + count - kept, kept);
    return (index + count) % length;
}

} // namespace tav::rings
