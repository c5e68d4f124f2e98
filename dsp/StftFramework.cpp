#include "dsp/StftFramework.h"

#include "dsp/FrameGeometry.h"
#include "dsp/SpanSums.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace tav {

namespace {

// Hops per frame: a frame is silent once this many hops in a row held only zeros.
constexpr int kHopsPerFrame = 4;

void clearArray(std::vector<float>& values) {
    std::fill(values.begin(), values.end(), 0.0f);
}

// out[i] = prior[i] + t[i] * w[i] for i in [0, count). out may be prior shifted down by any
// distance: each step loads before it stores.
void addProduct(const float* prior, const float* t, const float* w, float* out, int count) {
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 product = _mm_mul_ps(_mm_loadu_ps(t + i), _mm_loadu_ps(w + i));
        _mm_storeu_ps(out + i, _mm_add_ps(_mm_loadu_ps(prior + i), product));
    }
    for (; i < count; ++i)
        out[i] = prior[i] + t[i] * w[i];
}

// out[i] = 0 + t[i] * w[i]: the sum a freshly cleared accumulator would hold.
void startProduct(const float* t, const float* w, float* out, int count) {
    const __m128 zero = _mm_setzero_ps();
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 product = _mm_mul_ps(_mm_loadu_ps(t + i), _mm_loadu_ps(w + i));
        _mm_storeu_ps(out + i, _mm_add_ps(zero, product));
    }
    for (; i < count; ++i)
        out[i] = 0.0f + t[i] * w[i];
}

} // namespace

void StftFramework::prepare(double sampleRate, int channels, int fftSize) {
    rate = sampleRate;
    frameSize = fftSize > 0 ? fftSize : fftSizeForRate(sampleRate);
    hop = frameSize / 4;
    bins = frameSize / 2 + 1;
    const auto frameLength = static_cast<std::size_t>(frameSize);

    frameAnalyzer.prepare(sampleRate, frameSize);
    timeBuffer.assign(frameLength, 0.0f);
    channelStates.clear();
    channelStates.resize(static_cast<std::size_t>(std::max(1, channels)));
    for (StftChannelFrames& channel : channelStates) {
        channel.fifoA.assign(frameLength, 0.0f);
        channel.fifoB.assign(frameLength, 0.0f);
        channel.outputAccumulator.assign(frameLength, 0.0f);
        channel.analysisA.resize(bins);
        channel.analysisB.resize(bins);
    }
    reset();
}

void StftFramework::reset() {
    hopPosition = 0;
    frameWeights.fill(0.0f);
    weightFrom = weightTo = 0.0f;
    hopSilent = true;
    silentHops = 0;
    idle = false;
    for (StftChannelFrames& channel : channelStates) {
        clearArray(channel.fifoA);
        clearArray(channel.fifoB);
        clearArray(channel.outputAccumulator);
    }
}

void StftFramework::process(const float* const* inA, const float* const* inB, float* const* out,
                            int numSamples, FrameStep& step, float* weights) {
    if (channelStates.empty())
        return;
    int done = 0;
    while (done < numSamples) {
        // Samples run in stretches that end at the next frame boundary or the block's end.
        const int count = std::min(hop - hopPosition, numSamples - done);
        copyRun(inA, inB, out, done, count);
        if (weights != nullptr)
            fillWeights(weights + done, count);
        done += count;
        hopPosition += count;
        if (hopPosition == hop) {
            hopPosition = 0;
            silentHops = hopSilent ? std::min(silentHops + 1, kHopsPerFrame) : 0;
            hopSilent = true;
            runFrame(step, done);
        }
    }
}

void StftFramework::copyRun(const float* const* inA, const float* const* inB, float* const* out,
                            int offset, int count) {
    const int fifoOffset = frameSize - hop + hopPosition;
    const auto bytes = static_cast<std::size_t>(count) * sizeof(float);
    for (int c = 0; c < channelCount(); ++c) {
        StftChannelFrames& channel = channelStates[static_cast<std::size_t>(c)];
        const float* a = inA != nullptr ? inA[c] : nullptr;
        const float* b = inB != nullptr ? inB[c] : nullptr;
        float* fifoA = channel.fifoA.data() + fifoOffset;
        float* fifoB = channel.fifoB.data() + fifoOffset;
        if (a != nullptr)
            std::memcpy(fifoA, a + offset, bytes);
        else
            std::memset(fifoA, 0, bytes);
        if (b != nullptr)
            std::memcpy(fifoB, b + offset, bytes);
        else
            std::memset(fifoB, 0, bytes);
        hopSilent = hopSilent && spans::allZero(fifoA, count) && spans::allZero(fifoB, count);
        std::memcpy(out[c] + offset, channel.outputAccumulator.data() + hopPosition, bytes);
    }
}

void StftFramework::fillWeights(float* weights, int count) const {
    if (weightFrom == weightTo) {
        std::fill_n(weights, count, weightTo);
        return;
    }
    // A new frame enters with a synthesis window of 0 at the hop's first sample and the oldest
    // one leaves with a window near 0 at its last, so the weight moves between them linearly.
    const float slope = (weightTo - weightFrom) / static_cast<float>(hop);
    for (int i = 0; i < count; ++i)
        weights[i] = weightFrom + slope * static_cast<float>(hopPosition + i);
}

void StftFramework::followWeight(float weight) {
    frameWeights = {weight, frameWeights[0], frameWeights[1]};
    weightFrom = weightTo;
    // The three newest frames sound at the end of this hop and through the next one.
    weightTo = std::max({frameWeights[0], frameWeights[1], frameWeights[2]});
}

void StftFramework::runFrame(FrameStep& step, int samplesDone) {
    const FramePlan plan = step.beginFrame(samplesDone);
    followWeight(plan.weight);
    if (silentHops == kHopsPerFrame) {
        // The analysis of a zero frame is the same every time: made once, on entering.
        if (!idle) {
            idle = true;
            analyseAllChannels(plan.reassign);
        }
        step.processSilentFrame(*this);
        for (StftChannelFrames& channel : channelStates)
            shiftOutputByAHop(channel);
        return;
    }
    const bool afterSilence = idle;
    idle = false;
    analyseAllChannels(plan.reassign);
    step.processFrame(*this, afterSilence);
    for (StftChannelFrames& channel : channelStates)
        advanceInputs(channel);
}

void StftFramework::analyseAllChannels(bool reassign) {
    for (StftChannelFrames& channel : channelStates) {
        frameAnalyzer.analyse(channel.fifoA.data(), channel.analysisA, reassign);
        frameAnalyzer.analyse(channel.fifoB.data(), channel.analysisB, reassign);
    }
}

void StftFramework::resynthesise(int channelIndex, const float* re, const float* im) {
    frameAnalyzer.fft().inverse(re, im, timeBuffer.data());
    // One pass shifts the accumulator down by a hop, adds the windowed frame and starts the
    // newest hop afresh. The frame is rotated back so that its centre sits mid-window.
    float* accumulator =
        channelStates[static_cast<std::size_t>(channelIndex)].outputAccumulator.data();
    const float* window = frameAnalyzer.synthesisWindow();
    const float* time = timeBuffer.data();
    const int centre = frameSize / 2;
    const int keep = frameSize - hop;
    addProduct(accumulator + hop, time + centre, window, accumulator, centre);
    addProduct(accumulator + centre + hop, time, window + centre, accumulator + centre,
               keep - centre);
    startProduct(time + keep - centre, window + keep, accumulator + keep, hop);
}

void StftFramework::shiftOutputByAHop(StftChannelFrames& channel) {
    float* accumulator = channel.outputAccumulator.data();
    const int keep = frameSize - hop;
    std::memmove(accumulator, accumulator + hop, static_cast<std::size_t>(keep) * sizeof(float));
    std::fill_n(accumulator + keep, hop, 0.0f);
}

void StftFramework::advanceInputs(StftChannelFrames& channel) {
    const auto keep = static_cast<std::size_t>(frameSize - hop) * sizeof(float);
    std::memmove(channel.fifoA.data(), channel.fifoA.data() + hop, keep);
    std::memmove(channel.fifoB.data(), channel.fifoB.data() + hop, keep);
}

} // namespace tav
