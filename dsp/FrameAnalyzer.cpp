#include "dsp/FrameAnalyzer.h"

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
    return band >= 0.0 && band < kDisplayBandCount ? static_cast<int>(band) : -1;
}

int thirdOctaveBandFor(double hz) {
    const double band = std::trunc(3.0 * std::log2(std::max(hz, kOnsetLowHz) * 0.025));
    return std::min(static_cast<int>(band), kOnsetBandCount - 1);
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
    float* __restrict out = frameBuffer.data();
    for (int i = 0; i < centre; ++i)
        out[i + centre] = frame[i] * shape[i];
    for (int i = centre; i < n; ++i)
        out[i - centre] = frame[i] * shape[i];
}

void FrameAnalyzer::analyse(const float* frame, FrameAnalysis& out, bool reassign) {
    if (!transform)
        return; // not prepared
    const int bins = numBins();
    float* __restrict re = out.re.data();
    float* __restrict im = out.im.data();
    float* __restrict magnitude = out.magnitude.data();
    const float* __restrict binWeights = weight.data();

    windowAndRotate(frame, window.data());
    transform->forward(frameBuffer.data(), re, im);

    double energy = 0.0;
    for (int k = 0; k < bins; ++k) {
        const float power = re[k] * re[k] + im[k] * im[k];
        magnitude[k] = std::sqrt(power);
        energy += static_cast<double>(binWeights[k]) * power;
    }
    out.energy = static_cast<float>(energy);

    if (!reassign)
        return;

    windowAndRotate(frame, derivative.data());
    transform->forward(frameBuffer.data(), derivativeRe.data(), derivativeIm.data());

    const float* __restrict dRe = derivativeRe.data();
    const float* __restrict dIm = derivativeIm.data();
    float* __restrict frequency = out.frequency.data();
    const float binsPerRadian = static_cast<float>(n) * kInverseTwoPi;
    for (int k = 0; k < bins; ++k) {
        const float power = magnitude[k] * magnitude[k];
        const float slope =
            power > kReassignFloor ? (dIm[k] * re[k] - dRe[k] * im[k]) / power : 0.0f;
        frequency[k] = static_cast<float>(k) - binsPerRadian * slope;
    }
}

} // namespace tav
