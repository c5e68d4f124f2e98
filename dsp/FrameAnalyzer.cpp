#include "dsp/FrameAnalyzer.h"

#include "dsp/SafeIndex.h"
#include "dsp/SpanSums.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tav {
namespace {

// Bins this weak carry no usable phase slope: they keep their own index as frequency.
constexpr float kReassignFloor = 1e-24f;
constexpr float kInverseTwoPi = 0.15915494f;

// 128 logarithmic display bands from 70 Hz to 9500 Hz: 128 / ln(9500 / 70).
constexpr double kDisplayLowHz = 70.0;
constexpr double kDisplayBandsPerNeper = 26.066315834244012;
constexpr int kDisplayBandCount = 128;

// Third-octave onset bands counted from 40 Hz.
constexpr double kOnsetLowHz = 40.0;
constexpr int kOnsetBandCount = 32;

// Scales the A-weighting power so that 1 kHz weighs about 1.
constexpr double kAWeightingNormalisation = 1.5849;

// A-weighting amplitude response: poles at 20.6, 107.7, 737.9 and 12194 Hz.
double aWeightingAmplitude(double hz) {
    const double f2 = hz * hz;
    const double denominator =
        (f2 + 424.36) * std::sqrt((f2 + 11599.29) * (f2 + 544496.41)) * (f2 + 148693636.0);
    return 148693636.0 * f2 * f2 / std::max(denominator, 1e-30);
}

int displayBandFor(double hz) {
    const double band = std::floor(std::log(hz / kDisplayLowHz) * kDisplayBandsPerNeper);
    return band >= 0.0 && band < kDisplayBandCount ? clampedIndex(band, 0, kDisplayBandCount - 1)
                                                   : -1;
}

int thirdOctaveBandFor(double hz) {
    const double band = 3.0 * std::log2(std::max(hz, kOnsetLowHz) * 0.025);
    return clampedIndex(band, 0, kOnsetBandCount - 1);
}

// out[i] = a[i] * b[i] for i in [0, count), four at a time.
void multiply(const float* a, const float* b, float* out, int count) {
    int i = 0;
    for (; i + 4 <= count; i += 4)
        _mm_storeu_ps(out + i, _mm_mul_ps(_mm_loadu_ps(a + i), _mm_loadu_ps(b + i)));
    for (; i < count; ++i)
        out[i] = a[i] * b[i];
}

// Fills magnitude = sqrt(re^2 + im^2) and returns the A-weighted energy sum of the powers,
// accumulated in double. sqrtps rounds exactly as sqrtf does.
double magnitudesAndEnergy(const float* re, const float* im, const float* weight, float* magnitude,
                           int count) {
    __m128d low = _mm_setzero_pd();
    __m128d high = _mm_setzero_pd();
    int k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m128 r = _mm_loadu_ps(re + k);
        const __m128 i = _mm_loadu_ps(im + k);
        const __m128 power = _mm_add_ps(_mm_mul_ps(r, r), _mm_mul_ps(i, i));
        _mm_storeu_ps(magnitude + k, _mm_sqrt_ps(power));
        spans::accumulateWeighted(_mm_loadu_ps(weight + k), power, low, high);
    }
    double energy = spans::laneTotal(_mm_add_pd(low, high));
    for (; k < count; ++k) {
        const float power = re[k] * re[k] + im[k] * im[k];
        magnitude[k] = std::sqrt(power);
        energy += static_cast<double>(weight[k]) * power;
    }
    return energy;
}

// The Hann and derivative-window spectra of a frame from the plain transform g of the same
// rotated frame. The periodic Hann window 0.5 - 0.5 cos and the derivative window
// (pi / N) sin each hold a single cosine or sine over the frame, so in the spectrum they are
// three-tap kernels; with the frame centre at index 0 every other bin changes sign, which turns
// Hann's -0.25 taps into +0.25:
//   hann[k] = 0.5 g[k] + 0.25 (g[k-1] + g[k+1])
//   derivative[k] = -j (pi / 2N) (g[k+1] - g[k-1])
// One transform thus serves both windows. Beyond the ends the spectrum of a real frame
// mirrors as its conjugate.
void windowedSpectra(const float* gRe, const float* gIm, int fftSize, float* hRe, float* hIm,
                     float* dRe, float* dIm) {
    const int top = fftSize / 2;
    const float slope = std::numbers::pi_v<float> / (2.0f * static_cast<float>(fftSize));
    const auto binAt = [&](int k, float lowRe, float lowIm, float highRe, float highIm) {
        hRe[k] = 0.5f * gRe[k] + 0.25f * (lowRe + highRe);
        hIm[k] = 0.5f * gIm[k] + 0.25f * (lowIm + highIm);
        dRe[k] = slope * (highIm - lowIm);
        dIm[k] = -slope * (highRe - lowRe);
    };
    binAt(0, gRe[1], -gIm[1], gRe[1], gIm[1]);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 quarter = _mm_set1_ps(0.25f);
    const __m128 slope4 = _mm_set1_ps(slope);
    int k = 1;
    for (; k + 4 <= top; k += 4) {
        const __m128 lowRe = _mm_loadu_ps(gRe + k - 1), highRe = _mm_loadu_ps(gRe + k + 1);
        const __m128 lowIm = _mm_loadu_ps(gIm + k - 1), highIm = _mm_loadu_ps(gIm + k + 1);
        _mm_storeu_ps(hRe + k, _mm_add_ps(_mm_mul_ps(half, _mm_loadu_ps(gRe + k)),
                                          _mm_mul_ps(quarter, _mm_add_ps(lowRe, highRe))));
        _mm_storeu_ps(hIm + k, _mm_add_ps(_mm_mul_ps(half, _mm_loadu_ps(gIm + k)),
                                          _mm_mul_ps(quarter, _mm_add_ps(lowIm, highIm))));
        _mm_storeu_ps(dRe + k, _mm_mul_ps(slope4, _mm_sub_ps(highIm, lowIm)));
        _mm_storeu_ps(dIm + k,
                      _mm_mul_ps(_mm_sub_ps(_mm_setzero_ps(), slope4), _mm_sub_ps(highRe, lowRe)));
    }
    for (; k < top; ++k)
        binAt(k, gRe[k - 1], gIm[k - 1], gRe[k + 1], gIm[k + 1]);
    binAt(top, gRe[top - 1], gIm[top - 1], gRe[top - 1], -gIm[top - 1]);
}

// frequency[k] = k - binsPerRadian * phase slope, the slope taken from the derivative-window
// spectrum; bins too weak for a usable slope keep their own index.
void reassignedFrequencies(const float* re, const float* im, const float* magnitude,
                           const float* dRe, const float* dIm, float binsPerRadian,
                           float* frequency, int count) {
    const __m128 floor = _mm_set1_ps(kReassignFloor);
    const __m128 scale = _mm_set1_ps(binsPerRadian);
    const __m128 step = _mm_set1_ps(4.0f);
    __m128 index = _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
    int k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m128 m = _mm_loadu_ps(magnitude + k);
        const __m128 power = _mm_mul_ps(m, m);
        const __m128 cross = _mm_sub_ps(_mm_mul_ps(_mm_loadu_ps(dIm + k), _mm_loadu_ps(re + k)),
                                        _mm_mul_ps(_mm_loadu_ps(dRe + k), _mm_loadu_ps(im + k)));
        // Weak bins divide by 1 and the mask then zeroes their slope.
        const __m128 usable = _mm_cmpgt_ps(power, floor);
        const __m128 divisor =
            _mm_or_ps(_mm_and_ps(usable, power), _mm_andnot_ps(usable, _mm_set1_ps(1.0f)));
        const __m128 slope = _mm_and_ps(usable, _mm_div_ps(cross, divisor));
        _mm_storeu_ps(frequency + k, _mm_sub_ps(index, _mm_mul_ps(scale, slope)));
        index = _mm_add_ps(index, step);
    }
    for (; k < count; ++k) {
        const float power = magnitude[k] * magnitude[k];
        const float slope =
            power > kReassignFloor ? (dIm[k] * re[k] - dRe[k] * im[k]) / power : 0.0f;
        frequency[k] = static_cast<float>(k) - binsPerRadian * slope;
    }
}

} // namespace

void FrameAnalyzer::prepare(double sampleRate, int fftSize) {
    rate = sampleRate;
    n = fftSize;
    const int bins = numBins();
    const auto size = static_cast<std::size_t>(n);
    const auto binCount = static_cast<std::size_t>(bins);
    constexpr double twoPi = 2.0 * std::numbers::pi;

    transform = std::make_unique<RealFft>(n);

    window.assign(size, 0.0f);
    synthesis.assign(size, 0.0f);
    double windowPower = 0.0;
    for (int i = 0; i < n; ++i) {
        const double phase = twoPi * i / n;
        const auto index = static_cast<std::size_t>(i);
        window[index] = static_cast<float>(0.5 - 0.5 * std::cos(phase));
        windowPower += static_cast<double>(window[index]) * window[index];
    }
    // Analysis times synthesis window sums to 1 over the four frames overlapping each sample.
    const double synthesisScale = hopSize() / windowPower;
    for (std::size_t i = 0; i < size; ++i)
        synthesis[i] = static_cast<float>(synthesisScale * window[i]);

    weight.assign(binCount, 0.0f);
    display.assign(binCount, -1);
    thirdOctave.assign(binCount, 0);
    for (int k = 0; k < bins; ++k) {
        const double hz = std::max(k * sampleRate / n, 1.0);
        const double amplitude = aWeightingAmplitude(hz);
        const auto index = static_cast<std::size_t>(k);
        weight[index] = static_cast<float>(amplitude * amplitude * kAWeightingNormalisation);
        display[index] = displayBandFor(hz);
        thirdOctave[index] = thirdOctaveBandFor(hz);
    }

    frameBuffer.assign(size, 0.0f);
    plainRe.assign(binCount, 0.0f);
    plainIm.assign(binCount, 0.0f);
    derivativeRe.assign(binCount, 0.0f);
    derivativeIm.assign(binCount, 0.0f);
}

void FrameAnalyzer::windowAndRotate(const float* frame, const float* shape) {
    // The frame centre moves to index 0, so that phases refer to the middle of the frame.
    const int centre = n / 2;
    float* out = frameBuffer.data();
    multiply(frame, shape, out + centre, centre);
    multiply(frame + centre, shape + centre, out, n - centre);
}

void FrameAnalyzer::rotate(const float* frame) {
    const int centre = n / 2;
    float* out = frameBuffer.data();
    std::copy(frame, frame + centre, out + centre);
    std::copy(frame + centre, frame + n, out);
}

void FrameAnalyzer::analyse(const float* frame, FrameAnalysis& out, bool reassign) {
    if (!transform)
        return; // not prepared
    const int bins = numBins();
    float* re = out.re.data();
    float* im = out.im.data();

    if (reassign) {
        rotate(frame);
        transform->forward(frameBuffer.data(), plainRe.data(), plainIm.data());
        windowedSpectra(plainRe.data(), plainIm.data(), n, re, im, derivativeRe.data(),
                        derivativeIm.data());
    } else {
        windowAndRotate(frame, window.data());
        transform->forward(frameBuffer.data(), re, im);
    }
    out.energy =
        static_cast<float>(magnitudesAndEnergy(re, im, weight.data(), out.magnitude.data(), bins));

    if (!reassign)
        return;
    const float binsPerRadian = static_cast<float>(n) * kInverseTwoPi;
    reassignedFrequencies(re, im, out.magnitude.data(), derivativeRe.data(), derivativeIm.data(),
                          binsPerRadian, out.frequency.data(), bins);
}

} // namespace tav
