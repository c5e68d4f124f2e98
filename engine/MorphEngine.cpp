#include "engine/MorphEngine.h"

#include "dsp/DenormalGuard.h"
#include "dsp/FrameGeometry.h"
#include "dsp/RingCopy.h"
#include "dsp/VectorMath.h"

#include <emmintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace tav {

namespace {

constexpr double kBypassRampSeconds = 0.02;
constexpr float kPeakReleaseSeconds = 0.5f;

// The largest Output gain the parameter can ask for is +12 dB; a little headroom above it.
constexpr float kMaximumOutputGain = 4.0f;
// Finite input beyond this is clamped to it: near the float limit the dry path's gain and the
// mix's sums would overflow to infinity. No real signal comes near it.
constexpr float kLargestInput = 1e30f;

// All-ones in the lanes whose value is finite: |x| <= FLT_MAX fails for inf and NaN.
__m128 finiteLanes(__m128 x) {
    return _mm_cmple_ps(vecmath::absolute(x), _mm_set1_ps(FLT_MAX));
}

// out[i] = in[i] where finite (clamped to +-kLargestInput), 0 elsewhere.
void copyFinite(const float* in, float* out, int count) {
    const __m128 largest = _mm_set1_ps(kLargestInput);
    const __m128 smallest = _mm_set1_ps(-kLargestInput);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 x = _mm_loadu_ps(in + i);
        const __m128 finite = _mm_and_ps(x, finiteLanes(x));
        _mm_storeu_ps(out + i, _mm_max_ps(_mm_min_ps(finite, largest), smallest));
    }
    for (; i < count; ++i)
        out[i] = std::isfinite(in[i]) ? std::clamp(in[i], -kLargestInput, kLargestInput) : 0.0f;
}

bool allFinite(const float* x, int count) {
    __m128 finite = _mm_castsi128_ps(_mm_set1_epi32(-1));
    int i = 0;
    for (; i + 4 <= count; i += 4)
        finite = _mm_and_ps(finite, finiteLanes(_mm_loadu_ps(x + i)));
    if (_mm_movemask_ps(finite) != 0xf)
        return false;
    for (; i < count; ++i)
        if (!std::isfinite(x[i]))
            return false;
    return true;
}

// The largest of max(|a[i]|, |b[i]|) * weight[i], four lanes at a time.
__m128 raiseToWeightedMagnitudes(__m128 largest, const float* a, const float* b,
                                 const float* weight, int count) {
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 louder = _mm_max_ps(vecmath::absolute(_mm_loadu_ps(a + i)),
                                         vecmath::absolute(_mm_loadu_ps(b + i)));
        largest = _mm_max_ps(largest, _mm_mul_ps(louder, _mm_loadu_ps(weight + i)));
    }
    for (; i < count; ++i) {
        const float louder = std::max(std::fabs(a[i]), std::fabs(b[i])) * weight[i];
        largest = _mm_max_ps(largest, _mm_set1_ps(louder));
    }
    return largest;
}

// ramp[i] = from + t * (to - from) with t = (i + 1) / count: the value reaches `to` exactly
// at the chunk's last sample.
void fillLinearRamp(float* ramp, float from, float to, int count) {
    const __m128 start = _mm_set1_ps(from);
    if (from == to) {
        // What the formula gives, without a division per lane.
        int i = 0;
        for (; i + 4 <= count; i += 4)
            _mm_storeu_ps(ramp + i, start);
        std::fill(ramp + i, ramp + count, from);
        return;
    }
    const __m128 span = _mm_set1_ps(to - from);
    const __m128 length = _mm_set1_ps(static_cast<float>(count));
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 position = _mm_cvtepi32_ps(_mm_setr_epi32(i + 1, i + 2, i + 3, i + 4));
        const __m128 t = _mm_div_ps(position, length);
        _mm_storeu_ps(ramp + i, _mm_add_ps(start, _mm_mul_ps(t, span)));
    }
    for (; i < count; ++i) {
        const float t = static_cast<float>(i + 1) / static_cast<float>(count);
        ramp[i] = from + t * (to - from);
    }
}

float limitedOr(float value, float low, float high, float fallback) {
    return std::isfinite(value) ? std::clamp(value, low, high) : fallback;
}

} // namespace

void MorphEngine::prepare(double sampleRate, int channelCount, int maxBlock, int qualityIndex) {
    channels = std::max(1, channelCount);
    maxBlockSize = std::max(1, maxBlock);
    quality = qualityIndex == kQualityHigh ? kQualityHigh : kQualityStandard;
    rate = sampleRate;

    const int frameSize = fftSizeFor(sampleRate, quality);
    stft.prepare(sampleRate, channels, frameSize);
    limiter.prepare(sampleRate, channels);
    guard.prepare(sampleRate, channels, frameSize, maxBlockSize);
    shaper.prepare(sampleRate, channels, frameSize);
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
    for (std::vector<float>* perSample :
         {&mixRamp, &gainRamp, &bypassRamp, &wetShare, &ceilings, &drySamples, &sideChannel})
        perSample->assign(static_cast<std::size_t>(maxBlockSize), 0.0f);
    for (int c = 0; c < channels; ++c) {
        pointersA[c] = channelStates[c].scratchA.data();
        pointersB[c] = channelStates[c].scratchB.data();
        pointersWet[c] = channelStates[c].scratchWet.data();
    }

    bypassStep = 1.0f / static_cast<float>(std::max(sampleRate * kBypassRampSeconds, 1.0));
    const double peakDecay = std::exp(-1.0 / (sampleRate * kPeakReleaseSeconds));
    decayPowers.resize(static_cast<std::size_t>(maxBlockSize) + 1);
    for (int j = 0; j <= maxBlockSize; ++j)
        decayPowers[static_cast<std::size_t>(j)] =
            static_cast<float>(std::pow(peakDecay, maxBlockSize - j));
    reset();
}

void MorphEngine::reset() {
    if (channelStates.empty())
        return;
    stft.reset();
    shaper.reset();
    guard.reset();
    limiter.reset();
    for (ChannelState& state : channelStates)
        std::fill(state.dryDelay.begin(), state.dryDelay.end(), 0.0f);
    dryIndex = 0;
    inputPeak = 0.0f;
    freshStart = true;
}

void MorphEngine::process(const float* const* inA, const float* const* inB, float* const* out,
                          int numSamples, const EngineParams& params) {
    process(inA, inB, channels, out, numSamples, params);
}

void MorphEngine::process(const float* const* inA, const float* const* inB, int sideChannels,
                          float* const* out, int numSamples, const EngineParams& params) {
    if (channelStates.empty() || numSamples <= 0 || inA == nullptr || out == nullptr)
        return;
    DenormalGuard flushDenormals;
    // A broken automation value holds the last good one instead of reaching the signal.
    EngineParams safe = params;
    safe.morph = limitedOr(params.morph, 0.0f, 1.0f, 0.0f);
    safe.mix = limitedOr(params.mix, 0.0f, 1.0f, previousMix);
    safe.outputGain = limitedOr(params.outputGain, 0.0f, kMaximumOutputGain, previousGain);
    if (freshStart)
        startAt(safe);
    for (int offset = 0; offset < numSamples; offset += maxBlockSize) {
        const int count = std::min(maxBlockSize, numSamples - offset);
        processChunk(inA, inB, sideChannels, out, offset, count, safe);
    }
}

// A host that sets its parameters and then starts must hear them from the first sample: a
// glide from the values before the reset would make the first render of an unchanged project
// differ from the second.
void MorphEngine::startAt(const EngineParams& params) {
    freshStart = false;
    previousMix = params.mix;
    previousGain = params.outputGain;
    bypassAmount = params.bypass ? 1.0f : 0.0f;
    stft.startAt(params.morph, params.algorithm);
    shaper.startAt(params.morph);
}

void MorphEngine::processChunk(const float* const* inA, const float* const* inB, int sideChannels,
                               float* const* out, int offset, int count,
                               const EngineParams& params) {
    // The whole chunk is copied before any output sample is written, so out may alias inA.
    cleanInputs(inA, inB, sideChannels, offset, count);
    followInputPeak(count);
    guard.takeInputs(pointersA.data(), pointersB.data(), count);

    stft.requestAlgorithm(params.algorithm);
    stft.process(pointersA.data(), pointersB.data(), pointersWet.data(), count, params.morph,
                 wetShare.data());
    // The shaper sees the inputs undelayed, N samples ahead of the wet signal they made.
    if (wetShaping)
        shaper.process(pointersA.data(), pointersB.data(), pointersWet.data(), wetShare.data(),
                       count, params.morph);
    if (!wetIsFinite(count)) {
        stft.reset();
        shaper.reset();
        silenceWet(count);
    }
    // The wet signal never peaks far over the inputs around it, nor over full scale unless
    // the inputs do.
    guard.ceilings(count, std::max(inputPeak, 1.0f), ceilings.data());
    limiter.process(pointersWet.data(), count, ceilings.data());

    mixIntoOutput(out, offset, count, params);
    previousMix = params.mix;
    previousGain = params.outputGain;
}

void MorphEngine::cleanInputs(const float* const* inA, const float* const* inB, int sideChannels,
                              int offset, int count) {
    for (int c = 0; c < channels; ++c) {
        ChannelState& state = channelStates[c];
        const float* a = inA[c];
        if (a == nullptr)
            std::fill_n(state.scratchA.begin(), count, 0.0f);
        else
            copyFinite(a + offset, state.scratchA.data(), count);
        cleanSideInput(inB, sideChannels, c, offset, count);
    }
}

void MorphEngine::cleanSideInput(const float* const* inB, int sideChannels, int channel, int offset,
                                 int count) {
    float* scratch = channelStates[channel].scratchB.data();
    if (inB == nullptr || sideChannels <= 0) {
        std::fill_n(scratch, count, 0.0f);
        return;
    }
    const auto copyOrSilence = [&](const float* b, float* to) {
        if (b == nullptr)
            std::fill_n(to, count, 0.0f);
        else
            copyFinite(b + offset, to, count);
    };
    if (channels > 1 || sideChannels == 1) {
        copyOrSilence(inB[std::min(channel, sideChannels - 1)], scratch);
        return;
    }
    // A mono engine under a wider B: the mean of B's channels, each cleaned first.
    copyOrSilence(inB[0], scratch);
    float* other = sideChannel.data();
    for (int s = 1; s < sideChannels; ++s) {
        copyOrSilence(inB[s], other);
        for (int i = 0; i < count; ++i)
            scratch[i] += other[i];
    }
    const float share = 1.0f / static_cast<float>(sideChannels);
    for (int i = 0; i < count; ++i)
        scratch[i] *= share;
}

void MorphEngine::followInputPeak(int count) {
    // The peak decays by a fixed factor per sample and jumps to any louder input, so at the
    // chunk's end it is the largest input magnitude times the decay since its sample: a
    // maximum over vector lanes instead of a chain of dependent steps.
    const float* decay = decayPowers.data() + (maxBlockSize - count); // decay[i] = d^(count - i)
    __m128 peak = _mm_set1_ps(inputPeak * decay[0]);
    for (const ChannelState& state : channelStates)
        peak = raiseToWeightedMagnitudes(peak, state.scratchA.data(), state.scratchB.data(),
                                         decay + 1, count);
    inputPeak = vecmath::largestLane(peak);
}

bool MorphEngine::wetIsFinite(int count) const {
    for (const ChannelState& state : channelStates)
        if (!allFinite(state.scratchWet.data(), count))
            return false;
    return true;
}

void MorphEngine::silenceWet(int count) {
    for (ChannelState& state : channelStates)
        std::fill_n(state.scratchWet.begin(), count, 0.0f);
}

void MorphEngine::mixIntoOutput(float* const* out, int offset, int count,
                                const EngineParams& params) {
    fillRamps(count, params);
    int endIndex = dryIndex;
    for (int c = 0; c < channels; ++c) {
        ChannelState& state = channelStates[c];
        endIndex = delayDry(state, dryIndex, count);
        if (out[c] != nullptr)
            mixChannel(state.scratchWet.data(), out[c] + offset, count);
    }
    dryIndex = endIndex;
    bypassAmount = bypassRamp[count - 1];
}

void MorphEngine::fillRamps(int count, const EngineParams& params) {
    // Mix and Output gain glide linearly across the chunk, the same for every channel.
    fillLinearRamp(mixRamp.data(), previousMix, params.mix, count);
    fillLinearRamp(gainRamp.data(), previousGain, params.outputGain, count);
    // Bypass moves at a fixed rate toward its target; once there it stays put exactly.
    const float bypassTarget = params.bypass ? 1.0f : 0.0f;
    float bypass = bypassAmount;
    if (bypass == bypassTarget) {
        std::fill_n(bypassRamp.begin(), count, bypass);
        return;
    }
    for (int i = 0; i < count; ++i) {
        bypass += std::clamp(bypassTarget - bypass, -bypassStep, bypassStep);
        bypassRamp[i] = bypass;
    }
}

int MorphEngine::delayDry(ChannelState& state, int index, int count) {
    return rings::delayBlock(state.dryDelay.data(), dryLength, index, state.scratchA.data(),
                             drySamples.data(), count);
}

void MorphEngine::mixChannel(const float* wet, float* destination, int count) const {
    // Written as weighted sums so that Mix 0, Mix 1 and a finished Bypass ramp pass their
    // source through bit for bit.
    const float* dry = drySamples.data();
    const __m128 one = _mm_set1_ps(1.0f);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 d = _mm_loadu_ps(dry + i);
        const __m128 mix = _mm_loadu_ps(mixRamp.data() + i);
        const __m128 bypass = _mm_loadu_ps(bypassRamp.data() + i);
        const __m128 blend =
            _mm_add_ps(_mm_mul_ps(d, _mm_sub_ps(one, mix)), _mm_mul_ps(_mm_loadu_ps(wet + i), mix));
        const __m128 y = _mm_mul_ps(blend, _mm_loadu_ps(gainRamp.data() + i));
        _mm_storeu_ps(destination + i,
                      _mm_add_ps(_mm_mul_ps(y, _mm_sub_ps(one, bypass)), _mm_mul_ps(d, bypass)));
    }
    for (; i < count; ++i) {
        const float y = (dry[i] * (1.0f - mixRamp[i]) + wet[i] * mixRamp[i]) * gainRamp[i];
        destination[i] = y * (1.0f - bypassRamp[i]) + dry[i] * bypassRamp[i];
    }
}

bool MorphEngine::consumeMetersFresh() {
    return stft.consumeMetersFresh();
}

const MeterBlock& MorphEngine::meters() const {
    return stft.meters();
}

int MorphEngine::currentLatency() const {
    return channelStates.empty() ? 0 : latencySamples(rate, quality);
}

int MorphEngine::channelCount() const {
    return channels;
}

int MorphEngine::qualityMode() const {
    return quality;
}

} // namespace tav
