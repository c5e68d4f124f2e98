#pragma once

#include "Material.h"

#include <cstddef>
#include <vector>

// What a listener would notice in a render, measured against its inputs. Every signal is
// aligned with the inputs (the engine's latency already taken off). Levels are in dB: powers
// against a mean square of 1.0, peaks against full scale. Main or worker threads; allocate.
namespace tav::lab {

// Output peaks against the louder input's peak, in 50 ms windows every 25 ms.
struct Swells {
    int windows = 0;           // windows where the louder input peaks above -40 dBFS
    double fractionOver = 0.0; // share of those where the output stands over +3 dB
    double worstDb = -1000.0;  // the largest excess
    double worstSeconds = 0.0; // start of the window where it happens
};
Swells measureSwells(const Stereo& a, const Stereo& b, const Stereo& y, std::size_t from);

// Largest magnitude in [from, to), dBFS; and how many samples reach the limiter's ceiling.
double peakDb(const Stereo& x, std::size_t from, std::size_t to);
int ceilingHits(const Stereo& y, std::size_t from);

// The signal through a zero-phase filter of the A-weighting curve (IEC 61672, 0 dB at 1 kHz),
// so that weighted windows line up with the unweighted signal.
Stereo aWeighted(const Stereo& x);

// The Morph-weighted targets for the output's power from the inputs' powers: the energy mix
// T1 and the perceived-loudness mix T2, which mixes the powers' 0.3rd roots.
double energyMix(double powerA, double powerB, double morph);
double perceivedMix(double powerA, double powerB, double morph);

// The output's A-weighted power in 400 ms windows every 100 ms, against T2 where both inputs
// sound (above -55 dB) and against the band from T2 - 3 dB to T1 + 1 dB where exactly one does.
struct Loudness {
    int windows = 0;            // windows where both inputs sound
    double medianDb = 0.0;      // median deviation from T2 there
    double medianAbsDb = 0.0;   // median of its magnitude
    double p95AbsDb = 0.0;      // 95th percentile of its magnitude
    int pauseWindows = 0;       // windows where exactly one input sounds
    int pauseViolations = 0;    // those where the output leaves the band
    double lowestDb = 1000.0;   // in those windows: the output's lowest power against T2
    double highestDb = -1000.0; // and its highest against T1
};
Loudness measureLoudness(const Stereo& weightedA, const Stereo& weightedB, const Stereo& weightedY,
                         double morph, std::size_t from);

// A per-hit figure over the drum hits of a render: median, and the worst hit.
struct HitFigures {
    int hits = 0;
    double medianDb = 0.0;
    double worstDb = 0.0;
    double worstSeconds = 0.0;
};

// Energy ahead of each hit: the mean square 25..5 ms before it over that 200..100 ms before it,
// of the output against the same of the plain crossfade; worst is the largest.
HitFigures measurePreEcho(const Stereo& y, const Stereo& crossfade,
                          const std::vector<std::size_t>& hits, std::size_t from);

// The output's A-weighted power over the 100 ms before each hit against T2 of the inputs over
// the same 100 ms; worst is the deepest.
HitFigures measureDucking(const Stereo& weightedA, const Stereo& weightedB, const Stereo& weightedY,
                          double morph, const std::vector<std::size_t>& hits, std::size_t from);

} // namespace tav::lab
