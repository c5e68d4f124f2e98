#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <limits>

// Four-wide forms of the few elementary functions the algorithms evaluate for every bin, and the
// lane helpers the engine's sample loops share, in plain SSE2 so that they run on any x86-64
// processor. Rounding follows std::round exactly;
// the transcendental ones are within a couple of float ulps of the library's results, which
// is all a magnitude or a phase carries.
namespace tav::vecmath {

// Any thread; never allocates. |x| for each lane (the sign bit cleared; NaN stays NaN).
inline __m128 absolute(__m128 x) {
    return _mm_and_ps(x, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff)));
}

// Any thread; never allocates. The largest of the four lanes.
inline float largestLane(__m128 x) {
    x = _mm_max_ps(x, _mm_movehl_ps(x, x));
    return _mm_cvtss_f32(_mm_max_ss(x, _mm_shuffle_ps(x, x, 1)));
}

// Any thread; never allocates. std::round for each lane (halves away from zero, -0 kept,
// NaN and values beyond 2^23, already integral, passed through).
inline __m128 roundHalfAway(__m128 x) {
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 magnitude = _mm_andnot_ps(signBit, x);
    const __m128 truncated = _mm_cvtepi32_ps(_mm_cvttps_epi32(x));
    // The fraction x - trunc(x) is exact; a half or more moves one away from zero.
    const __m128 fraction = _mm_andnot_ps(signBit, _mm_sub_ps(x, truncated));
    const __m128 step = _mm_and_ps(_mm_cmpge_ps(fraction, _mm_set1_ps(0.5f)), _mm_set1_ps(1.0f));
    __m128 rounded = _mm_add_ps(_mm_andnot_ps(signBit, truncated), step);
    rounded = _mm_or_ps(rounded, _mm_and_ps(x, signBit));
    // At 2^23 and beyond every float is an integer (and the conversion would overflow).
    const __m128 small = _mm_cmplt_ps(magnitude, _mm_set1_ps(8388608.0f));
    return _mm_or_ps(_mm_and_ps(small, rounded), _mm_andnot_ps(small, x));
}

// Any thread; never allocates. Sine and cosine of each lane. Accurate to about one ulp for
// |x| up to a few thousand (the phases here stay within a turn or two); NaN gives NaN.
inline void sinCos(__m128 x, __m128& sine, __m128& cosine) {
    // Quadrant j = nearest integer to x / (pi/2), then x - j pi/2 in three exact-ish steps.
    const __m128i quadrant = _mm_cvtps_epi32(_mm_mul_ps(x, _mm_set1_ps(0.63661977f)));
    const __m128 j = _mm_cvtepi32_ps(quadrant);
    __m128 r = _mm_sub_ps(x, _mm_mul_ps(j, _mm_set1_ps(1.5703125f)));
    r = _mm_sub_ps(r, _mm_mul_ps(j, _mm_set1_ps(4.8375129699707031e-4f)));
    r = _mm_sub_ps(r, _mm_mul_ps(j, _mm_set1_ps(7.5497899548918821e-8f)));
    const __m128 r2 = _mm_mul_ps(r, r);

    // Minimax polynomials on [-pi/4, pi/4].
    __m128 s =
        _mm_add_ps(_mm_mul_ps(_mm_set1_ps(-1.9515295891e-4f), r2), _mm_set1_ps(8.3321608736e-3f));
    s = _mm_add_ps(_mm_mul_ps(s, r2), _mm_set1_ps(-1.6666654611e-1f));
    s = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(s, r2), r), r);
    __m128 c = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(2.443315711809948e-5f), r2),
                          _mm_set1_ps(-1.388731625493765e-3f));
    c = _mm_add_ps(_mm_mul_ps(c, r2), _mm_set1_ps(4.166664568298827e-2f));
    c = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(c, r2), r2),
                   _mm_sub_ps(_mm_set1_ps(1.0f), _mm_mul_ps(_mm_set1_ps(0.5f), r2)));

    // Odd quadrants swap the two; quadrants 2 and 3 negate the sine, 1 and 2 the cosine.
    const __m128 swap = _mm_castsi128_ps(
        _mm_cmpeq_epi32(_mm_and_si128(quadrant, _mm_set1_epi32(1)), _mm_set1_epi32(1)));
    const __m128 sinSign =
        _mm_castsi128_ps(_mm_slli_epi32(_mm_and_si128(quadrant, _mm_set1_epi32(2)), 30));
    const __m128 cosSign = _mm_castsi128_ps(_mm_slli_epi32(
        _mm_and_si128(_mm_add_epi32(quadrant, _mm_set1_epi32(1)), _mm_set1_epi32(2)), 30));
    sine = _mm_xor_ps(_mm_or_ps(_mm_and_ps(swap, c), _mm_andnot_ps(swap, s)), sinSign);
    cosine = _mm_xor_ps(_mm_or_ps(_mm_and_ps(swap, s), _mm_andnot_ps(swap, c)), cosSign);
}

// Any thread; never allocates. e^x for each lane, within about one ulp. The argument is limited
// to -87..88 so that the result stays a normal float (no infinity, no denormal); NaN gives NaN.
inline __m128 exp(__m128 x) {
    // minps/maxps answer their second operand for NaN: with x second, NaN passes through.
    x = _mm_min_ps(_mm_set1_ps(88.0f), x);
    x = _mm_max_ps(_mm_set1_ps(-87.0f), x);
    // x = n ln 2 + r with |r| <= ln 2 / 2; ln 2 split so that n ln2High is exact.
    const __m128i n = _mm_cvtps_epi32(_mm_mul_ps(x, _mm_set1_ps(1.44269504f)));
    const __m128 nf = _mm_cvtepi32_ps(n);
    __m128 r = _mm_sub_ps(x, _mm_mul_ps(nf, _mm_set1_ps(0.693359375f)));
    r = _mm_sub_ps(r, _mm_mul_ps(nf, _mm_set1_ps(-2.12194440e-4f)));

    __m128 p =
        _mm_add_ps(_mm_mul_ps(_mm_set1_ps(1.9875691500e-4f), r), _mm_set1_ps(1.3981999507e-3f));
    p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(8.3334519073e-3f));
    p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(4.1665795894e-2f));
    p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(1.6666665459e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(5.0000001201e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, _mm_mul_ps(r, r)), _mm_add_ps(r, _mm_set1_ps(1.0f)));

    // Times 2^n, built directly in the exponent field (n stays within -126..127 for the limited
    // argument).
    const __m128i scale = _mm_slli_epi32(_mm_add_epi32(n, _mm_set1_epi32(127)), 23);
    return _mm_mul_ps(p, _mm_castsi128_ps(scale));
}

// Any thread; never allocates. Natural logarithm of each lane, within 0.83 float ulps of the
// exact result (the worst seen over every float in [0.5, 2) and 20 million others; the library's
// logf: 0.82). The argument is limited to the normal floats, as exp limits its own: 0, denormals
// and negatives give ln of the smallest normal float (-87.34), +infinity that of the largest
// (88.72); NaN gives NaN.
inline __m128 log(__m128 x) {
    // NaN is noted first: the limit below passes it on, and its bits read as a large number.
    const __m128 unordered = _mm_cmpunord_ps(x, x);
    // Infinity needs no limit: its exponent field reads as 2^128.
    const __m128i bits =
        _mm_castps_si128(_mm_max_ps(_mm_set1_ps(std::numeric_limits<float>::min()), x));
    // x = m 2^e with m in [sqrt(1/2), sqrt(2)), so that ln m stays small.
    __m128i e = _mm_sub_epi32(_mm_srli_epi32(bits, 23), _mm_set1_epi32(126));
    const __m128 half = _mm_castsi128_ps(
        _mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(0x007FFFFF)), _mm_set1_epi32(0x3F000000)));
    const __m128 low = _mm_cmplt_ps(half, _mm_set1_ps(0.707106781f));
    e = _mm_add_epi32(e, _mm_castps_si128(low)); // the mask is -1 where m is doubled
    const __m128 f =
        _mm_add_ps(_mm_sub_ps(half, _mm_set1_ps(1.0f)), _mm_and_ps(low, half)); // m - 1, exact
    const __m128 ef = _mm_cvtepi32_ps(e);

    // ln(1 + f) = f - f^2/2 + f^3 P(f), minimax on [sqrt(1/2) - 1, sqrt(2) - 1].
    const __m128 f2 = _mm_mul_ps(f, f);
    __m128 p =
        _mm_add_ps(_mm_mul_ps(_mm_set1_ps(7.0376836292e-2f), f), _mm_set1_ps(-1.1514610310e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, f), _mm_set1_ps(1.1676998740e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, f), _mm_set1_ps(-1.2420140846e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, f), _mm_set1_ps(1.4249322787e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, f), _mm_set1_ps(-1.6668057665e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, f), _mm_set1_ps(2.0000714765e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, f), _mm_set1_ps(-2.4999993993e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, f), _mm_set1_ps(3.3333331174e-1f));
    // ln 2 split so that e ln2High is exact; the small terms are summed first.
    __m128 y = _mm_mul_ps(_mm_mul_ps(p, f), f2);
    y = _mm_add_ps(y, _mm_mul_ps(ef, _mm_set1_ps(-2.12194440e-4f)));
    y = _mm_sub_ps(y, _mm_mul_ps(f2, _mm_set1_ps(0.5f)));
    const __m128 result = _mm_add_ps(_mm_add_ps(f, y), _mm_mul_ps(ef, _mm_set1_ps(0.693359375f)));
    // Every bit set is a quiet NaN.
    return _mm_or_ps(result, unordered);
}

// Any thread; never allocates. The angle of (x, y) for each lane, in [-pi, pi], within 1.94 float
// ulps of the exact result (the worst seen over 20 million pairs of all directions and
// magnitudes; the library's atan2f: 1.45). Edge values as std::atan2: atan2(+-0, +0) = +-0,
// atan2(+-0, -0) = +-pi, infinities give the multiples of pi/4, a NaN in either argument gives NaN.
inline __m128 atan2(__m128 y, __m128 x) {
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 ax = _mm_andnot_ps(signBit, x);
    const __m128 ay = _mm_andnot_ps(signBit, y);
    // The angle of the smaller over the larger, in [0, pi/4]; above tan(pi/8) the identity
    // atan t = pi/4 + atan((t - 1) / (t + 1)) keeps the polynomial's argument small, and the
    // difference of the two magnitudes is formed before the one division.
    const __m128 swap = _mm_cmpgt_ps(ay, ax);
    const __m128 small = _mm_min_ps(ax, ay);
    const __m128 large = _mm_max_ps(ax, ay);
    // Magnitudes near the top of the range are quartered so that their sum cannot overflow.
    const __m128 huge = _mm_cmpgt_ps(large, _mm_set1_ps(1e37f));
    const __m128 shrink =
        _mm_or_ps(_mm_and_ps(huge, _mm_set1_ps(0.25f)), _mm_andnot_ps(huge, _mm_set1_ps(1.0f)));
    const __m128 num = _mm_mul_ps(small, shrink);
    const __m128 den = _mm_mul_ps(large, shrink);
    const __m128 beyond = _mm_cmpgt_ps(num, _mm_mul_ps(den, _mm_set1_ps(0.414213562f)));
    __m128 t =
        _mm_div_ps(_mm_or_ps(_mm_and_ps(beyond, _mm_sub_ps(num, den)), _mm_andnot_ps(beyond, num)),
                   _mm_or_ps(_mm_and_ps(beyond, _mm_add_ps(num, den)), _mm_andnot_ps(beyond, den)));
    t = _mm_andnot_ps(_mm_cmpeq_ps(large, _mm_setzero_ps()), t); // 0 / 0 is taken as 0

    const __m128 z = _mm_mul_ps(t, t);
    __m128 p =
        _mm_add_ps(_mm_mul_ps(_mm_set1_ps(8.05374449538e-2f), z), _mm_set1_ps(-1.38776856032e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, z), _mm_set1_ps(1.99777106478e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, z), _mm_set1_ps(-3.33329491539e-1f));
    // atan t = t + t z P(z). pi/4, pi/2 and pi each as a float plus the rest; pi/4 + t is exact
    // where the two nearly cancel, so the small terms are added to it last.
    const __m128 tail = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(p, z), t),
                                   _mm_and_ps(beyond, _mm_set1_ps(-2.18556941e-8f)));
    __m128 angle = _mm_add_ps(_mm_add_ps(_mm_and_ps(beyond, _mm_set1_ps(0.785398185f)), t), tail);
    const __m128 bothInfinite =
        _mm_and_ps(_mm_cmpeq_ps(small, _mm_set1_ps(std::numeric_limits<float>::infinity())),
                   _mm_cmpeq_ps(ax, ay));
    angle = _mm_or_ps(_mm_and_ps(bothInfinite, _mm_set1_ps(0.785398185f)),
                      _mm_andnot_ps(bothInfinite, angle));

    const __m128 fromHalfPi =
        _mm_add_ps(_mm_sub_ps(_mm_set1_ps(1.57079637f), angle), _mm_set1_ps(-4.37113883e-8f));
    angle = _mm_or_ps(_mm_and_ps(swap, fromHalfPi), _mm_andnot_ps(swap, angle));
    const __m128 negativeX = _mm_castsi128_ps(_mm_srai_epi32(_mm_castps_si128(x), 31));
    const __m128 fromPi =
        _mm_add_ps(_mm_sub_ps(_mm_set1_ps(3.14159274f), angle), _mm_set1_ps(-8.74227766e-8f));
    angle = _mm_or_ps(_mm_and_ps(negativeX, fromPi), _mm_andnot_ps(negativeX, angle));
    angle = _mm_or_ps(angle, _mm_and_ps(y, signBit));
    // A NaN in either argument: every bit set is a quiet NaN.
    return _mm_or_ps(angle, _mm_cmpunord_ps(x, y));
}

// Any thread; never allocates. One float field of the next four items in the lanes of a
// register, for loops over arrays of records; lanes past the `left` items that remain read zero.
// A whole group is put together in registers: four stores to memory read back as one load
// would wait for the stores to retire.
template <typename Item, typename Field>
__m128 gather(const Item* items, std::size_t left, Field field) {
    if (left >= 4)
        return _mm_setr_ps(field(items[0]), field(items[1]), field(items[2]), field(items[3]));
    alignas(16) float values[4] = {};
    for (std::size_t k = 0; k < left; ++k)
        values[k] = field(items[k]);
    return _mm_load_ps(values);
}

// Any thread; never allocates. The lanes handed to the next four items, or to the `left` items
// that remain.
template <typename Item, typename Store>
void scatter(__m128 v, Item* items, std::size_t left, Store store) {
    alignas(16) float values[4];
    _mm_store_ps(values, v);
    for (std::size_t k = 0; k < left && k < 4; ++k)
        store(items[k], values[k]);
}

} // namespace tav::vecmath
