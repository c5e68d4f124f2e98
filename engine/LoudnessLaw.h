#pragma once

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
inline double energyMix(double energyA, double energyB, double morph) {
    return energyA * (1.0 - morph) + energyB * morph;
}

// The Morph-weighted mix of two energies in the domain of heard loudness, as an energy.
inline double perceivedMix(double energyA, double energyB, double morph) {
    const double loudness = (1.0 - morph) * std::pow(energyA, kLoudnessExponent) +
                            morph * std::pow(energyB, kLoudnessExponent);
    return std::pow(loudness, 1.0 / kLoudnessExponent);
}

// What the energy mix of two slow averages is multiplied by to travel as heard loudness does:
// at most 1 (the perceived mix never exceeds the energy mix), exactly 1 at the Morph ends and
// wherever the averages say nothing.
inline double perceivedOverEnergy(double slowA, double slowB, double morph) {
    const double mix = energyMix(slowA, slowB, morph);
    if (!(morph > 0.0 && morph < 1.0) || !(mix > 0.0) || !std::isfinite(mix))
        return 1.0;
    const double ratio = perceivedMix(slowA, slowB, morph) / mix;
    return ratio < 1.0 ? ratio : 1.0;
}

} // namespace tav::loudness
