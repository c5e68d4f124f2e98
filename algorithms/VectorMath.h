#pragma once

#include <emmintrin.h>

#include <cstdint>

// Four-wide forms of the few elementary functions the algorithms evaluate for every bin, in
// plain SSE2 so that they run on any x86-64 processor. Rounding follows std::round exactly;
// the transcendental ones are within a couple of float ulps of the library's results, which
// is all a magnitude or a phase carries.
namespace tav::vecmath {

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

} // namespace tav::vecmath
