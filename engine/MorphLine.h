#pragma once

#include <algorithm>
#include <cmath>

namespace tav {

// Morph as the engine's stages see it: within each chunk it moves in a straight line from the
// previous chunk's target to this one's, and each stage samples the line where it needs it (the
// STFT at frame boundaries, the wet shaping at its control blocks). There is no other smoothing.
// Audio thread; never allocates.
class MorphLine {
public:
    // Starts a chunk of numSamples toward morph (clamped to 0..1; a non-finite value holds the
    // line where it is).
    void start(float morph, int numSamples) {
        target = std::isfinite(morph) ? std::clamp(morph, 0.0f, 1.0f) : previous;
        step = (target - previous) / static_cast<float>(std::max(numSamples, 1));
    }

    // The value samplesDone samples into the chunk.
    float at(int samplesDone) const { return previous + step * static_cast<float>(samplesDone); }

    // Puts the line at morph (clamped; a non-finite value leaves it where it is), so that the
    // next chunk starts there instead of gliding from the last one's target.
    void jumpTo(float morph) {
        if (std::isfinite(morph))
            previous = target = std::clamp(morph, 0.0f, 1.0f);
        step = 0.0f;
    }

    // Ends the chunk: the next one starts from this one's target.
    void finish() { previous = target; }

private:
    float previous = 0.0f;
    float target = 0.0f;
    float step = 0.0f;
};

} // namespace tav
