#include "dsp/RealFft.h"

#include <cassert>
#include <cmath>
#include <numbers>

namespace tav {
namespace {

// Number of bits b with 2^b >= m (0 for m = 1).
int bitsFor(int m) {
    int bits = 0;
    while ((1 << bits) < m)
        ++bits;
    return bits;
}

int reverseBits(int value, int bits) {
    int reversed = 0;
    for (int b = 0; b < bits; ++b) {
        reversed = (reversed << 1) | (value & 1);
        value >>= 1;
    }
    return reversed;
}

// One butterfly stage of length L = 2h over the whole array; tables hold h twiddles.
// Kept as a flat loop over k with restrict pointers so the compiler can vectorise it.
inline void butterflyStage(float* __restrict re, float* __restrict im, int m, int h,
                           const float* __restrict cosines, const float* __restrict sines) {
    const int length = 2 * h;
    for (int s = 0; s < m; s += length) {
        float* __restrict lowRe = re + s;
        float* __restrict lowIm = im + s;
        float* __restrict highRe = re + s + h;
        float* __restrict highIm = im + s + h;
        for (int k = 0; k < h; ++k) {
            const float cw = cosines[k];
            const float sw = sines[k];
            const float dRe = highRe[k];
            const float dIm = highIm[k];
            const float tRe = dRe * cw - dIm * sw;
            const float tIm = dIm * cw + dRe * sw;
            const float aRe = lowRe[k];
            const float aIm = lowIm[k];
            highRe[k] = aRe - tRe;
            highIm[k] = aIm - tIm;
            lowRe[k] = aRe + tRe;
            lowIm[k] = aIm + tIm;
        }
    }
}

} // namespace

RealFft::RealFft(int size) : n(size), half(size / 2) {
    assert(size >= 8 && (size & (size - 1)) == 0);
    const auto m = static_cast<std::size_t>(half);
    constexpr double twoPi = 2.0 * std::numbers::pi;

    const int bits = bitsFor(half);
    bitReversal.resize(m);
    for (int i = 0; i < half; ++i)
        bitReversal[static_cast<std::size_t>(i)] = reverseBits(i, bits);

    // Stage tables concatenated: the stage of length L starts at entry L/2 - 2.
    stageCos.reserve(m - 2);
    stageSin.reserve(m - 2);
    for (int length = 4; length <= half; length *= 2) {
        for (int k = 0; k < length / 2; ++k) {
            const double angle = -twoPi * k / length;
            stageCos.push_back(static_cast<float>(std::cos(angle)));
            stageSin.push_back(static_cast<float>(std::sin(angle)));
        }
    }

    splitCos.resize(m + 1);
    splitSin.resize(m + 1);
    for (int k = 0; k <= half; ++k) {
        const double angle = -twoPi * k / n;
        splitCos[static_cast<std::size_t>(k)] = static_cast<float>(std::cos(angle));
        splitSin[static_cast<std::size_t>(k)] = static_cast<float>(std::sin(angle));
    }

    workRe.assign(m, 0.0f);
    workIm.assign(m, 0.0f);
    resultRe.assign(m, 0.0f);
    resultIm.assign(m, 0.0f);
}

void RealFft::complexTransform() {
    const int m = half;
    const int* __restrict reversal = bitReversal.data();
    const float* __restrict inRe = workRe.data();
    const float* __restrict inIm = workIm.data();
    float* __restrict re = resultRe.data();
    float* __restrict im = resultIm.data();

    for (int i = 0; i < m; ++i) {
        re[i] = inRe[reversal[i]];
        im[i] = inIm[reversal[i]];
    }

    // Length-2 stage: the twiddle is 1, so no multiplications.
    for (int p = 0; p < m; p += 2) {
        const float aRe = re[p];
        const float aIm = im[p];
        const float cRe = re[p + 1];
        const float cIm = im[p + 1];
        re[p] = aRe + cRe;
        im[p] = aIm + cIm;
        re[p + 1] = aRe - cRe;
        im[p + 1] = aIm - cIm;
    }

    for (int length = 4; length <= m; length *= 2) {
        const int h = length / 2;
        const int offset = h - 2;
        butterflyStage(re, im, m, h, stageCos.data() + offset, stageSin.data() + offset);
    }
}

void RealFft::forward(const float* input, float* re, float* im) {
    const int m = half;
    {
        const float* __restrict x = input;
        float* __restrict packRe = workRe.data();
        float* __restrict packIm = workIm.data();
        for (int i = 0; i < m; ++i) {
            packRe[i] = x[2 * i];
            packIm[i] = x[2 * i + 1];
        }
    }

    complexTransform();

    const float* __restrict zRe = resultRe.data();
    const float* __restrict zIm = resultIm.data();
    const float* __restrict c = splitCos.data();
    const float* __restrict s = splitSin.data();
    float* __restrict outRe = re;
    float* __restrict outIm = im;

    outRe[0] = zRe[0] + zIm[0];
    outRe[m] = zRe[0] - zIm[0];
    outIm[0] = 0.0f;
    outIm[m] = 0.0f;
    for (int k = 1; k < m; ++k) {
        const float mirrorRe = zRe[m - k];
        const float mirrorIm = zIm[m - k];
        const float eR = (zRe[k] + mirrorRe) * 0.5f;
        const float eI = (zIm[k] - mirrorIm) * 0.5f;
        const float oR = (zIm[k] + mirrorIm) * 0.5f;
        const float oI = -(zRe[k] - mirrorRe) * 0.5f;
        outRe[k] = eR + oR * c[k] - oI * s[k];
        outIm[k] = eI + oI * c[k] + oR * s[k];
    }
}

void RealFft::inverse(const float* re, const float* im, float* output) {
    const int m = half;
    {
        const float* __restrict inRe = re;
        const float* __restrict inIm = im;
        const float* __restrict c = splitCos.data();
        const float* __restrict s = splitSin.data();
        float* __restrict packRe = workRe.data();
        float* __restrict packIm = workIm.data();

        packRe[0] = (inRe[0] + inRe[m]) * 0.5f;
        packIm[0] = (inRe[0] - inRe[m]) * -0.5f;
        for (int k = 1; k < m; ++k) {
            const float a = (inRe[k] + inRe[m - k]) * 0.5f;
            const float b = (inIm[k] - inIm[m - k]) * 0.5f;
            const float g = (inIm[k] + inIm[m - k]) * 0.5f;
            const float h = (inRe[k] - inRe[m - k]) * 0.5f;
            packRe[k] = a - (g * c[k] - h * s[k]);
            // The packed spectrum conjugated, so that the forward transform runs backwards.
            packIm[k] = -(b + g * s[k] + h * c[k]);
        }
    }

    complexTransform();

    const float scale = 1.0f / static_cast<float>(m);
    const float* __restrict zRe = resultRe.data();
    const float* __restrict zIm = resultIm.data();
    float* __restrict x = output;
    for (int i = 0; i < m; ++i) {
        x[2 * i] = zRe[i] * scale;
        x[2 * i + 1] = -(zIm[i] * scale);
    }
}

} // namespace tav
