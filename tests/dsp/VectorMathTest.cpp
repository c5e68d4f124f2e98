#include "dsp/VectorMath.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
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

// The distance from the exact result in units of the float spacing there.
double ulpsOff(float got, double exact) {
    const float nearest = std::fabs(static_cast<float>(exact));
    const double spacing =
        nearest == 0.0f ? std::numeric_limits<float>::denorm_min()
                        : std::nextafter(nearest, std::numeric_limits<float>::infinity()) - nearest;
    return std::abs(got - exact) / spacing;
}

TEST(VectorMath, LogarithmWithinAnUlpOverTheNormalFloatsAndLimitedBeyond) {
    // Every 4099th bit pattern of the normal floats: every exponent, and mantissas on both
    // sides of the split at sqrt(1/2).
    const float smallest = std::numeric_limits<float>::min();
    std::vector<float> cases = {1.0f,        2.0f,       0.5f,       0.70710677f,
                                0.70710683f, 1.0000001f, 0.99999994f};
    for (std::uint32_t bits = std::bit_cast<std::uint32_t>(smallest); bits < 0x7F800000u;
         bits += 4099u)
        cases.push_back(std::bit_cast<float>(bits));
    while (cases.size() % 4 != 0)
        cases.push_back(1.0f);
    double worst = 0.0;
    for (std::size_t i = 0; i < cases.size(); i += 4) {
        const Lanes got = lanes(tav::vecmath::log(_mm_loadu_ps(&cases[i])));
        for (std::size_t j = 0; j < 4; ++j)
            worst = std::max(worst, ulpsOff(got[j], std::log(static_cast<double>(cases[i + j]))));
    }
    EXPECT_LE(worst, 1.0);

    // Zero, denormals and negatives are taken as the smallest normal float, infinity as the
    // largest float.
    const float infinity = std::numeric_limits<float>::infinity();
    const float atSmallest = lanes(tav::vecmath::log(_mm_set1_ps(smallest)))[0];
    EXPECT_LE(ulpsOff(atSmallest, std::log(static_cast<double>(smallest))), 1.0);
    for (const __m128 below : {_mm_setr_ps(0.0f, -0.0f, 1e-40f, -1e-40f),
                               _mm_setr_ps(-1.0f, -3e38f, -infinity, 1e-45f)}) {
        for (float lane : lanes(tav::vecmath::log(below)))
            EXPECT_EQ(lane, atSmallest);
    }
    const float atInfinity = lanes(tav::vecmath::log(_mm_set1_ps(infinity)))[0];
    EXPECT_LE(ulpsOff(atInfinity, std::log(static_cast<double>(std::numeric_limits<float>::max()))),
              1.0);
    EXPECT_TRUE(std::isnan(
        lanes(tav::vecmath::log(_mm_set1_ps(std::numeric_limits<float>::quiet_NaN())))[0]));
}

TEST(VectorMath, ArctangentWithinTwoUlpsInEveryQuadrantAndLikeTheLibraryAtTheEdges) {
    // Directions all round the circle at magnitudes from 1e-30 to 1e30, and pairs whose ratio
    // sits at the identities' seams (1 and tan(pi/8)).
    std::vector<float> ys, xs;
    for (int m = -30; m <= 30; m += 6) {
        const float scale = std::pow(10.0f, static_cast<float>(m));
        for (int k = 0; k < 20000; ++k) {
            const double angle = -3.2 + 6.4 * k / 20000.0;
            ys.push_back(static_cast<float>(std::sin(angle)) * scale);
            xs.push_back(static_cast<float>(std::cos(angle)) * scale);
        }
    }
    for (float ratio : {1.0f, 0.41421354f, 0.41421357f, 0.4142136f, 0.99999994f, 2.4142134f}) {
        for (float sy : {1.0f, -1.0f}) {
            for (float sx : {1.0f, -1.0f}) {
                ys.push_back(sy * ratio);
                xs.push_back(sx);
            }
        }
    }
    double worst = 0.0;
    for (std::size_t i = 0; i + 4 <= ys.size(); i += 4) {
        const Lanes got = lanes(tav::vecmath::atan2(_mm_loadu_ps(&ys[i]), _mm_loadu_ps(&xs[i])));
        for (std::size_t j = 0; j < 4; ++j)
            worst = std::max(worst, ulpsOff(got[j], std::atan2(static_cast<double>(ys[i + j]),
                                                               static_cast<double>(xs[i + j]))));
    }
    EXPECT_LE(worst, 2.0);

    // Zeros (with their signs), infinities, the largest floats and NaN, each pair against the
    // library to float rounding, signs of zero included.
    const float infinity = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> values = {0.0f,  -0.0f,  1.0f,  -1.0f,  infinity, -infinity,
                                       3e38f, -3e38f, 2e38f, 1e-40f, nan};
    for (float y : values) {
        for (float x : values) {
            const float got = lanes(tav::vecmath::atan2(_mm_set1_ps(y), _mm_set1_ps(x)))[0];
            const float want = std::atan2(y, x);
            if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(got)) << y << ", " << x;
                continue;
            }
            EXPECT_NEAR(got, want, 3e-7f) << y << ", " << x;
            EXPECT_EQ(std::signbit(got), std::signbit(want)) << y << ", " << x;
        }
    }
}

} // namespace
