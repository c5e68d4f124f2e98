#pragma once

// The weighting filters' recursion, written once for any vector width: V names the vector type
// and its lane-wise add, subtract and multiply.

#include "engine/WeightingFilters.h"

namespace tav::weighting {

// The AVX pair run itself; only reached through avxPairRun.
void avxPair(WeightingFilters& first, WeightingFilters& second, WeightingInputs inFirst,
             WeightingInputs inSecond, int count, const WeightingCoefficients& coefficients);

template <typename V>
struct Lanes {
    using Vector = typename V::Vector;

    struct Coefficients {
        Vector highA1, highA2, lowZero, lowA1, lowA2;
    };

    Vector x1, x2, u1, u2, y1, y2, power, rawPower;

    // One sample of A, B and the wet signal through both sections: u = x - 2 x1 + x2 + a1 u1 +
    // a2 u2, y = u + q u1 + b1 y1 + b2 y2. Each section adds its last output's feedback last,
    // so the recursion from one sample to the next is one multiply and one add.
    void step(Vector x, const Coefficients& k) {
        const Vector difference = V::sub(V::add(x, x2), V::add(x1, x1));
        const Vector u = V::add(V::add(difference, V::mul(k.highA2, u2)), V::mul(k.highA1, u1));
        const Vector lowInput = V::add(u, V::mul(k.lowZero, u1));
        const Vector y = V::add(V::add(lowInput, V::mul(k.lowA2, y2)), V::mul(k.lowA1, y1));
        x2 = x1;
        x1 = x;
        u2 = u1;
        u1 = u;
        y2 = y1;
        y1 = y;
        power = V::add(power, V::mul(y, y));
        rawPower = V::add(rawPower, V::mul(x, x));
    }
};

} // namespace tav::weighting
