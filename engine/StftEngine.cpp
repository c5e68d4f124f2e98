#include "engine/StftEngine.h"

#include "dsp/FrameGeometry.h"
#include "dsp/SpanSums.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tav {

namespace {

// Loudness gain limits: -24 dB .. +30 dB. The upper limit leaves room for an algorithm whose
// frame carries far less energy than its inputs, as Imprint's does where B's envelope is only
// room tone between words, to reach the loudness target.
constexpr float kMinimumLoudnessGain = 0.06309148f;
constexpr float kMaximumLoudnessGain = 31.622777f;
// Below these the target or the output counts as silent and the frame is muted.
constexpr double kSilentTarget = 1e-15;
constexpr double kSilentOutput = 1e-30;
// Without an onset a rising gain moves halfway to its new value per frame.
constexpr float kGainSmoothing = 0.5f;
// Near either end of the Morph range the output blends toward the analysed input, fully at
// the very end and not at all kEdgeWidth away from it.
constexpr float kEdgeWidth = 0.03f;
constexpr float kEdgeSlope = 1.0f / kEdgeWidth;
// A newly selected algorithm fades in by this share per frame.
constexpr float kCrossfadeStep = 1.0f / static_cast<float>(StftEngine::kCrossfadeFrames);

// Which input a frame blends toward near the ends of the Morph range, and how far.
struct EdgeBlend {
    enum Input { None, A, B } input = None;
    float weight = 0.0f; // 1 at the very end: the frame is that input's own spectrum
};

EdgeBlend edgeBlendAt(float morph) {
    if (morph < kEdgeWidth)
        return {EdgeBlend::A, 1.0f - morph * kEdgeSlope};
    if (morph > 1.0f - kEdgeWidth)
        return {EdgeBlend::B, 1.0f - (1.0f - morph) * kEdgeSlope};
    return {};
}

// 1 - the edge blend weight of a frame at this Morph: 0 at exactly 0 or 1, 1 in between.
float unblendedShare(float morph) {
    return std::clamp(1.0f - edgeBlendAt(morph).weight, 0.0f, 1.0f);
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

} // namespace

void StftEngine::prepare(double sampleRate, int channels, int fftSize) {
    frames.prepare(sampleRate, channels, fftSize);
    const int frameSize = frames.fftSize();
    const int hop = frames.hopSize();
    const auto binCount = static_cast<std::size_t>(frames.numBins());
    const int channelTotal = frames.channelCount();
    slowEnergyStep = 1.0 - std::exp(-hop / (loudness::kSlowAverageSeconds * sampleRate));

    outRe.assign(binCount, 0.0f);
    outIm.assign(binCount, 0.0f);
    fadeRe.assign(binCount, 0.0f);
    fadeIm.assign(binCount, 0.0f);

    channelStates.clear();
    channelStates.resize(static_cast<std::size_t>(channelTotal));
    for (StftChannel& channel : channelStates) {
        for (int index = 0; index < kAlgorithmCount; ++index) {
            channel.algorithms[index] = createAlgorithm(index);
            channel.algorithms[index]->prepare(frameSize, hop, sampleRate);
        }
    }

    analysesA.resize(static_cast<std::size_t>(channelTotal));
    analysesB.resize(static_cast<std::size_t>(channelTotal));
    for (int c = 0; c < channelTotal; ++c) {
        analysesA[c] = &frames.channel(c).analysisA;
        analysesB[c] = &frames.channel(c).analysisB;
    }
    meterBlock.prepare(channelTotal, frameSize, frames.analyzer().displayBand());
    reset();
}

void StftEngine::reset() {
    frames.reset();
    crossfadeFrames = 0;
    currentAlgorithm = previousAlgorithm = requestedAlgorithm;
    meterBlock.reset();
    for (StftChannel& channel : channelStates) {
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

void StftEngine::startAt(float morph, int algorithm) {
    morphLine.jumpTo(morph);
    requestAlgorithm(algorithm);
    if (currentAlgorithm != requestedAlgorithm) {
        currentAlgorithm = previousAlgorithm = requestedAlgorithm;
        crossfadeFrames = 0;
        for (StftChannel& channel : channelStates)
            channel.algorithms[currentAlgorithm]->reset();
    }
}

int StftEngine::latencySamples(double sampleRate, int quality) {
    return tav::latencySamples(sampleRate, quality);
}

void StftEngine::replaceAlgorithm(int channel, int index, std::unique_ptr<Algorithm> algorithm) {
    algorithm->prepare(frames.fftSize(), frames.hopSize(), frames.sampleRate());
    channelStates[channel].algorithms[index] = std::move(algorithm);
}

void StftEngine::process(const float* const* inA, const float* const* inB, float* const* out,
                         int numSamples, float morph, float* wetShare) {
    if (channelStates.empty())
        return;
    morphLine.start(morph, numSamples);
    frames.process(inA, inB, out, numSamples, *this, wetShare);
    morphLine.finish();
}

StftFramework::FramePlan StftEngine::beginFrame(int samplesDone) {
    frameMorph = morphLine.at(samplesDone);
    switchAlgorithmIfRequested();
    return {reassignmentWanted(), unblendedShare(frameMorph)};
}

void StftEngine::processFrame(StftFramework& framework, bool afterSilence) {
    // The algorithms sat out a silence: they start again as freshly prepared. Nothing of their
    // history can be heard across it, since every frame of the silence was muted, and the sound
    // that ends it comes in as a new sound does after any silence (its first frame's loudness
    // gain starts from the muted frame before it).
    if (afterSilence) {
        for (StftChannel& channel : channelStates)
            for (auto& algorithm : channel.algorithms)
                algorithm->reset();
    }
    bool onsetA = false;
    bool onsetB = false;
    detectOnsets(onsetA, onsetB);

    const float morph = frameMorph;
    workOutLoudnessTargets(framework, morph);
    const float fade =
        crossfadeFrames > 0 ? 1.0f - static_cast<float>(crossfadeFrames) * kCrossfadeStep : 1.0f;
    for (int c = 0; c < channelCount(); ++c) {
        StftChannel& channel = channelStates[static_cast<std::size_t>(c)];
        StftChannelFrames& analyses = framework.channel(c);
        analyses.analysisA.onset = onsetA;
        analyses.analysisB.onset = onsetB;
        MorphContext context;
        context.a = &analyses.analysisA;
        context.b = &analyses.analysisB;
        context.morph = morph;
        context.fftSize = framework.fftSize();
        context.numBins = framework.numBins();
        context.hopSize = framework.hopSize();
        context.sampleRate = framework.sampleRate();
        buildOutputSpectrum(channel, context, fade);
        const double wetEnergy = spans::weightedPowerSum(framework.analyzer().binWeight(),
                                                         outRe.data(), outIm.data(), numBins());
        const float gain = matchLoudness(channel, wetEnergy, onsetA || onsetB);
        applyGainAndEdgeBlend(analyses, gain, wetEnergy, morph);
        framework.resynthesise(c, outRe.data(), outIm.data());
    }
    if (crossfadeFrames > 0)
        --crossfadeFrames;
    meterBlock.update(analysesA.data(), analysesB.data());
}

// Both inputs were exactly zero over the whole frame: its analyses are all zeros, the loudness
// match would mute whatever an algorithm made of them, and the frame would add nothing to the
// overlap-add. So only what outlives the frame moves on: the onset memories, the meters, the
// crossfade's count and the output already on its way.
void StftEngine::processSilentFrame(StftFramework& framework) {
    for (int c = 0; c < channelCount(); ++c) {
        StftChannel& channel = channelStates[static_cast<std::size_t>(c)];
        StftChannelFrames& analyses = framework.channel(c);
        analyses.analysisA.onset = channel.onsetA.detectSilence();
        analyses.analysisB.onset = channel.onsetB.detectSilence();
        channel.outputGain = 0.0f;
    }
    if (crossfadeFrames > 0)
        --crossfadeFrames;
    meterBlock.updateSilent();
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

void StftEngine::detectOnsets(bool& onsetA, bool& onsetB) {
    const int* bandMap = frames.analyzer().thirdOctaveBand();
    for (int c = 0; c < channelCount(); ++c) {
        StftChannel& channel = channelStates[static_cast<std::size_t>(c)];
        const StftChannelFrames& analyses = frames.channel(c);
        // Both detectors run in every channel so that their memories stay current.
        const bool firedA = channel.onsetA.detect(analyses.analysisA, numBins(), bandMap);
        const bool firedB = channel.onsetB.detect(analyses.analysisB, numBins(), bandMap);
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
    for (int k = 0; k < numBins(); ++k) {
        outRe[k] = fade * outRe[k] + keep * fadeRe[k];
        outIm[k] = fade * outIm[k] + keep * fadeIm[k];
    }
}

float StftEngine::matchLoudness(StftChannel& channel, double wetEnergy, bool onset) {
    const double targetEnergy = channel.target;
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

void StftEngine::workOutLoudnessTargets(StftFramework& framework, float morph) {
    const bool between = morph > 0.0f && morph < 1.0f;
    for (int first = 0; first < channelCount(); first += 2) {
        const int count = std::min(2, channelCount() - first);
        // Per channel the slow averages' pair, then the frame's.
        double a[4] = {}, b[4] = {}, perceived[4] = {};
        for (int k = 0; k < count; ++k) {
            const StftChannelFrames& analyses = framework.channel(first + k);
            loudness::SlowLevel<double>& level =
                channelStates[static_cast<std::size_t>(first + k)].level;
            level.observe(analyses.analysisA.energy, analyses.analysisB.energy, slowEnergyStep);
            a[2 * k] = level.slowA;
            b[2 * k] = level.slowB;
            a[2 * k + 1] = analyses.analysisA.energy;
            b[2 * k + 1] = analyses.analysisB.energy;
        }
        if (between)
            loudness::perceivedMixes(a, b, morph, perceived);
        for (int k = 0; k < count; ++k) {
            StftChannel& channel = channelStates[static_cast<std::size_t>(first + k)];
            const double mix = loudness::energyMix<double>(a[2 * k + 1], b[2 * k + 1], morph);
            channel.target =
                lawTarget(channel.level, mix, morph, perceived[2 * k], perceived[2 * k + 1]);
        }
    }
}

double StftEngine::lawTarget(loudness::SlowLevel<double>& level, double mix, float morph,
                             double slowPerceived, double framePerceived) const {
    level.update(morph, slowPerceived);
    const double target =
        level.travel == 1.0 ? mix : loudness::target(mix, framePerceived, level.travel);
    level.observeTarget(target, slowEnergyStep);
    return target * level.balance;
}

void StftEngine::applyGainAndEdgeBlend(const StftChannelFrames& analyses, float gain,
                                       double wetEnergy, float morph) {
    const EdgeBlend blend = edgeBlendAt(morph);
    const FrameAnalysis* source = blend.input == EdgeBlend::A   ? &analyses.analysisA
                                  : blend.input == EdgeBlend::B ? &analyses.analysisB
                                                                : nullptr;
    const float weight = blend.weight;
    const int bins = numBins();
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
    const int bins = numBins();
    const double blended =
        spans::weightedPowerSum(frames.analyzer().binWeight(), outRe.data(), outIm.data(), bins);
    if (!(blended > kSilentOutput) || !(wanted > kSilentOutput))
        return;
    const auto correction = static_cast<float>(std::sqrt(wanted / blended));
    scale(outRe.data(), correction, bins);
    scale(outIm.data(), correction, bins);
}

} // namespace tav
