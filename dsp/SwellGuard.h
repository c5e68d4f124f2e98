#pragma once

#include <cstdint>
#include <vector>

namespace tav {

// The wet signal's ceiling, sample by sample: a little over what the inputs peaked at around
// the moment the wet sample was made from. A morph may reshape the inputs' spectra but must not
// stand out over them: energy a frame smears ahead of a hit or past the end of a sound, and
// peaks that a new phase structure stacks up, would otherwise come out louder than anything
// that went in. The louder input's peak is kept per short block, delayed by the frame length N
// (the wet signal leaves the STFT N samples after its input) and held over a short window
// reaching back from that moment.
class SwellGuard {
public:
    // Any thread, serialised with process; allocates. frameSize is the STFT frame length N.
    // Ends in reset.
    void prepare(double sampleRate, int channels, int frameSize, int maxBlockSize);

    // Any thread, serialised with process; never allocates. Forgets every peak: the ceiling
    // starts at its floor, as for silent inputs.
    void reset();

    // Audio thread; never allocates, locks or throws. inA, inB: a chunk's cleaned, undelayed
    // inputs (`channels` valid pointers each). Best taken as soon as they are cleaned, while
    // they are still in cache; ceilings() for the same chunk follows.
    void takeInputs(const float* const* inA, const float* const* inB, int count);

    // Audio thread; never allocates, locks or throws. ceilings: count samples, the ceiling of
    // the wet samples that leave the STFT in the chunk taken last, at most fullScale.
    void ceilings(int count, float fullScale, float* ceilings);

private:
    // The held peak for the wet samples of one block; blocks are asked for in order.
    float heldPeak(int64_t wetBlock);
    // Looks for the largest peak again over the blocks held for the block newest.
    void findHeld(int64_t newest);
    int64_t ringMask() const { return static_cast<int64_t>(ring.size()) - 1; }

    // Samples per block: the time grid of the held peaks, fixed in absolute sample time so the
    // host's block size never changes the sound.
    static constexpr int kBlock = 16;

    int channels = 0;
    int delayBlocks = 0;      // N / kBlock
    int holdBlocks = 0;       // how many blocks before a wet sample's own its ceiling still sees
    std::vector<float> ring;  // the newest blocks' peaks, by block number modulo its size
    float current = 0.0f;     // the peak of the block being filled
    int64_t samplesTaken = 0; // input samples seen since reset
    // The largest peak over the blocks held for the wet block entered last, the oldest block
    // that has it, and the next block to enter.
    float held = 0.0f;
    int64_t heldBlock = 0;
    int64_t nextHeld = 0;
};

} // namespace tav
