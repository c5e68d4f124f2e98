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
    derivative.assign(size, 0.0f);
    synthesis.assign(size, 0.0f);
    double windowPower = 0.0;
    for (int i = 0; i < n; ++i) {
        const double phase = twoPi * i / n;
        const auto index = static_cast<std::size_t>(i);
        window[index] = static_cast<float>(0.5 - 0.5 * std::cos(phase));
        derivative[index] = static_cast<float>(std::sin(phase) * std::numbers::pi / n);
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

void FrameAnalyzer::analyse(const float* frame, FrameAnalysis& out, bool reassign) {
    if (!transform)
        return; // not prepared
    const int bins = numBins();
    float* re = out.re.data();
    float* im = out.im.data();

    windowAndRotate(frame, window.data());
    transform->forward(frameBuffer.data(), re, im);
    out.energy =
        static_cast<float>(magnitudesAndEnergy(re, im, weight.data(), out.magnitude.data(), bins));

    if (!reassign)
        return;

    windowAndRotate(frame, derivative.data());
    transform->forward(frameBuffer.data(), derivativeRe.data(), derivativeIm.data());
    const float binsPerRadian = static_cast<float>(n) * kInverseTwoPi;
    reassignedFrequencies(re, im, out.magnitude.data(), derivativeRe.data(), derivativeIm.data(),
                          binsPerRadian, out.frequency.data(), bins);
}

} // namespace tav
