// A render begins as in a host that was already running: the first real sample meets settled
// parameters, so the ends of the Morph range null against A and B from the very start.
#include "ToolRunner.h"

#include "tools/host/PluginModule.h"
#include "tools/host/Renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace tav::test {
namespace {

// Tones over noise: every bin carries energy, so no algorithm can pass by accident.
std::vector<float> broadband(double rate, int frames, double hz, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    std::vector<float> samples(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        samples[size_t(i)] =
            0.3f * static_cast<float>(std::sin(2.0 * M_PI * hz * i / rate)) + noise(random);
    return samples;
}

// Residual energy of out against ref over the whole length, in dB relative to ref.
double nullDb(const std::vector<float>& out, const std::vector<float>& ref) {
    double error = 0.0, energy = 0.0;
    for (size_t i = 0; i < ref.size(); ++i) {
        error += (double(out[i]) - ref[i]) * (double(out[i]) - ref[i]);
        energy += double(ref[i]) * ref[i];
    }
    return 10.0 * std::log10(error / energy + 1e-300);
}

TEST(RenderStart, MorphEndsNullFromTheFirstSampleAtEveryRate) {
    const host::PluginModule module(TAVIMO_BUNDLE);
    int algorithm = 0;
    for (double rate : {8000.0, 16000.0, 24000.0, 48000.0}) {
        const int frames = static_cast<int>(rate / 4);
        const auto a = bufferOf(rate, {broadband(rate, frames, 440.0, 1)});
        const auto b = bufferOf(rate, {broadband(rate, frames, 1234.0, 2)});
        for (double morph : {0.0, 1.0}) {
            host::RenderSettings settings;
            settings.morph = host::MorphRamp::constant(morph);
            settings.algorithm = algorithm;
            settings.blockSize = 1024; // several hops: the first block ramps over frames
            const auto result = host::Renderer::render(module, a, b, settings);
            const auto& expected = morph == 0.0 ? a : b;
            // The first hop alone, then the whole length.
            const std::vector<float> head(result.output.channels[0].begin(),
                                          result.output.channels[0].begin() + 256);
            const std::vector<float> expectedHead(expected.channels[0].begin(),
                                                  expected.channels[0].begin() + 256);
            EXPECT_LT(nullDb(head, expectedHead), -100.0) << rate << " Hz, Morph " << morph;
            EXPECT_LT(nullDb(result.output.channels[0], expected.channels[0]), -100.0)
                << rate << " Hz, Morph " << morph;
        }
        algorithm = (algorithm + 1) % 4;
    }
}

} // namespace
} // namespace tav::test
