#include "support/TestSignals.h"

#include "dsp/FrameAnalyzer.h"

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

} // namespace tav::test
