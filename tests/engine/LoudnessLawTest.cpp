#include "engine/LoudnessLaw.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tav {
namespace {

// The perceived mix from its definition, in long double.
double perceivedByDefinition(double a, double b, double m) {
    const long double p = 0.3L;
    const long double mixed = (1.0L - m) * std::pow(static_cast<long double>(a), p) +
                              m * std::pow(static_cast<long double>(b), p);
    return static_cast<double>(std::pow(mixed, 1.0L / p));
}

// The vector form keeps to the definition over the whole range a frame's energies can take,
// from silence in one input to energies far outside the float range.
TEST(LoudnessLaw, PerceivedMixesInVectorLanesFollowTheDefinition) {
    const double energies[] = {0.0, 1e-60, 1e-30, 3e-9, 0.5, 1.0, 7e4, 1e30, 1e60};
    for (double morph : {0.02, 0.3, 0.5, 0.97})
        for (double a : energies)
            for (double b : energies) {
                // Each lane with its own pair: the pair, its mirror, and either against silence.
                const double energiesA[] = {a, b, a, 0.0};
                const double energiesB[] = {b, a, 0.0, b};
                double mixes[4];
                loudness::perceivedMixes(energiesA, energiesB, morph, mixes);
                for (int i = 0; i < 4; ++i) {
                    const double expected =
                        perceivedByDefinition(energiesA[i], energiesB[i], morph);
                    EXPECT_NEAR(mixes[i], expected, 2e-5 * expected) << a << " " << b << " " << i;
                }
            }
}

} // namespace
} // namespace tav
