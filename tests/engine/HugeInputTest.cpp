// Finite samples near the float limit must not overflow on their way through the output gain.
#include "dsp/FrameGeometry.h"
#include "engine/MorphEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace tav {
namespace {

TEST(HugeInput, NearTheFloatLimitStaysFiniteThroughTwelveDecibelsOfGain) {
    constexpr int kBlock = 512;
    MorphEngine engine;
    engine.prepare(48000.0, 1, kBlock, kQualityStandard);
    EngineParams params;
    params.morph = 0.5f;
    params.outputGain = 4.0f; // +12 dB
    std::vector<float> a(kBlock), b(kBlock), out(kBlock);
    const int blocks = 3 * engine.currentLatency() / kBlock;
    for (const float mix : {0.0f, 0.5f, 1.0f}) {
        params.mix = mix;
        for (int block = 0; block < blocks; ++block) {
            for (int i = 0; i < kBlock; ++i) {
                const float sign = (block * kBlock + i) % 3 == 0 ? -1.0f : 1.0f;
                a[i] = sign * std::numeric_limits<float>::max();
                b[i] = -a[i];
            }
            const float* inA[] = {a.data()};
            const float* inB[] = {b.data()};
            float* outs[] = {out.data()};
            engine.process(inA, inB, outs, kBlock, params);
            for (int i = 0; i < kBlock; ++i)
                ASSERT_TRUE(std::isfinite(out[i])) << "Mix " << mix << ", block " << block;
        }
    }
}

} // namespace
} // namespace tav
