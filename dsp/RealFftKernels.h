#pragma once

// The transform's long loops, written once over a vector type: the stages of length 32 and up
// and the split between the packed complex transform and the real spectrum. Each lane performs
// the same IEEE single-precision operations in the same order as the scalar butterfly would (no
// fused multiply-add), so every vector width gives the same results to the bit.
//
// Included by one source file per instruction set, each compiled with its own target flags: the
// contents have internal linkage so that no copy built for a wider set can stand in for another.

#include <cstddef>

namespace tav {
namespace {

template <typename V>
struct FftKernels {
    using Vec = typename V::Vec;
    static constexpr int kWidth = V::kWidth;

    // One radix-2 butterfly on every lane: t = high * w; high = low - t; low = low + t.
    static inline void butterfly(Vec& lowRe, Vec& lowIm, Vec& highRe, Vec& highIm, Vec cw, Vec sw) {
        const Vec tRe = V::sub(V::mul(highRe, cw), V::mul(highIm, sw));
        const Vec tIm = V::add(V::mul(highIm, cw), V::mul(highRe, sw));
        highRe = V::sub(lowRe, tRe);
        highIm = V::sub(lowIm, tIm);
        lowRe = V::add(lowRe, tRe);
        lowIm = V::add(lowIm, tIm);
    }

    // The stage of length 2h over the whole array; h is a multiple of the width.
    static void singleStage(float* re, float* im, int m, int h, const float* cosines,
                            const float* sines) {
        for (int s = 0; s < m; s += 2 * h) {
            for (int k = 0; k < h; k += kWidth) {
                const int low = s + k;
                const int high = low + h;
                Vec aRe = V::load(re + low), aIm = V::load(im + low);
                Vec bRe = V::load(re + high), bIm = V::load(im + high);
                butterfly(aRe, aIm, bRe, bIm, V::load(cosines + k), V::load(sines + k));
                V::store(re + low, aRe);
                V::store(im + low, aIm);
                V::store(re + high, bRe);
                V::store(im + high, bIm);
            }
        }
    }

    // The stages of length 2h and 4h in one pass over the array: the four points each output of
    // the second stage depends on are loaded once. Same butterflies, same order within a point.
    static void stagePair(float* re, float* im, int m, int h, const float* firstCos,
                          const float* firstSin, const float* secondCos, const float* secondSin) {
        for (int s = 0; s < m; s += 4 * h) {
            for (int k = 0; k < h; k += kWidth) {
                const int i0 = s + k;
                const int i1 = i0 + h;
                const int i2 = i1 + h;
                const int i3 = i2 + h;
                Vec aRe = V::load(re + i0), aIm = V::load(im + i0);
                Vec bRe = V::load(re + i1), bIm = V::load(im + i1);
                Vec cRe = V::load(re + i2), cIm = V::load(im + i2);
                Vec dRe = V::load(re + i3), dIm = V::load(im + i3);
                const Vec c1 = V::load(firstCos + k), s1 = V::load(firstSin + k);
                butterfly(aRe, aIm, bRe, bIm, c1, s1);
                butterfly(cRe, cIm, dRe, dIm, c1, s1);
                butterfly(aRe, aIm, cRe, cIm, V::load(secondCos + k), V::load(secondSin + k));
                butterfly(bRe, bIm, dRe, dIm, V::load(secondCos + k + h),
                          V::load(secondSin + k + h));
                V::store(re + i0, aRe);
                V::store(im + i0, aIm);
                V::store(re + i1, bRe);
                V::store(im + i1, bIm);
                V::store(re + i2, cRe);
                V::store(im + i2, cIm);
                V::store(re + i3, dRe);
                V::store(im + i3, dIm);
            }
        }
    }

    // The bit-reversed gather with the stages of length 2 to 16 for all M points, one group of
    // sixteen result points per lane (M/16 >= kWidth). Point r of group q (result points
    // 16q .. 16q + 15) comes from source index reverse4(r) * S + reverse(q), S = M/16: groups
    // whose reversed indices are consecutive take their points from consecutive source
    // entries, so each vector load fetches one point of kWidth groups and the stages run
    // lane-wise on them.
    static void firstStagesWide(const float* sourceRe, const float* sourceIm, int m,
                                const int* bitReversal, const float* stageCos,
                                const float* stageSin, float* re, float* im) {
        const int stride = m / 16;
        static constexpr int kReverse4[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
        const Vec cos4Low = V::splat(stageCos[0]), sin4Low = V::splat(stageSin[0]);
        const Vec cos4High = V::splat(stageCos[1]), sin4High = V::splat(stageSin[1]);
        Vec xRe[16], xIm[16];
        for (int base = 0; base < stride; base += kWidth) {
            // Lengths 2 and 4 within each quad of points (r = 4j .. 4j + 3).
            for (int j = 0; j < 16; j += 4) {
                Vec aRe = V::load(sourceRe + kReverse4[j] * stride + base);
                Vec aIm = V::load(sourceIm + kReverse4[j] * stride + base);
                Vec bRe = V::load(sourceRe + kReverse4[j + 1] * stride + base);
                Vec bIm = V::load(sourceIm + kReverse4[j + 1] * stride + base);
                Vec cRe = V::load(sourceRe + kReverse4[j + 2] * stride + base);
                Vec cIm = V::load(sourceIm + kReverse4[j + 2] * stride + base);
                Vec dRe = V::load(sourceRe + kReverse4[j + 3] * stride + base);
                Vec dIm = V::load(sourceIm + kReverse4[j + 3] * stride + base);
                // Length 2: the twiddle is 1, so sums and differences only.
                const Vec sumAbRe = V::add(aRe, bRe), sumAbIm = V::add(aIm, bIm);
                bRe = V::sub(aRe, bRe);
                bIm = V::sub(aIm, bIm);
                aRe = sumAbRe;
                aIm = sumAbIm;
                const Vec sumCdRe = V::add(cRe, dRe), sumCdIm = V::add(cIm, dIm);
                dRe = V::sub(cRe, dRe);
                dIm = V::sub(cIm, dIm);
                cRe = sumCdRe;
                cIm = sumCdIm;
                butterfly(aRe, aIm, cRe, cIm, cos4Low, sin4Low);
                butterfly(bRe, bIm, dRe, dIm, cos4High, sin4High);
                xRe[j] = aRe, xIm[j] = aIm, xRe[j + 1] = bRe, xIm[j + 1] = bIm;
                xRe[j + 2] = cRe, xIm[j + 2] = cIm, xRe[j + 3] = dRe, xIm[j + 3] = dIm;
            }
            // Lengths 8 and 16 across the quads, point k of each.
            for (int k = 0; k < 4; ++k) {
                Vec aRe = xRe[k], aIm = xIm[k], bRe = xRe[k + 4], bIm = xIm[k + 4];
                Vec cRe = xRe[k + 8], cIm = xIm[k + 8], dRe = xRe[k + 12], dIm = xIm[k + 12];
                const Vec cos8 = V::splat(stageCos[2 + k]), sin8 = V::splat(stageSin[2 + k]);
                butterfly(aRe, aIm, bRe, bIm, cos8, sin8);
                butterfly(cRe, cIm, dRe, dIm, cos8, sin8);
                butterfly(aRe, aIm, cRe, cIm, V::splat(stageCos[6 + k]), V::splat(stageSin[6 + k]));
                butterfly(bRe, bIm, dRe, dIm, V::splat(stageCos[10 + k]),
                          V::splat(stageSin[10 + k]));
                xRe[k] = aRe, xIm[k] = aIm, xRe[k + 4] = bRe, xIm[k + 4] = bIm;
                xRe[k + 8] = cRe, xIm[k + 8] = cIm, xRe[k + 12] = dRe, xIm[k + 12] = dIm;
            }
            // Lane l belongs to group reverse(base + l): transpose kWidth points at a time back.
            const int* groupStart = bitReversal + base;
            for (int r = 0; r < 16; r += kWidth) {
                V::transpose(xRe + r);
                V::transpose(xIm + r);
                for (int lane = 0; lane < kWidth; ++lane) {
                    V::store(re + groupStart[lane] + r, xRe[r + lane]);
                    V::store(im + groupStart[lane] + r, xIm[r + lane]);
                }
            }
        }
    }

    // Bins 1 .. M-1 of the real spectrum from the packed transform z (bins 0 and M are the
    // caller's): even and odd halves separated through the mirrored bin, then combined.
    static void splitForward(const float* zRe, const float* zIm, const float* c, const float* s,
                             int m, float* re, float* im) {
        const Vec half = V::splat(0.5f);
        int k = 1;
        for (; k + kWidth - 1 < m; k += kWidth) {
            const Vec mirrorRe = V::reversed(V::load(zRe + m - k - (kWidth - 1)));
            const Vec mirrorIm = V::reversed(V::load(zIm + m - k - (kWidth - 1)));
            const Vec kRe = V::load(zRe + k);
            const Vec kIm = V::load(zIm + k);
            const Vec eR = V::mul(V::add(kRe, mirrorRe), half);
            const Vec eI = V::mul(V::sub(kIm, mirrorIm), half);
            const Vec oR = V::mul(V::add(kIm, mirrorIm), half);
            const Vec oI = V::mul(V::negate(V::sub(kRe, mirrorRe)), half);
            const Vec ck = V::load(c + k);
            const Vec sk = V::load(s + k);
            V::store(re + k, V::sub(V::add(eR, V::mul(oR, ck)), V::mul(oI, sk)));
            V::store(im + k, V::add(V::add(eI, V::mul(oI, ck)), V::mul(oR, sk)));
        }
        for (; k < m; ++k) {
            const float mirrorRe = zRe[m - k];
            const float mirrorIm = zIm[m - k];
            const float eR = (zRe[k] + mirrorRe) * 0.5f;
            const float eI = (zIm[k] - mirrorIm) * 0.5f;
            const float oR = (zIm[k] + mirrorIm) * 0.5f;
            const float oI = -(zRe[k] - mirrorRe) * 0.5f;
            re[k] = eR + oR * c[k] - oI * s[k];
            im[k] = eI + oI * c[k] + oR * s[k];
        }
    }

    // Bins 1 .. M-1 of the packed, conjugated spectrum the inverse runs forward (bin 0 is the
    // caller's).
    static void splitInverse(const float* re, const float* im, const float* c, const float* s,
                             int m, float* packRe, float* packIm) {
        const Vec half = V::splat(0.5f);
        int k = 1;
        for (; k + kWidth - 1 < m; k += kWidth) {
            const Vec mirrorRe = V::reversed(V::load(re + m - k - (kWidth - 1)));
            const Vec mirrorIm = V::reversed(V::load(im + m - k - (kWidth - 1)));
            const Vec kRe = V::load(re + k);
            const Vec kIm = V::load(im + k);
            const Vec a = V::mul(V::add(kRe, mirrorRe), half);
            const Vec b = V::mul(V::sub(kIm, mirrorIm), half);
            const Vec g = V::mul(V::add(kIm, mirrorIm), half);
            const Vec h = V::mul(V::sub(kRe, mirrorRe), half);
            const Vec ck = V::load(c + k);
            const Vec sk = V::load(s + k);
            V::store(packRe + k, V::sub(a, V::sub(V::mul(g, ck), V::mul(h, sk))));
            V::store(packIm + k, V::negate(V::add(V::add(b, V::mul(g, sk)), V::mul(h, ck))));
        }
        for (; k < m; ++k) {
            const float a = (re[k] + re[m - k]) * 0.5f;
            const float b = (im[k] - im[m - k]) * 0.5f;
            const float g = (im[k] + im[m - k]) * 0.5f;
            const float h = (re[k] - re[m - k]) * 0.5f;
            packRe[k] = a - (g * c[k] - h * s[k]);
            packIm[k] = -(b + g * s[k] + h * c[k]);
        }
    }
};

} // namespace
} // namespace tav
