#include "dsp/MorphEngine.h"

#include "dsp/DenormalGuard.h"
#include "dsp/FrameGeometry.h"

#include <algorithm>
#include <cmath>

namespace tav {

namespace {

constexpr double kBypassRampSeconds = 0.02;
constexpr float kPeakReleaseSeconds = 0.5f;

// The largest Output gain the parameter can ask for is +12 dB; a little headroom above it.
constexpr float kMaximumOutputGain = 4.0f;

float finiteOrZero(float x) {
    return std::isfinite(x) ? x : 0.0f;
}

float limitedOr(float value, float low, float high, float fallback) {
    return std::isfinite(value) ? std::clamp(value, low, high) : fallback;
}

} // namespace

void MorphEngine::prepare(double sampleRate, int channelCount, int maxBlock, int qualityIndex) {
    channels = std::max(1, channelCount);
    maxBlockSize = std::max(1, maxBlock);
    quality = qualityIndex == kQualityHigh ? kQualityHigh : kQualityStandard;

    const int frameSize = fftSizeFor(sampleRate, quality);
    stft.prepare(sampleRate, channels, frameSize);
    limiter.prepare(sampleRate, channels);
    dryLength = frameSize + limiter.lookahead() + 1;

    channelStates.assign(static_cast<std::size_t>(channels), ChannelState{});
    for (ChannelState& state : channelStates) {
        state.scratchA.assign(static_cast<std::size_t>(maxBlockSize), 0.0f);
        state.scratchB.assign(static_cast<std::size_t>(maxBlockSize), 0.0f);
        state.scratchWet.assign(static_cast<std::size_t>(maxBlockSize), 0.0f);
        state.dryDelay.assign(static_cast<std::size_t>(dryLength), 0.0f);
    }
    pointersA.resize(static_cast<std::size_t>(channels));
    pointersB.resize(static_cast<std::size_t>(channels));
    pointersWet.resize(static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        pointersA[c] = channelStates[c].scratchA.data();
        pointersB[c] = channelStates[c].scratchB.data();
        pointersWet[c] = channelStates[c].scratchWet.data();
    }

    bypassStep = 1.0f / static_cast<float>(std::max(sampleRate * kBypassRampSeconds, 1.0));
    peakDecay = std::exp(-1.0f / (static_cast<float>(sampleRate) * kPeakReleaseSeconds));
    reset();
}

void MorphEngine::reset() {
    if (channelStates.empty())
        return;
    stft.reset();
    limiter.reset();
    for (ChannelState& state : channelStates)
        std::fill(state.dryDelay.begin(), state.dryDelay.end(), 0.0f);
    dryIndex = 0;
    inputPeak = 0.0f;
}

void MorphEngine::process(const float* const* inA, const float* const* inB, float* const* out,
                          int numSamples, const EngineParams& params) {
    if (channelStates.empty() || numSamples <= 0 || inA == nullptr || out == nullptr)
        return;
    DenormalGuard flushDenormals;
    // A broken automation value holds the last good one instead of reaching the signal.
    EngineParams safe = params;
    safe.morph = limitedOr(params.morph, 0.0f, 1.0f, 0.0f);
    safe.mix = limitedOr(params.mix, 0.0f, 1.0f, previousMix);
    safe.outputGain = limitedOr(params.outputGain, 0.0f, kMaximumOutputGain, previousGain);
    for (int offset = 0; offset < numSamples; offset += maxBlockSize) {
        const int count = std::min(maxBlockSize, numSamples - offset);
        processChunk(inA, inB, out, offset, count, safe);
    }
}

void MorphEngine::processChunk(const float* const* inA, const float* const* inB, float* const* out,
                               int offset, int count, const EngineParams& params) {
    // The whole chunk is copied before any output sample is written, so out may alias inA.
    cleanInputs(inA, inB, offset, count);
    followInputPeak(count);

    stft.requestAlgorithm(params.algorithm);
    stft.process(pointersA.data(), pointersB.data(), pointersWet.data(), count, params.morph);
    if (!wetIsFinite(count)) {
        stft.reset();
        silenceWet(count);
    }
    limiter.process(pointersWet.data(), count, inputPeak);

    mixIntoOutput(out, offset, count, params);
    previousMix = params.mix;
    previousGain = params.outputGain;
}

void MorphEngine::cleanInputs(const float* const* inA, const float* const* inB, int offset,
                              int count) {
    for (int c = 0; c < channels; ++c) {
        ChannelState& state = channelStates[c];
        const float* a = inA[c];
        if (a == nullptr)
            std::fill_n(state.scratchA.begin(), count, 0.0f);
        else
            for (int i = 0; i < count; ++i)
                state.scratchA[i] = finiteOrZero(a[offset + i]);
        const float* b = inB != nullptr ? inB[c] : nullptr;
        if (b == nullptr) {
            std::fill_n(state.scratchB.begin(), count, 0.0f);
            continue;
        }
        for (int i = 0; i < count; ++i)
            state.scratchB[i] = finiteOrZero(b[offset + i]);
    }
}

void MorphEngine::followInputPeak(int count) {
    for (int i = 0; i < count; ++i) {
        float loudest = 0.0f;
        for (const ChannelState& state : channelStates)
            loudest =
                std::max({loudest, std::fabs(state.scratchA[i]), std::fabs(state.scratchB[i])});
        inputPeak = std::max(inputPeak * peakDecay, loudest);
    }
}

bool MorphEngine::wetIsFinite(int count) const {
    for (const ChannelState& state : channelStates)
        for (int i = 0; i < count; ++i)
            if (!std::isfinite(state.scratchWet[i]))
                return false;
    return true;
}

void MorphEngine::silenceWet(int count) {
    for (ChannelState& state : channelStates)
        std::fill_n(state.scratchWet.begin(), count, 0.0f);
}

void MorphEngine::mixIntoOutput(float* const* out, int offset, int count,
                                const EngineParams& params) {
    const float bypassTarget = params.bypass ? 1.0f : 0.0f;
    const float mixTarget = params.mix;
    const float gainTarget = params.outputGain;
    int endIndex = dryIndex;
    float endBypass = bypassAmount;
    for (int c = 0; c < channels; ++c) {
        ChannelState& state = channelStates[c];
        float* dryRing = state.dryDelay.data();
        float* destination = out[c] != nullptr ? out[c] + offset : nullptr;
        int index = dryIndex;
        float bypass = bypassAmount;
        for (int i = 0; i < count; ++i) {
            const float t = static_cast<float>(i + 1) / static_cast<float>(count);
            const float mix = previousMix + t * (mixTarget - previousMix);
            const float gain = previousGain + t * (gainTarget - previousGain);
            bypass += std::clamp(bypassTarget - bypass, -bypassStep, bypassStep);
            dryRing[index] = state.scratchA[i];
            index = index + 1 == dryLength ? 0 : index + 1;
            const float dry = dryRing[index];
            // Written as weighted sums so that Mix 0, Mix 1 and a finished Bypass ramp
            // pass their source through bit for bit.
            const float y = (dry * (1.0f - mix) + state.scratchWet[i] * mix) * gain;
            if (destination != nullptr)
                destination[i] = y * (1.0f - bypass) + dry * bypass;
        }
        endIndex = index;
        endBypass = bypass;
    }
    dryIndex = endIndex;
    bypassAmount = endBypass;
}

bool MorphEngine::consumeMetersFresh() {
    return stft.consumeMetersFresh();
}

const MeterBlock& MorphEngine::meters() const {
    return stft.meters();
}

int MorphEngine::currentLatency() const {
    return stft.fftSize() + limiter.lookahead();
}

int MorphEngine::channelCount() const {
    return channels;
}

int MorphEngine::qualityMode() const {
    return quality;
}

} // namespace tav
