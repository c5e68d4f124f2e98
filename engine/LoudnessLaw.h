#pragma once

#include "dsp/VectorMath.h"

#include <emmintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

// How loud the morph of two inputs should be. The frames match their own loudness-weighted
// energy to the Morph-weighted mix of the inputs' energies, which follows every change of the
// inputs at once. Heard loudness, though, grows about as energy to the power 0.3 (Stevens' law,
// the sone scale): mixed in energy, a voice 30 dB over a pad takes over the level within the
// first tenth of the knob. So the level's slow travel follows the mix in that domain, and the
// fast shape within it keeps following the energy mix.
namespace tav::loudness {

// Exponent of heard loudness against energy.
inline constexpr double kLoudnessExponent = 0.3;

// Time constant of the slow energy averages that carry the level's travel: long enough that a
// pause or a hit does not move it, short enough that it follows a new passage.
inline constexpr double kSlowAverageSeconds = 0.4;

// The Morph-weighted mix of two energies.
template <typename Real>
Real energyMix(Real energyA, Real energyB, Real morph) {
    return energyA * (Real(1) - morph) + energyB * morph;
}

// The Morph-weighted mix of two loudnesses (energies to the power kLoudnessExponent), as an
// energy. Never above the energy mix of the same energies (a power mean of lower order).
template <typename Real>
Real perceivedFromLoudness(Real loudnessA, Real loudnessB, Real morph) {
    return std::pow(energyMix(loudnessA, loudnessB, morph),
                    Real(1) / static_cast<Real>(kLoudnessExponent));
}

// The Morph-weighted mix of two energies in the domain of heard loudness, as an energy.
template <typename Real>
Real perceivedMix(Real energyA, Real energyB, Real morph) {
    constexpr auto exponent = static_cast<Real>(kLoudnessExponent);
    return perceivedFromLoudness(std::pow(energyA, exponent), std::pow(energyB, exponent), morph);
}

// The perceived mixes of four pairs of energies at once, mixes[i] of (a[i], b[i]), in vector
// lanes and float precision (within a few millionths). Each pair is scaled by its larger energy
// first: the law is homogeneous, and so no power leaves the float range whatever the energies.
// Any thread; never allocates.
inline void perceivedMixes(const double* a, const double* b, double morph, double* mixes) {
    double scale[4];
    float shares[8];
    for (int i = 0; i < 4; ++i) {
        scale[i] = std::max(a[i], b[i]);
        shares[2 * i] = scale[i] > 0.0 ? static_cast<float>(a[i] / scale[i]) : 0.0f;
        shares[2 * i + 1] = scale[i] > 0.0 ? static_cast<float>(b[i] / scale[i]) : 0.0f;
    }
    // Lanes at or below the smallest normal float count as silent: their power is 0.
    const auto power = [](__m128 x, float exponent) {
        return _mm_and_ps(vecmath::exp(_mm_mul_ps(_mm_set1_ps(exponent), vecmath::log(x))),
                          _mm_cmpgt_ps(x, _mm_set1_ps(FLT_MIN)));
    };
    constexpr auto exponent = static_cast<float>(kLoudnessExponent);
    alignas(16) float loudness[8];
    _mm_store_ps(loudness, power(_mm_loadu_ps(shares), exponent));
    _mm_store_ps(loudness + 4, power(_mm_loadu_ps(shares + 4), exponent));
    const auto m = static_cast<float>(morph);
    alignas(16) float perceived[4];
    for (int i = 0; i < 4; ++i)
        perceived[i] = energyMix(loudness[2 * i], loudness[2 * i + 1], m);
    _mm_store_ps(perceived, power(_mm_load_ps(perceived), 1.0f / exponent));
    for (int i = 0; i < 4; ++i)
        mixes[i] = scale[i] * perceived[i];
}

// The law's slow part: the inputs' energies and the targets averaged over kSlowAverageSeconds,
// and what follows from them for the next stretches. Kept per channel by the frames and once by
// the wet shaping, fed once per frame or control block. Any thread, serialised with its user;
// never allocates.
template <typename Real>
struct SlowLevel {
    Real slowA = 0, slowB = 0; // the inputs' energies
    Real slowTarget = 0;       // the targets handed out before balancing
    Real travel = 1;           // takes the slow energy mix to the slow perceived mix
    Real balance = 1;          // takes the targets' average to the slow perceived mix

    void reset() { *this = SlowLevel{}; }

    // Takes a stretch's energies; step is the averages' one-pole coefficient per stretch.
    void observe(Real a, Real b, Real step) {
        slowA += step * (a - slowA);
        slowB += step * (b - slowB);
    }

    // Takes the target handed out for a stretch, before balancing.
    void observeTarget(Real target, Real step) { slowTarget += step * (target - slowTarget); }

    // Works out travel and balance for the Morph. Both are at most 1, and exactly 1 at the Morph
    // ends and wherever the averages say nothing. The balance makes up for the pauses: a pause
    // lifted to its own perceived mix raises the average over what the averages' law asks.
    void update(Real morph) {
        update(morph,
               morph > Real(0) && morph < Real(1) ? perceivedMix(slowA, slowB, morph) : Real(0));
    }

    // The same with the averages' perceived mix worked out by the caller (used only for a
    // Morph strictly between 0 and 1).
    void update(Real morph, Real perceived) {
        travel = balance = Real(1);
        const Real slowMix = energyMix(slowA, slowB, morph);
        if (!(morph > Real(0) && morph < Real(1)) || !(slowMix > Real(0)) ||
            !std::isfinite(slowMix))
            return;
        travel = std::min(perceived / slowMix, Real(1));
        if (slowTarget > perceived)
            balance = std::max(perceived / slowTarget, kLowestBalance);
    }

    // Balance never lowers the level by more than this (6 dB).
    static constexpr Real kLowestBalance = Real(0.25);
};

// How far, in dB, a stretch's target moves from the travelled energy mix toward its own
// perceived mix where that lies lower, as where one input falls silent between words: the energy
// mix alone lifts the other input by its whole energy share in every such gap, the perceived mix
// alone would duck it there.
inline constexpr double kPerceivedPull = 0.15;

// The travelled energy mix pulled kPerceivedPull of the way (in dB) toward a perceived mix
// below it: travelled^(1 - pull) * perceived^pull.
template <typename Real>
Real pulledMix(Real travelled, Real perceivedMix) {
    return travelled * std::pow(perceivedMix / travelled, static_cast<Real>(kPerceivedPull));
}

// The energy a frame (or any short stretch) of the morph should have, from the energy mix and
// the perceived mix of its own inputs and the slow travel: the energy mix scaled by the travel,
// so that the level moves evenly in loudness while its fast shape follows the inputs, pulled a
// little toward the stretch's perceived mix, but never below that perceived mix: in a pause of
// one input the other is left no quieter than the loudness law asks. With a travel of 1 (the
// Morph ends) exactly the energy mix. pulled is pulledMix(energyMix * travel, perceivedMix),
// worked out by callers with powers of their own; it is used only where the perceived mix lies
// below the travelled energy mix.
template <typename Real>
Real targetWithPull(Real energyMix, Real perceivedMix, Real travel, Real pulled) {
    if (travel == Real(1))
        return energyMix;
    const Real travelled = energyMix * travel;
    return std::max(perceivedMix < travelled ? pulled : travelled,
                    std::min(perceivedMix, energyMix));
}

// The same target, its pull worked out with the standard library's powers.
template <typename Real>
Real target(Real energyMix, Real perceivedMix, Real travel) {
    const Real travelled = energyMix * travel;
    const bool pulls = travel != Real(1) && perceivedMix < travelled;
    return targetWithPull(energyMix, perceivedMix, travel,
                          pulls ? pulledMix(travelled, perceivedMix) : travelled);
}

} // namespace tav::loudness
