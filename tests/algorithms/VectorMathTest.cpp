#include "algorithms/VectorMath.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using Lanes = std::array<float, 4>;

Lanes lanes(__m128 v) {
    Lanes out{};
    _mm_storeu_ps(out.data(), v);
    return out;
}

// Dense sweep of [from, to] in groups of four, with the reference computed lane by lane.
template <typename Check>
void sweep(float from, float to, int count, Check check) {
    for (int i = 0; i < count; i += 4) {
        Lanes x{};
        for (int j = 0; j < 4; ++j)
            x[static_cast<std::size_t>(j)] = from + (to - from) * static_cast<float>(i + j) / count;
        check(x);
    }
}

TEST(VectorMath, RoundMatchesTheLibraryBitForBit) {
    std::vector<float> cases = {0.0f,
                                -0.0f,
                                0.5f,
                                -0.5f,
                                1.5f,
                                -1.5f,
                                2.5f,
                                -2.5f,
                                0.49999997f,
                                -0.49999997f,
                                8388607.5f,
                                8388608.0f,
                                -8388609.0f,
                                3e9f,
                                -3e9f,
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity()};
    for (float x = -40.0f; x <= 40.0f; x += 0.03125f)
        cases.push_back(x);
    for (float x = -3.0f; x <= 3.0f; x += 0.0137f)
        cases.push_back(x);
    while (cases.size() % 4 != 0)
        cases.push_back(0.25f);
    for (std::size_t i = 0; i < cases.size(); i += 4) {
        const Lanes got = lanes(tav::vecmath::roundHalfAway(_mm_loadu_ps(&cases[i])));
        for (std::size_t j = 0; j < 4; ++j) {
            const float want = std::round(cases[i + j]);
            EXPECT_EQ(got[j], want) << cases[i + j];
            EXPECT_EQ(std::signbit(got[j]), std::signbit(want)) << cases[i + j];
        }
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(std::isnan(lanes(tav::vecmath::roundHalfAway(_mm_set1_ps(nan)))[0]));
}

TEST(VectorMath, SineAndCosineWithinFloatRoundingOverSeveralTurns) {
    double worst = 0.0;
    sweep(-20.0f, 20.0f, 200000, [&](const Lanes& x) {
        __m128 s, c;
        tav::vecmath::sinCos(_mm_loadu_ps(x.data()), s, c);
        const Lanes sine = lanes(s), cosine = lanes(c);
        for (std::size_t j = 0; j < 4; ++j) {
            worst = std::max(worst, std::abs(sine[j] - std::sin(static_cast<double>(x[j]))));
            worst = std::max(worst, std::abs(cosine[j] - std::cos(static_cast<double>(x[j]))));
        }
    });
    // A float of magnitude up to 1 is rounded to within 6e-8.
    EXPECT_LT(worst, 2e-7);
    __m128 s, c;
    tav::vecmath::sinCos(_mm_set1_ps(std::numeric_limits<float>::quiet_NaN()), s, c);
    EXPECT_TRUE(std::isnan(lanes(s)[0]) && std::isnan(lanes(c)[0]));
}

TEST(VectorMath, ExponentialWithinFloatRoundingAndNeverInfinite) {
    double worst = 0.0;
    sweep(-86.0f, 87.0f, 200000, [&](const Lanes& x) {
        const Lanes got = lanes(tav::vecmath::exp(_mm_loadu_ps(x.data())));
        for (std::size_t j = 0; j < 4; ++j) {
            const double want = std::exp(static_cast<double>(x[j]));
            worst = std::max(worst, std::abs(got[j] - want) / want);
        }
    });
    EXPECT_LT(worst, 2.5e-7); // about two ulps
    const Lanes edges = lanes(tav::vecmath::exp(_mm_setr_ps(-1000.0f, 1000.0f, 0.0f, -87.5f)));
    EXPECT_GT(edges[0], 0.0f);
    EXPECT_TRUE(std::isnormal(edges[0]));
    EXPECT_TRUE(std::isfinite(edges[1]));
    EXPECT_EQ(edges[2], 1.0f);
    EXPECT_TRUE(std::isnormal(edges[3]));
    EXPECT_TRUE(std::isnan(
        lanes(tav::vecmath::exp(_mm_set1_ps(std::numeric_limits<float>::quiet_NaN())))[0]));
}

} // namespace
