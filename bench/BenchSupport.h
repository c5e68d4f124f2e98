#pragma once

// What several benchmarks share: the clock they measure with, the floating-point mode the engine
// runs in, and one second of steady stereo material.

#include <xmmintrin.h>

#include <cmath>
#include <cstddef>
#include <ctime>
#include <numbers>
#include <random>
#include <vector>

namespace tav::bench {

// CPU time of this thread: the machine may be busy with other work while benchmarks run.
inline double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// The engine runs with denormals flushed to zero; so does everything measured beside it.
inline void flushDenormals() {
    _mm_setcsr(_mm_getcsr() | 0x8040);
}

// One second of steady stereo material: a harmonic chord on A, low-passed noise on B.
struct SteadySecond {
    static constexpr int kChannels = 2;
    std::vector<std::vector<float>> a, b;

    explicit SteadySecond(double rate) {
        const int length = static_cast<int>(rate);
        std::mt19937 random(5);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        a.assign(kChannels, std::vector<float>(static_cast<std::size_t>(length)));
        b.assign(kChannels, std::vector<float>(static_cast<std::size_t>(length)));
        for (int c = 0; c < kChannels; ++c) {
            float lowpass = 0.0f;
            for (int n = 0; n < length; ++n) {
                double tone = 0.0;
                for (double f0 : {220.0, 277.18, 329.63})
                    for (int h = 1; h <= 8; ++h)
                        tone += std::sin(2.0 * std::numbers::pi * f0 * h * n / rate) / (8.0 * h);
                a[c][n] = static_cast<float>(tone);
                lowpass += 0.2f * (unit(random) - lowpass);
                b[c][n] = 0.5f * lowpass;
            }
        }
    }

    int length() const { return static_cast<int>(a[0].size()); }
};

} // namespace tav::bench
