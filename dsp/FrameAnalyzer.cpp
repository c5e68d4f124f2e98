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

// With reassignment one transform serves both windows. The periodic Hann window 0.5 - 0.5 cos
// and the derivative window (pi / N) sin each hold a single cosine or sine over the frame, so in
// the spectrum g of the plain rotated frame they are three-tap kernels; with the frame centre at
// index 0 every other bin changes sign, which turns Hann's -0.25 taps into +0.25:
//   hann[k] = 0.5 g[k] + 0.25 (g[k-1] + g[k+1])
//   derivative[k] = -j (pi / 2N) (g[k+1] - g[k-1])
// Beyond the ends the spectrum of a real frame mirrors as its conjugate. One pass over the bins
// then also takes the magnitudes, the energy and the reassigned frequencies
// k - binsPerRadian * phase slope, so that the square roots and divisions overlap the rest.
// The slope divides by the power itself, not by the squared magnitude, so that no division
// waits for a square root. Bins too weak for a usable slope keep their own index.
class ReassigningPass {
public:
    ReassigningPass(const float* gRe, const float* gIm, const float* weight, int fftSize,
                    FrameAnalysis& out)
        : gRe(gRe), gIm(gIm), weight(weight), re(out.re.data()), im(out.im.data()),
          magnitude(out.magnitude.data()), frequency(out.frequency.data()), top(fftSize / 2),
          slope(std::numbers::pi_v<float> / (2.0f * static_cast<float>(fftSize))),
          binsPerRadian(static_cast<float>(fftSize) * kInverseTwoPi) {}

    // Fills every bin; returns the A-weighted energy, summed in double.
    double run() const {
        double energy = binAt(0, gRe[1], -gIm[1], gRe[1], gIm[1]);
        int k = 1;
        __m128d low = _mm_setzero_pd();
        __m128d high = _mm_setzero_pd();
        for (; k + 4 <= top; k += 4)
            fourBins(k, low, high);
        energy += spans::laneTotal(_mm_add_pd(low, high));
        for (; k < top; ++k)
            energy += binAt(k, gRe[k - 1], gIm[k - 1], gRe[k + 1], gIm[k + 1]);
        return energy + binAt(top, gRe[top - 1], gIm[top - 1], gRe[top - 1], -gIm[top - 1]);
    }

private:
    double binAt(int k, float lowRe, float lowIm, float highRe, float highIm) const {
        const float hRe = 0.5f * gRe[k] + 0.25f * (lowRe + highRe);
        const float hIm = 0.5f * gIm[k] + 0.25f * (lowIm + highIm);
        const float dRe = slope * (highIm - lowIm);
        const float dIm = -slope * (highRe - lowRe);
        const float power = hRe * hRe + hIm * hIm;
        const float m = std::sqrt(power);
        re[k] = hRe;
        im[k] = hIm;
        magnitude[k] = m;
        const float phaseSlope = power > kReassignFloor ? (dIm * hRe - dRe * hIm) / power : 0.0f;
        frequency[k] = static_cast<float>(k) - binsPerRadian * phaseSlope;
        return static_cast<double>(weight[k]) * power;
    }

    // The same for bins k..k+3, all inside the spectrum; sqrtps rounds exactly as sqrtf does.
    void fourBins(int k, __m128d& energyLow, __m128d& energyHigh) const {
        const __m128 lowRe = _mm_loadu_ps(gRe + k - 1), highRe = _mm_loadu_ps(gRe + k + 1);
        const __m128 lowIm = _mm_loadu_ps(gIm + k - 1), highIm = _mm_loadu_ps(gIm + k + 1);
        const __m128 half = _mm_set1_ps(0.5f), quarter = _mm_set1_ps(0.25f);
        const __m128 hRe = _mm_add_ps(_mm_mul_ps(half, _mm_loadu_ps(gRe + k)),
                                      _mm_mul_ps(quarter, _mm_add_ps(lowRe, highRe)));
        const __m128 hIm = _mm_add_ps(_mm_mul_ps(half, _mm_loadu_ps(gIm + k)),
                                      _mm_mul_ps(quarter, _mm_add_ps(lowIm, highIm)));
        const __m128 dRe = _mm_mul_ps(_mm_set1_ps(slope), _mm_sub_ps(highIm, lowIm));
        const __m128 dIm = _mm_mul_ps(_mm_set1_ps(-slope), _mm_sub_ps(highRe, lowRe));
        const __m128 power = _mm_add_ps(_mm_mul_ps(hRe, hRe), _mm_mul_ps(hIm, hIm));
        const __m128 m = _mm_sqrt_ps(power);
        _mm_storeu_ps(re + k, hRe);
        _mm_storeu_ps(im + k, hIm);
        _mm_storeu_ps(magnitude + k, m);
        spans::accumulateWeighted(_mm_loadu_ps(weight + k), power, energyLow, energyHigh);

        const __m128 cross = _mm_sub_ps(_mm_mul_ps(dIm, hRe), _mm_mul_ps(dRe, hIm));
        // Weak bins divide by 1 and the mask then zeroes their slope.
        const __m128 usable = _mm_cmpgt_ps(power, _mm_set1_ps(kReassignFloor));
        const __m128 divisor =
            _mm_or_ps(_mm_and_ps(usable, power), _mm_andnot_ps(usable, _mm_set1_ps(1.0f)));
        const __m128 phaseSlope = _mm_and_ps(usable, _mm_div_ps(cross, divisor));
        const __m128 index =
            _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(k), _mm_setr_epi32(0, 1, 2, 3)));
        _mm_storeu_ps(frequency + k,
                      _mm_sub_ps(index, _mm_mul_ps(_mm_set1_ps(binsPerRadian), phaseSlope)));
    }

    const float *gRe, *gIm, *weight;
    float *re, *im, *magnitude, *frequency;
    int top;
    float slope, binsPerRadian;
};

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
        out.energy = static_cast<float>(
            ReassigningPass(plainRe.data(), plainIm.data(), weight.data(), n, out).run());
        return;
    }
    windowAndRotate(frame, window.data());
    transform->forward(frameBuffer.data(), re, im);
    out.energy =
        static_cast<float>(magnitudesAndEnergy(re, im, weight.data(), out.magnitude.data(), bins));
}

} // namespace tav
