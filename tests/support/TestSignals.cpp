#include "support/TestSignals.h"

#include "dsp/FrameAnalyzer.h"
#include "dsp/RealFft.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace tav::test {

std::vector<float> sine(double frequencyHz, double sampleRate, int length, float amplitude,
                        double phase) {
    std::vector<float> out(static_cast<std::size_t>(length));
    const double step = 2.0 * std::numbers::pi * frequencyHz / sampleRate;
    for (int n = 0; n < length; ++n)
        out[static_cast<std::size_t>(n)] =
            amplitude * static_cast<float>(std::sin(step * n + phase));
    return out;
}

std::vector<float> harmonicTone(double f0Hz, int count, double sampleRate, int length,
                                float amplitude) {
    std::vector<float> out(static_cast<std::size_t>(length), 0.0f);
    for (int h = 1; h <= count && h * f0Hz < 0.5 * sampleRate; ++h) {
        const auto partial = sine(h * f0Hz, sampleRate, length, amplitude / static_cast<float>(h));
        for (std::size_t n = 0; n < out.size(); ++n)
            out[n] += partial[n];
    }
    return out;
}

std::vector<float> noise(int length, float amplitude, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> uniform(-amplitude, amplitude);
    std::vector<float> out(static_cast<std::size_t>(length));
    for (auto& sample : out)
        sample = uniform(generator);
    return out;
}

std::vector<float> mix(const std::vector<float>& x, const std::vector<float>& y) {
    std::vector<float> out(std::max(x.size(), y.size()), 0.0f);
    for (std::size_t n = 0; n < x.size(); ++n)
        out[n] += x[n];
    for (std::size_t n = 0; n < y.size(); ++n)
        out[n] += y[n];
    return out;
}

double hzOfBin(double bin, double sampleRate, int fftSize) {
    return bin * sampleRate / fftSize;
}

double binOfHz(double hz, double sampleRate, int fftSize) {
    return hz * fftSize / sampleRate;
}

std::vector<FrameAnalysis> analyseFrames(const std::vector<float>& signal, double sampleRate,
                                         int fftSize, int hop, bool reassign) {
    FrameAnalyzer analyzer;
    analyzer.prepare(sampleRate, fftSize);
    std::vector<FrameAnalysis> frames;
    for (std::size_t start = 0; start + static_cast<std::size_t>(fftSize) <= signal.size();
         start += static_cast<std::size_t>(hop)) {
        FrameAnalysis frame;
        frame.resize(analyzer.numBins());
        analyzer.analyse(signal.data() + start, frame, reassign);
        frames.push_back(std::move(frame));
    }
    return frames;
}

FrameAnalysis analyseFrame(const std::vector<float>& signal, double sampleRate, int fftSize,
                           int start, bool reassign) {
    FrameAnalyzer analyzer;
    analyzer.prepare(sampleRate, fftSize);
    FrameAnalysis frame;
    frame.resize(analyzer.numBins());
    analyzer.analyse(signal.data() + start, frame, reassign);
    return frame;
}

FrameAnalysis silentFrame(int fftSize) {
    FrameAnalysis frame;
    frame.resize(fftSize / 2 + 1);
    return frame;
}

MorphContext contextFor(const FrameAnalysis& a, const FrameAnalysis& b, float morph, int fftSize,
                        double sampleRate) {
    MorphContext ctx;
    ctx.a = &a;
    ctx.b = &b;
    ctx.morph = morph;
    ctx.fftSize = fftSize;
    ctx.numBins = fftSize / 2 + 1;
    ctx.hopSize = fftSize / 4;
    ctx.sampleRate = sampleRate;
    return ctx;
}

float OutputFrame::magnitude(int bin) const {
    const auto k = static_cast<std::size_t>(bin);
    return std::hypot(re[k], im[k]);
}

float OutputFrame::phase(int bin) const {
    const auto k = static_cast<std::size_t>(bin);
    return std::atan2(im[k], re[k]);
}

int OutputFrame::peakBin() const {
    int best = 0;
    for (int k = 1; k < static_cast<int>(re.size()); ++k) {
        if (magnitude(k) > magnitude(best))
            best = k;
    }
    return best;
}

OutputFrame processFrame(Algorithm& algorithm, const FrameAnalysis& a, const FrameAnalysis& b,
                         float morph, int fftSize, double sampleRate) {
    const MorphContext ctx = contextFor(a, b, morph, fftSize, sampleRate);
    OutputFrame out;
    out.re.assign(static_cast<std::size_t>(ctx.numBins), 0.0f);
    out.im.assign(static_cast<std::size_t>(ctx.numBins), 0.0f);
    algorithm.process(ctx, out.re.data(), out.im.data());
    return out;
}

double relativeDeviation(const OutputFrame& out, const FrameAnalysis& x) {
    double peak = 0.0;
    double worst = 0.0;
    for (std::size_t k = 0; k < x.re.size(); ++k) {
        peak = std::max(peak, static_cast<double>(x.magnitude[k]));
        const double dRe = static_cast<double>(out.re[k]) - x.re[k];
        const double dIm = static_cast<double>(out.im[k]) - x.im[k];
        worst = std::max(worst, std::hypot(dRe, dIm));
    }
    return peak > 0.0 ? worst / peak : worst;
}

double angleDifference(double x, double y) {
    return std::remainder(x - y, 2.0 * std::numbers::pi);
}

double aWeightingPower(double hz) {
    const auto amplitude = [](double f) {
        const double f2 = f * f;
        return 12194.0 * 12194.0 * f2 * f2 /
               ((f2 + 20.6 * 20.6) * std::sqrt((f2 + 107.7 * 107.7) * (f2 + 737.9 * 737.9)) *
                (f2 + 12194.0 * 12194.0));
    };
    const double relative = amplitude(hz) / amplitude(1000.0);
    return relative * relative;
}

double aWeightedPower(const std::vector<float>& x, std::size_t from, std::size_t to,
                      double sampleRate) {
    constexpr int kSize = 4096;
    RealFft fft(kSize);
    std::vector<float> frame(kSize), re(kSize / 2 + 1), im(kSize / 2 + 1);
    double total = 0.0;
    int frames = 0;
    for (std::size_t start = from; start + kSize <= to; start += kSize / 2, ++frames) {
        double windowPower = 0.0;
        for (int i = 0; i < kSize; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / kSize);
            frame[i] = static_cast<float>(x[start + i] * w);
            windowPower += w * w;
        }
        fft.forward(frame.data(), re.data(), im.data());
        double sum = 0.0;
        for (int k = 1; k <= kSize / 2; ++k)
            sum += aWeightingPower(k * sampleRate / kSize) * (re[k] * re[k] + im[k] * im[k]) *
                   (k == kSize / 2 ? 1.0 : 2.0);
        total += sum / (windowPower * kSize);
    }
    return total / frames;
}

} // namespace tav::test
