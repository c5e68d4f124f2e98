#include "engine/StftEngine.h"

#include "dsp/FrameGeometry.h"
#include "dsp/SpanSums.h"
#include "engine/LoudnessLaw.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tav {

namespace {

// Loudness gain limits: -24 dB .. +24 dB.
constexpr float kMinimumLoudnessGain = 0.06309148f;
constexpr float kMaximumLoudnessGain = 15.85f;
// Below these the target or the output counts as silent and the frame is muted.
constexpr double kSilentTarget = 1e-15;
constexpr double kSilentOutput = 1e-30;
// Without an onset a rising gain moves halfway to its new value per frame.
constexpr float kGainSmoothing = 0.5f;
// Near either end of the Morph range the output blends toward the analysed input.
constexpr float kEdgeWidth = 0.03f;
constexpr float kEdgeSlope = 33.333336f;
constexpr float kCrossfadeStep = 0.16666667f;

// 1 - the edge blend weight of a frame at this Morph: 0 at exactly 0 or 1, 1 in between.
float unblendedShare(float morph) {
    float weight = 0.0f;
    if (morph < kEdgeWidth)
        weight = 1.0f - morph * kEdgeSlope;
    else if (morph > 1.0f - kEdgeWidth)
        weight = 1.0f - (1.0f - morph) * kEdgeSlope;
    return std::clamp(1.0f - weight, 0.0f, 1.0f);
}

void clearArray(std::vector<float>& values) {
    std::fill(values.begin(), values.end(), 0.0f);
}

// x[i] *= gain for i in [0, count).
void scale(float* x, float gain, int count) {
    const __m128 g = _mm_set1_ps(gain);
    int i = 0;
    for (; i + 4 <= count; i += 4)
        _mm_storeu_ps(x + i, _mm_mul_ps(_mm_loadu_ps(x + i), g));
    for (; i < count; ++i)
        x[i] *= gain;
}

// x[i] = gain * x[i], then moved toward source[i] by weight.
void scaleAndBlend(float* x, const float* source, float gain, float weight, int count) {
    const __m128 g = _mm_set1_ps(gain);
    const __m128 w = _mm_set1_ps(weight);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 scaled = _mm_mul_ps(g, _mm_loadu_ps(x + i));
        const __m128 toward = _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(source + i), scaled), w);
        _mm_storeu_ps(x + i, _mm_add_ps(scaled, toward));
    }
    for (; i < count; ++i) {
        const float scaled = gain * x[i];
        x[i] = scaled + (source[i] - scaled) * weight;
    }
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

// Hops per frame: a frame is silent once this many hops in a row held only zeros.
constexpr int kHopsPerFrame = 4;

} // namespace

void StftEngine::prepare(double sampleRate, int channels, int fftSize) {
    rate = sampleRate;
    frameSize = fftSize > 0 ? fftSize : fftSizeForRate(sampleRate);
    hop = frameSize / 4;
    bins = frameSize / 2 + 1;
    slowEnergyStep = 1.0 - std::exp(-hop / (loudness::kSlowAverageSeconds * sampleRate));
    const auto frameLength = static_cast<std::size_t>(frameSize);
    const auto binCount = static_cast<std::size_t>(bins);
    const int channelTotal = std::max(1, channels);

    analyzer.prepare(sampleRate, frameSize);
    timeBuffer.assign(frameLength, 0.0f);
    outRe.assign(binCount, 0.0f);
    outIm.assign(binCount, 0.0f);
    fadeRe.assign(binCount, 0.0f);
    fadeIm.assign(binCount, 0.0f);

    channelStates.clear();
    channelStates.resize(static_cast<std::size_t>(channelTotal));
    for (StftChannel& channel : channelStates) {
        channel.fifoA.assign(frameLength, 0.0f);
        channel.fifoB.assign(frameLength, 0.0f);
        channel.outputAccumulator.assign(frameLength, 0.0f);
        channel.analysisA.resize(bins);
        channel.analysisB.resize(bins);
        for (int index = 0; index < kAlgorithmCount; ++index) {
            channel.algorithms[index] = createAlgorithm(index);
            channel.algorithms[index]->prepare(frameSize, hop, sampleRate);
        }
    }

    analysesA.resize(static_cast<std::size_t>(channelTotal));
    analysesB.resize(static_cast<std::size_t>(channelTotal));
    for (int c = 0; c < channelTotal; ++c) {
        analysesA[c] = &channelStates[c].analysisA;
        analysesB[c] = &channelStates[c].analysisB;
    }
    meterBlock.prepare(channelTotal, frameSize, analyzer.displayBand());
    reset();
}

void StftEngine::reset() {
    hopPosition = 0;
    crossfadeFrames = 0;
    currentAlgorithm = previousAlgorithm = requestedAlgorithm;
    meterBlock.reset();
    frameShares.fill(0.0f);
    shareFrom = shareTo = 0.0f;
    hopSilent = true;
    silentHops = 0;
    idle = false;
    for (StftChannel& channel : channelStates) {
        clearArray(channel.fifoA);
        clearArray(channel.fifoB);
        clearArray(channel.outputAccumulator);
        channel.onsetA.reset();
        channel.onsetB.reset();
        channel.outputGain = 1.0f;
        channel.level.reset();
        for (auto& algorithm : channel.algorithms)
            algorithm->reset();
    }
}

void StftEngine::requestAlgorithm(int index) {
    requestedAlgorithm = std::clamp(index, 0, kAlgorithmCount - 1);
}

int StftEngine::latencySamples(double sampleRate, int quality) {
    return tav::latencySamples(sampleRate, quality);
}

void StftEngine::replaceAlgorithm(int channel, int index, std::unique_ptr<Algorithm> algorithm) {
    algorithm->prepare(frameSize, hop, rate);
    channelStates[channel].algorithms[index] = std::move(algorithm);
}

void StftEngine::process(const float* const* inA, const float* const* inB, float* const* out,
                         int numSamples, float morph, float* wetShare) {
    if (channelStates.empty())
        return;
    const float target = std::clamp(morph, 0.0f, 1.0f);
    const float step = (target - previousMorph) / static_cast<float>(std::max(numSamples, 1));
    int done = 0;
    while (done < numSamples) {
        // Samples run in stretches that end at the next frame boundary or the block's end.
        const int count = std::min(hop - hopPosition, numSamples - done);
        copyBlockRun(inA, inB, out, done, count);
        if (wetShare != nullptr)
            fillWetShare(wetShare + done, count);
        done += count;
        hopPosition += count;
        if (hopPosition == hop) {
            hopPosition = 0;
            silentHops = hopSilent ? std::min(silentHops + 1, kHopsPerFrame) : 0;
            hopSilent = true;
            processFrame(previousMorph + step * static_cast<float>(done));
        }
    }
    previousMorph = target;
}

void StftEngine::copyBlockRun(const float* const* inA, const float* const* inB, float* const* out,
                              int offset, int count) {
    const int fifoOffset = frameSize - hop + hopPosition;
    const auto bytes = static_cast<std::size_t>(count) * sizeof(float);
    for (int c = 0; c < channelCount(); ++c) {
        StftChannel& channel = channelStates[c];
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

void StftEngine::fillWetShare(float* wetShare, int count) const {
    if (shareFrom == shareTo) {
        std::fill_n(wetShare, count, shareTo);
        return;
    }
    // A new frame enters with a synthesis window of 0 at the hop's first sample and the oldest
    // one leaves with a window near 0 at its last, so the share moves between them linearly.
    const float slope = (shareTo - shareFrom) / static_cast<float>(hop);
    for (int i = 0; i < count; ++i)
        wetShare[i] = shareFrom + slope * static_cast<float>(hopPosition + i);
}

void StftEngine::recordFrameShare(float morph) {
    frameShares = {unblendedShare(morph), frameShares[0], frameShares[1]};
    shareFrom = shareTo;
    // The three newest frames sound at the end of this hop and through the next one.
    shareTo = std::max({frameShares[0], frameShares[1], frameShares[2]});
}

void StftEngine::processFrame(float morph) {
    switchAlgorithmIfRequested();
    recordFrameShare(morph);
    if (silentHops == kHopsPerFrame) {
        processSilentFrame();
        return;
    }
    if (idle)
        resumeAfterSilence();

    bool onsetA = false;
    bool onsetB = false;
    analyseAllChannels(reassignmentWanted(), onsetA, onsetB);

    const float fade =
        crossfadeFrames > 0 ? 1.0f - static_cast<float>(crossfadeFrames) * kCrossfadeStep : 1.0f;
    for (StftChannel& channel : channelStates) {
        channel.analysisA.onset = onsetA;
        channel.analysisB.onset = onsetB;
        MorphContext context;
        context.a = &channel.analysisA;
        context.b = &channel.analysisB;
        context.morph = morph;
        context.fftSize = frameSize;
        context.numBins = bins;
        context.hopSize = hop;
        context.sampleRate = rate;
        buildOutputSpectrum(channel, context, fade);
        const double wetEnergy =
            spans::weightedPowerSum(analyzer.binWeight(), outRe.data(), outIm.data(), bins);
        const float gain = matchLoudness(channel, wetEnergy, morph, onsetA || onsetB);
        applyGainAndEdgeBlend(channel, gain, wetEnergy, morph);
        overlapAdd(channel);
        advanceInputs(channel);
    }
    if (crossfadeFrames > 0)
        --crossfadeFrames;
    meterBlock.update(analysesA.data(), analysesB.data());
}

// Both inputs were exactly zero over the whole frame: its analyses are all zeros, the loudness
// match would mute whatever an algorithm made of them, and the frame would add nothing to the
// overlap-add. So only what outlives the frame moves on: the onset memories, the meters, the
// crossfade's count and the output already on its way.
void StftEngine::processSilentFrame() {
    const bool entering = !idle;
    idle = true;
    const bool reassign = entering && reassignmentWanted();
    for (StftChannel& channel : channelStates) {
        // The analysis of a zero frame is the same every time: made once, on entering.
        if (entering) {
            analyzer.analyse(channel.fifoA.data(), channel.analysisA, reassign);
            analyzer.analyse(channel.fifoB.data(), channel.analysisB, reassign);
        }
        channel.analysisA.onset = channel.onsetA.detectSilence();
        channel.analysisB.onset = channel.onsetB.detectSilence();
        channel.outputGain = 0.0f;
        shiftOutputByAHop(channel);
    }
    if (crossfadeFrames > 0)
        --crossfadeFrames;
    meterBlock.updateSilent();
}

// The algorithms sat out the silence: they start again as freshly prepared. Nothing of their
// history can be heard across it, since every frame of the silence was muted, and the sound
// that ends it comes in as a new sound does after any silence (its first frame's loudness
// gain starts from the muted frame before it).
void StftEngine::resumeAfterSilence() {
    idle = false;
    for (StftChannel& channel : channelStates) {
        for (auto& algorithm : channel.algorithms)
            algorithm->reset();
    }
}

void StftEngine::shiftOutputByAHop(StftChannel& channel) {
    float* accumulator = channel.outputAccumulator.data();
    const int keep = frameSize - hop;
    std::memmove(accumulator, accumulator + hop, static_cast<std::size_t>(keep) * sizeof(float));
    std::fill_n(accumulator + keep, hop, 0.0f);
}

void StftEngine::switchAlgorithmIfRequested() {
    // A request that arrives during a crossfade waits until the crossfade has finished.
    if (requestedAlgorithm == currentAlgorithm || crossfadeFrames > 0)
        return;
    previousAlgorithm = currentAlgorithm;
    currentAlgorithm = requestedAlgorithm;
    crossfadeFrames = kCrossfadeFrames;
    for (StftChannel& channel : channelStates)
        channel.algorithms[currentAlgorithm]->reset();
}

bool StftEngine::reassignmentWanted() const {
    const StftChannel& first = channelStates.front();
    if (first.algorithms[currentAlgorithm]->needsReassignedFrequencies())
        return true;
    return crossfadeFrames > 0 && first.algorithms[previousAlgorithm]->needsReassignedFrequencies();
}

void StftEngine::analyseAllChannels(bool reassign, bool& onsetA, bool& onsetB) {
    const int* bandMap = analyzer.thirdOctaveBand();
    for (StftChannel& channel : channelStates) {
        analyzer.analyse(channel.fifoA.data(), channel.analysisA, reassign);
        analyzer.analyse(channel.fifoB.data(), channel.analysisB, reassign);
        // Both detectors run in every channel so that their memories stay current.
        const bool firedA = channel.onsetA.detect(channel.analysisA, bins, bandMap);
        const bool firedB = channel.onsetB.detect(channel.analysisB, bins, bandMap);
        onsetA = onsetA || firedA;
        onsetB = onsetB || firedB;
    }
}

void StftEngine::buildOutputSpectrum(StftChannel& channel, const MorphContext& context,
                                     float fade) {
    channel.algorithms[currentAlgorithm]->process(context, outRe.data(), outIm.data());
    if (crossfadeFrames == 0)
        return;
    channel.algorithms[previousAlgorithm]->process(context, fadeRe.data(), fadeIm.data());
    const float keep = 1.0f - fade;
    for (int k = 0; k < bins; ++k) {
        outRe[k] = fade * outRe[k] + keep * fadeRe[k];
        outIm[k] = fade * outIm[k] + keep * fadeIm[k];
    }
}

float StftEngine::matchLoudness(StftChannel& channel, double wetEnergy, float morph, bool onset) {
    const double targetEnergy = loudnessTarget(channel, morph);
    const bool targetSilent = !(targetEnergy > kSilentTarget);
    float gain = 0.0f;
    if (!targetSilent && wetEnergy > kSilentOutput)
        gain = std::clamp(static_cast<float>(std::sqrt(targetEnergy / wetEnergy)),
                          kMinimumLoudnessGain, kMaximumLoudnessGain);
    // A new sound may change level at once; otherwise a rising gain glides. A falling gain
    // never waits: the gain a quiet frame needed (a floor of noise, a reverb tail, an input
    // that has just stopped) must not carry over to louder frames after it. Silent inputs mute
    // the frame at once, so an algorithm cannot sound from silence even for a few frames.
    if (!onset && !targetSilent)
        gain = std::min(gain, channel.outputGain + (gain - channel.outputGain) * kGainSmoothing);
    channel.outputGain = gain;
    return gain;
}

double StftEngine::loudnessTarget(StftChannel& channel, float morph) const {
    const double energyA = channel.analysisA.energy;
    const double energyB = channel.analysisB.energy;
    loudness::SlowLevel<double>& level = channel.level;
    level.observe(energyA, energyB, slowEnergyStep);
    level.update(morph);
    const double mix = loudness::energyMix<double>(energyA, energyB, morph);
    const double target =
        level.travel == 1.0
            ? mix
            : loudness::target(mix, loudness::perceivedMix<double>(energyA, energyB, morph),
                               level.travel);
    level.observeTarget(target, slowEnergyStep);
    return target * level.balance;
}

void StftEngine::applyGainAndEdgeBlend(const StftChannel& channel, float gain, double wetEnergy,
                                       float morph) {
    const FrameAnalysis* source = nullptr;
    float weight = 0.0f;
    if (morph < kEdgeWidth) {
        source = &channel.analysisA;
        weight = 1.0f - morph * kEdgeSlope;
    } else if (morph > 1.0f - kEdgeWidth) {
        source = &channel.analysisB;
        weight = 1.0f - (1.0f - morph) * kEdgeSlope;
    }
    if (source == nullptr || weight <= 0.0f) {
        scale(outRe.data(), gain, bins);
        scale(outIm.data(), gain, bins);
        return;
    }
    const float* sourceRe = source->re.data();
    const float* sourceIm = source->im.data();
    if (weight >= 1.0f) {
        // At the very ends of the Morph range the frame is the input's own spectrum.
        std::copy(sourceRe, sourceRe + bins, outRe.data());
        std::copy(sourceIm, sourceIm + bins, outIm.data());
        return;
    }
    scaleAndBlend(outRe.data(), sourceRe, gain, weight, bins);
    scaleAndBlend(outIm.data(), sourceIm, gain, weight, bins);
    const double gainedWetEnergy = wetEnergy * static_cast<double>(gain) * gain;
    keepBlendEnergy(gainedWetEnergy, source->energy, weight);
}

// A linear blend of two spectra whose phases are unrelated loses up to half their power midway
// (3 dB); the blended frame is brought to the blend of the two energies instead, which also
// keeps the level steady across the edge zone wherever the two do agree.
void StftEngine::keepBlendEnergy(double wetEnergy, double sourceEnergy, float weight) {
    const double wanted = wetEnergy * (1.0 - weight) + sourceEnergy * weight;
    const double blended =
        spans::weightedPowerSum(analyzer.binWeight(), outRe.data(), outIm.data(), bins);
    if (!(blended > kSilentOutput) || !(wanted > kSilentOutput))
        return;
    const auto correction = static_cast<float>(std::sqrt(wanted / blended));
    scale(outRe.data(), correction, bins);
    scale(outIm.data(), correction, bins);
}

void StftEngine::overlapAdd(StftChannel& channel) {
    analyzer.fft().inverse(outRe.data(), outIm.data(), timeBuffer.data());
    // One pass shifts the accumulator down by a hop, adds the windowed frame and starts the
    // newest hop afresh. The frame is rotated back so that its centre sits mid-window.
    float* accumulator = channel.outputAccumulator.data();
    const float* window = analyzer.synthesisWindow();
    const float* time = timeBuffer.data();
    const int centre = frameSize / 2;
    const int keep = frameSize - hop;
    addProduct(accumulator + hop, time + centre, window, accumulator, centre);
    addProduct(accumulator + centre + hop, time, window + centre, accumulator + centre,
               keep - centre);
    startProduct(time + keep - centre, window + keep, accumulator + keep, hop);
}

void StftEngine::advanceInputs(StftChannel& channel) {
    const auto keep = static_cast<std::size_t>(frameSize - hop) * sizeof(float);
    std::memmove(channel.fifoA.data(), channel.fifoA.data() + hop, keep);
    std::memmove(channel.fifoB.data(), channel.fifoB.data() + hop, keep);
}

} // namespace tav
