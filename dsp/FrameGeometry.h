#pragma once

#include "dsp/SafeIndex.h"

#include <algorithm>
#include <cmath>

// Frame length and latency as functions of the sample rate and the Quality choice.
// The processor reports these before the engine is prepared, so they live apart from it.
namespace tav {

// Quality index of the "Quality" parameter.
inline constexpr int kQualityStandard = 0;
inline constexpr int kQualityHigh = 1;

// Frame length N for Quality "Standard": about 43 ms at every common rate.
constexpr int fftSizeForRate(double sampleRate) {
    if (sampleRate < 32000.0)
        return 1024;
    if (sampleRate < 64000.0)
        return 2048;
    if (sampleRate < 128000.0)
        return 4096;
    return 8192;
}

// Frame length N for a rate and Quality: "High" doubles it for better low-note separation.
constexpr int fftSizeFor(double sampleRate, int quality) {
    return quality == kQualityHigh ? 2 * fftSizeForRate(sampleRate) : fftSizeForRate(sampleRate);
}

// The limiter's look-ahead L: 1.5 ms, at least 16 samples (and never past any usable rate).
inline constexpr int kMaxLimiterLookahead = 1 << 20;
inline int limiterLookahead(double sampleRate) {
    return clampedIndex(std::round(sampleRate * 0.0015), 16, kMaxLimiterLookahead);
}

// Whole-plug-in latency N + L: the STFT delays by one frame, the limiter by its look-ahead.
inline int latencySamples(double sampleRate, int quality) {
    return fftSizeFor(sampleRate, quality) + limiterLookahead(sampleRate);
}

} // namespace tav
