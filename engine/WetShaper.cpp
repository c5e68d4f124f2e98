#include "engine/WetShaper.h"

#include "dsp/SpanSums.h"
#include "engine/LoudnessLaw.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <complex>
#include <numbers>

namespace tav {

namespace {

// Control blocks of about 0.8 ms: envelopes, gains and the look-ahead run once per block.
constexpr double kControlSeconds = 0.0008;
constexpr int kMinimumControlLength = 4;

// Weighting close to the A-weighting curve from 100 Hz to 20 kHz: its 107.7 and 737.9 Hz
// poles over two zeros at DC (bilinear), and its 12194 Hz double pole (matched) with a partial
// zero that lifts the top octave back toward the curve where the Nyquist limit presses it.
constexpr double kHighPoleHz[] = {107.7, 737.9};
constexpr double kLowPoleHz = 12194.0;
constexpr float kLowZero = 0.3f;
constexpr double kNormalisationHz = 1000.0;

// Envelopes: the reference's is long enough to ride over the beating of chord notes, the wet
// signal's short enough to catch energy that builds up within a frame.
constexpr double kReferenceEnvelopeSeconds = 0.01;
constexpr double kWetEnvelopeSeconds = 0.001;
// The slow correction compares powers averaged over this long, and its gain glides this slowly.
constexpr double kAverageSeconds = 0.4;
constexpr double kSlowGainSeconds = 0.3;
// The slow correction stays within +-3 dB.
constexpr float kMinimumCorrection = 0.70794578f;
constexpr float kMaximumCorrection = 1.4125375f;
// The suppression: it acts when the reference is about to rise by more than 4.8 dB within one
// frame, or has fallen by as much within the last (a hit under a louder bed raises the mix by
// little more than that). Ahead of the rise it holds the wet signal to
// its standing before; once the hit is there, to 1.5 dB over it; after the fall, to 4 dB over
// the held target. It pulls down within about a millisecond and lets go within a few.
constexpr float kRiseRatio = 3.0f;
constexpr float kExcessRatio = 1.4125375f;
constexpr float kFallExcessRatio = 2.5118864f;
// A hit has arrived where the held target stands more than 9 dB over the reference's
// envelope: that is the hit itself, not the ripple of a low chord within its blocks.
constexpr float kArrivalRatio = 8.0f;
// After a fall the allowed level follows the inputs' target held over this long: quick enough
// for the gaps between words, long enough to ride over the ripple of one low note's waveform.
constexpr double kHoldSeconds = 0.005;
constexpr double kAttackSeconds = 0.0003;
constexpr double kReleaseSeconds = 0.004;
// Weighted powers below this count as silence for the slow correction.
constexpr double kSilentPower = 1e-20;

// The loudness law's slow travel and balance move over hundreds of milliseconds: they are
// worked out afresh every few control blocks.
constexpr int kTravelBlocks = 16;
// The law's shares of the energy mixes move with the envelopes: they are worked out every
// other block and held in between, unless the block's energy mix has moved by more than
// kLawJump (3 dB) since they were.
constexpr int kLawBlocks = 2;
constexpr float kLawJump = 2.0f;

// Least-squares fits over 0..1, highest power first: log2(1 + t) / t and 2^t.
constexpr std::array<float, 5> kLog2Coefficients{0.0452682926f, -0.193516525f, 0.41524556f,
                                                 -0.708865218f, 1.4418799f};
constexpr std::array<float, 5> kExp2Coefficients{0.0135206032f, 0.0520374288f, 0.241427493f,
                                                 0.693006621f, 1.00000252f};

// The quartic with these coefficients at each lane, by Estrin's scheme: its pairs are worked
// out side by side, so the chain of dependent operations is five long rather than Horner's eight.
__m128 quartic(__m128 t, const std::array<float, 5>& c) {
    const auto pair = [t](float high, float low) {
        return _mm_add_ps(_mm_mul_ps(_mm_set1_ps(high), t), _mm_set1_ps(low));
    };
    const __m128 t2 = _mm_mul_ps(t, t);
    const __m128 upper = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(c[0]), t2), pair(c[1], c[2]));
    return _mm_add_ps(_mm_mul_ps(upper, t2), pair(c[3], c[4]));
}

// log2 of each lane (positive normal floats): the exponent's bits plus a polynomial in the
// mantissa, within 2e-5. The loudness law needs no more: the level it sets is then within
// 0.001 dB.
__m128 approximateLog2(__m128 x) {
    const __m128i bits = _mm_castps_si128(x);
    const __m128 exponent =
        _mm_cvtepi32_ps(_mm_sub_epi32(_mm_srli_epi32(bits, 23), _mm_set1_epi32(127)));
    const __m128 t =
        _mm_sub_ps(_mm_castsi128_ps(_mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(0x007fffff)),
                                                 _mm_set1_epi32(0x3f800000))),
                   _mm_set1_ps(1.0f));
    return _mm_add_ps(exponent, _mm_mul_ps(quartic(t, kLog2Coefficients), t));
}

// 2^y for each lane, y limited to the normal floats' range: a polynomial for the fraction
// times the integer part put into the exponent's bits, within 3e-6.
__m128 approximateExp2(__m128 y) {
    y = _mm_min_ps(_mm_max_ps(y, _mm_set1_ps(-126.0f)), _mm_set1_ps(127.0f));
    // Floor: truncation, one less where it rounded a negative value up.
    __m128i floorInt = _mm_cvttps_epi32(y);
    floorInt =
        _mm_add_epi32(floorInt, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(floorInt), y)));
    const __m128 f = _mm_sub_ps(y, _mm_cvtepi32_ps(floorInt));
    const __m128 p = quartic(f, kExp2Coefficients);
    const __m128 scale =
        _mm_castsi128_ps(_mm_slli_epi32(_mm_add_epi32(floorInt, _mm_set1_epi32(127)), 23));
    return _mm_mul_ps(p, scale);
}

// x^e for each lane; 0 (and anything not above the smallest normal float) gives 0.
__m128 power(__m128 x, float exponent) {
    const __m128 result = approximateExp2(_mm_mul_ps(_mm_set1_ps(exponent), approximateLog2(x)));
    return _mm_and_ps(result, _mm_cmpge_ps(x, _mm_set1_ps(FLT_MIN)));
}

// From two stretches' loudness mixes L (lanes 0, 1) and travelled energy mixes T (lanes 2, 3):
// their perceived mixes L^(1 / exponent) in lanes 0, 1, and the travelled mixes pulled toward
// them, T^(1 - pull) * L^(pull / exponent), in lanes 2, 3. Lanes whose inputs are not above the
// smallest normal float give 0.
__m128 perceivedAndPulled(__m128 mixes) {
    constexpr auto exponent = static_cast<float>(loudness::kLoudnessExponent);
    constexpr auto pull = static_cast<float>(loudness::kPerceivedPull);
    const __m128 logs = approximateLog2(mixes);
    const __m128 loudnessLogs = _mm_shuffle_ps(logs, logs, _MM_SHUFFLE(1, 0, 1, 0));
    const __m128 exponents = _mm_add_ps(
        _mm_mul_ps(_mm_setr_ps(1.0f / exponent, 1.0f / exponent, pull / exponent, pull / exponent),
                   loudnessLogs),
        _mm_mul_ps(_mm_setr_ps(0.0f, 0.0f, 1.0f - pull, 1.0f - pull), logs));
    const __m128 valid = _mm_cmpge_ps(mixes, _mm_set1_ps(FLT_MIN));
    const __m128 loudnessValid = _mm_shuffle_ps(valid, valid, _MM_SHUFFLE(1, 0, 1, 0));
    const __m128 perceivedLanes = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, 0, 0));
    return _mm_and_ps(approximateExp2(exponents),
                      _mm_and_ps(loudnessValid, _mm_or_ps(valid, perceivedLanes)));
}

// The wet signal's power against the reference's, at most 1; 1 where the reference is silent.
float standingOf(float wetPower, float reference) {
    return reference > kSilentPower ? std::min(1.0f, wetPower / reference) : 1.0f;
}

// The wet signal's standing against the reference after the slow gain's power; ahead of a
// rise its lowest since the rise came within a frame.
void trackBed(WetLevels& levels, float reference, float gainPower, bool keepLowest) {
    const float standing = standingOf(levels.smooth * gainPower, reference);
    levels.bedStanding = keepLowest ? std::min(levels.bedStanding, standing) : standing;
}

// How far a power must come down to stay within an allowed power: their ratio, at most 1.
float shortfall(float allowed, float power) {
    return power > allowed ? allowed / power : 1.0f;
}

// One-pole coefficient for a time constant, for steps of `length` samples.
float smoothingCoefficient(double seconds, int length, double sampleRate) {
    return static_cast<float>(1.0 - std::exp(-length / (seconds * sampleRate)));
}

double bilinearPole(double hz, double sampleRate) {
    const double omega = 2.0 * std::numbers::pi * hz;
    return (2.0 * sampleRate - omega) / (2.0 * sampleRate + omega);
}

} // namespace

void WetShaper::prepare(double sampleRate, int channelCount, int frameSize) {
    channels = std::max(1, channelCount);
    const int frame = std::max(frameSize, kMinimumControlLength);
    controlLength = kMinimumControlLength;
    while (controlLength * 2 <= sampleRate * kControlSeconds && controlLength * 2 <= frame)
        controlLength *= 2;
    delayBlocks = std::max(1, frame / controlLength);

    const double highPole0 = bilinearPole(kHighPoleHz[0], sampleRate);
    const double highPole1 = bilinearPole(kHighPoleHz[1], sampleRate);
    const double lowPole = std::exp(-2.0 * std::numbers::pi * kLowPoleHz / sampleRate);
    weighting.highFeedback1 = static_cast<float>(highPole0 + highPole1);
    weighting.highFeedback2 = static_cast<float>(-highPole0 * highPole1);
    weighting.lowZero = kLowZero;
    weighting.lowFeedback1 = static_cast<float>(2.0 * lowPole);
    weighting.lowFeedback2 = static_cast<float>(-lowPole * lowPole);
    pairRun = weighting::avxPairRun();
    // Scaled so that 1 kHz weighs 1.
    const std::complex<double> z1 =
        std::polar(1.0, -2.0 * std::numbers::pi * kNormalisationHz / sampleRate);
    const std::complex<double> response =
        (1.0 - z1) * (1.0 - z1) / ((1.0 - highPole0 * z1) * (1.0 - highPole1 * z1)) *
        (1.0 + static_cast<double>(kLowZero) * z1) / ((1.0 - lowPole * z1) * (1.0 - lowPole * z1));
    powerScale = static_cast<float>(1.0 / (std::norm(response) * controlLength));

    referenceCoefficient =
        smoothingCoefficient(kReferenceEnvelopeSeconds, controlLength, sampleRate);
    wetCoefficient = smoothingCoefficient(kWetEnvelopeSeconds, controlLength, sampleRate);
    averageCoefficient = smoothingCoefficient(kAverageSeconds, controlLength, sampleRate);
    inputAverageCoefficient =
        smoothingCoefficient(loudness::kSlowAverageSeconds, controlLength, sampleRate);
    // The reference's recent peak falls by the rise ratio over one frame.
    peakDecay =
        static_cast<float>(std::pow(kRiseRatio, -static_cast<double>(controlLength) / frame));
    slowGainCoefficient = smoothingCoefficient(kSlowGainSeconds, controlLength, sampleRate);
    attackCoefficient = smoothingCoefficient(kAttackSeconds, controlLength, sampleRate);
    releaseCoefficient = smoothingCoefficient(kReleaseSeconds, controlLength, sampleRate);

    channelStates.assign(static_cast<std::size_t>(channels), WeightingFilters{});
    gainRamp.assign(static_cast<std::size_t>(controlLength), 1.0f);
    referenceRing.assign(static_cast<std::size_t>(delayBlocks + 1), 0.0f);
    rawReferenceRing.assign(static_cast<std::size_t>(delayBlocks + 1), 0.0f);
    heldRing.assign(static_cast<std::size_t>(delayBlocks + 1), 0.0f);
    const auto holdBlocks = std::lround(kHoldSeconds * sampleRate / controlLength);
    recentTargets.assign(static_cast<std::size_t>(std::clamp(holdBlocks, 1L, long(delayBlocks))),
                         0.0f);
    // Read half a hold ahead of the wet signal, so that the hold is centred on it.
    heldLead = static_cast<int>(recentTargets.size()) * 3 / 4;
    maximumQueue.assign(static_cast<std::size_t>(delayBlocks + 1), 0);
    reset();
}

void WetShaper::reset() {
    std::fill(channelStates.begin(), channelStates.end(), WeightingFilters{});
    std::fill(referenceRing.begin(), referenceRing.end(), 0.0f);
    std::fill(rawReferenceRing.begin(), rawReferenceRing.end(), 0.0f);
    std::fill(heldRing.begin(), heldRing.end(), 0.0f);
    std::fill(recentTargets.begin(), recentTargets.end(), 0.0f);
    recentIndex = 0;
    blockPosition = 0;
    weighted = raw = WetLevels{};
    slowReference = slowWet = 0.0;
    level.reset();
    blocksToTravel = blocksToLaw = 0;
    envelopeShare = blockShare = 1.0f;
    lawBlockMix = 0.0f;
    envelopeA = envelopeB = rawEnvelopeA = rawEnvelopeB = 0.0f;
    recentPeak = 0.0f;
    slowTarget = slowGain = fastGain = 1.0f;
    slowFrom = slowTo = fastFrom = fastTo = 1.0f;
    queueHead = queueSize = ringIndex = 0;
}

void WetShaper::process(const float* const* inA, const float* const* inB, float* const* wet,
                        const float* share, int numSamples, float morph) {
    if (channelStates.empty() || numSamples <= 0)
        return;
    morphLine.start(morph, numSamples);
    int done = 0;
    while (done < numSamples) {
        // Runs end at the next control block boundary or the chunk's end.
        const int count = std::min(controlLength - blockPosition, numSamples - done);
        filterRun(inA, inB, wet, done, count);
        applyGain(wet, share, done, count);
        done += count;
        blockPosition += count;
        if (blockPosition == controlLength) {
            blockPosition = 0;
            updateControl(morphLine.at(done));
        }
    }
    morphLine.finish();
}

bool WetShaper::filtersAtRest() const {
    return std::all_of(channelStates.begin(), channelStates.end(), weighting::atRest);
}

void WetShaper::filterRun(const float* const* inA, const float* const* inB, float* const* wet,
                          int offset, int count) {
    const auto inputs = [&](int c) {
        return WeightingInputs{inA[c] + offset, inB[c] + offset, wet[c] + offset};
    };
    // Filters at rest fed only zeros stay at rest and add no power: nothing to run.
    const auto running = [&](int c) {
        const WeightingInputs in = inputs(c);
        return !weighting::atRest(channelStates[c]) || !spans::allZero(in.a, count) ||
               !spans::allZero(in.b, count) || !spans::allZero(in.wet, count);
    };
    for (int c = 0; c < channels;) {
        if (!running(c)) {
            ++c;
            continue;
        }
        if (pairRun != nullptr && c + 1 < channels && running(c + 1)) {
            pairRun(channelStates[c], channelStates[c + 1], inputs(c), inputs(c + 1), count,
                    weighting);
            weighting::settleNegligibleMemories(channelStates[c]);
            weighting::settleNegligibleMemories(channelStates[c + 1]);
            c += 2;
            continue;
        }
        weighting::run(channelStates[c], inputs(c), count, weighting);
        weighting::settleNegligibleMemories(channelStates[c]);
        ++c;
    }
}

void WetShaper::applyGain(float* const* wet, const float* share, int offset, int count) {
    if (slowFrom == 1.0f && slowTo == 1.0f && fastFrom == 1.0f && fastTo == 1.0f)
        return;
    // Both gains glide across the control block. The wet share fades the slow correction's
    // effect; the suppression acts in full wherever any of the algorithm's frame is heard,
    // since the energy it removes is smeared in full even where the share is small. Where the
    // share is 0 the factor is exactly 1.
    const float scale = 1.0f / static_cast<float>(controlLength);
    const __m128 slowStart = _mm_set1_ps(slowFrom),
                 slowStep = _mm_set1_ps((slowTo - slowFrom) * scale);
    const __m128 fastStart = _mm_set1_ps(fastFrom),
                 fastStep = _mm_set1_ps((fastTo - fastFrom) * scale);
    const __m128 one = _mm_set1_ps(1.0f), zero = _mm_setzero_ps();
    const float* const shares = share + offset;
    const auto rampAt = [&](__m128 position, __m128 s) {
        const __m128 slow = _mm_add_ps(slowStart, _mm_mul_ps(slowStep, position));
        const __m128 fast = _mm_add_ps(fastStart, _mm_mul_ps(fastStep, position));
        const __m128 slowFactor = _mm_add_ps(one, _mm_mul_ps(s, _mm_sub_ps(slow, one)));
        const __m128 fastFactor =
            _mm_add_ps(one, _mm_and_ps(_mm_cmpgt_ps(s, zero), _mm_sub_ps(fast, one)));
        return _mm_mul_ps(slowFactor, fastFactor);
    };
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 position = _mm_cvtepi32_ps(
            _mm_add_epi32(_mm_set1_epi32(blockPosition + i + 1), _mm_setr_epi32(0, 1, 2, 3)));
        _mm_storeu_ps(&gainRamp[static_cast<std::size_t>(i)],
                      rampAt(position, _mm_loadu_ps(shares + i)));
    }
    for (; i < count; ++i)
        gainRamp[static_cast<std::size_t>(i)] = _mm_cvtss_f32(
            rampAt(_mm_set1_ps(static_cast<float>(blockPosition + i + 1)), _mm_set1_ps(shares[i])));
    for (int c = 0; c < channels; ++c) {
        float* w = wet[c] + offset;
        if (spans::allZero(w, count))
            continue; // silence stays silence whatever the gain
        int k = 0;
        for (; k + 4 <= count; k += 4)
            _mm_storeu_ps(w + k, _mm_mul_ps(_mm_loadu_ps(w + k),
                                            _mm_loadu_ps(&gainRamp[static_cast<std::size_t>(k)])));
        for (; k < count; ++k)
            w[k] *= gainRamp[static_cast<std::size_t>(k)];
    }
}

void WetShaper::updateControl(float morph) {
    const BlockPowers powers = takeBlockPowers();
    if (!std::isfinite(powers.a + powers.b) || !std::isfinite(powers.wet) ||
        !std::isfinite(powers.rawA + powers.rawB + powers.rawWet)) {
        // Overflowing input: start afresh rather than carry infinities.
        reset();
        return;
    }
    followInputs(powers, morph);
    // The rings' next slot holds the envelopes of N / K blocks ago, which line up with the wet
    // signal; the queue's front holds the largest from then to now.
    const Aligned at{
        referenceRing[static_cast<std::size_t>(ringIndex)],
        rawReferenceRing[static_cast<std::size_t>(ringIndex)],
        heldRing[static_cast<std::size_t>(heldSlot())],
        referenceRing[static_cast<std::size_t>(maximumQueue[static_cast<std::size_t>(queueHead)])],
    };
    follow(weighted, powers.wet);
    follow(raw, powers.rawWet);
    correctSlowly(at.reference, powers.wet);
    suppressSmear(at);

    slowFrom = slowTo;
    slowTo = slowGain;
    fastFrom = fastTo;
    fastTo = fastGain;
}

WetShaper::BlockPowers WetShaper::takeBlockPowers() {
    __m128 sum = _mm_setzero_ps(), rawSum = _mm_setzero_ps();
    for (WeightingFilters& state : channelStates) {
        sum = _mm_add_ps(sum, _mm_load_ps(state.power));
        rawSum = _mm_add_ps(rawSum, _mm_load_ps(state.rawPower));
        _mm_store_ps(state.power, _mm_setzero_ps());
        _mm_store_ps(state.rawPower, _mm_setzero_ps());
    }
    alignas(16) float sums[4], rawSums[4];
    _mm_store_ps(sums, _mm_mul_ps(sum, _mm_set1_ps(powerScale)));
    _mm_store_ps(rawSums,
                 _mm_mul_ps(rawSum, _mm_set1_ps(1.0f / static_cast<float>(controlLength))));
    return {sums[0], sums[1], sums[2], rawSums[0], rawSums[1], rawSums[2]};
}

void WetShaper::followInputs(const BlockPowers& powers, float morph) {
    // The reference follows the inputs' envelopes with the frames' loudness target.
    envelopeA += referenceCoefficient * (powers.a - envelopeA);
    envelopeB += referenceCoefficient * (powers.b - envelopeB);
    rawEnvelopeA += referenceCoefficient * (powers.rawA - rawEnvelopeA);
    rawEnvelopeB += referenceCoefficient * (powers.rawB - rawEnvelopeB);
    level.observe(powers.a, powers.b, inputAverageCoefficient);
    if (--blocksToTravel <= 0) {
        level.update(morph);
        blocksToTravel = kTravelBlocks;
    }
    const Targets targets = inputTargets(powers.a, powers.b, morph);
    level.observeTarget(targets.envelope, inputAverageCoefficient);
    heldRing[static_cast<std::size_t>(ringIndex)] = holdTarget(targets.block * level.balance);
    const float reference = targets.envelope * level.balance;
    // The unweighted reference: the inputs' unweighted energy mix, brought to where the
    // reference stands against their weighted energy mix.
    const float weightedMix = loudness::energyMix(envelopeA, envelopeB, morph);
    const float rawMix = loudness::energyMix(rawEnvelopeA, rawEnvelopeB, morph);
    rawReferenceRing[static_cast<std::size_t>(ringIndex)] =
        weightedMix > kSilentPower ? rawMix * (reference / weightedMix) : rawMix;
    pushReference(reference);
}

int WetShaper::heldSlot() const {
    const int slot = ringIndex + heldLead;
    return slot > delayBlocks ? slot - delayBlocks - 1 : slot;
}

void WetShaper::correctSlowly(float reference, float powerWet) {
    // The slow correction sees the wet signal with the suppression counted half (in dB): part
    // of the smear it removes is the hit's own energy, which the reference counts, and part never
    // belonged to the inputs. Counted whole, the stretches between hits are lifted over the
    // mix; not counted, the level falls short wherever the suppression works.
    slowReference += averageCoefficient * (reference - slowReference);
    slowWet += averageCoefficient * (powerWet * fastGain - slowWet);
    if (slowReference > kSilentPower && slowWet > kSilentPower)
        slowTarget = std::clamp(static_cast<float>(std::sqrt(slowReference / slowWet)),
                                kMinimumCorrection, kMaximumCorrection);
    slowGain += slowGainCoefficient * (slowTarget - slowGain);
}

void WetShaper::suppressSmear(const Aligned& at) {
    // Energy smeared out of a frame lands ahead of a hit and after a sound that stops: the
    // suppression acts where the reference is about to rise or has just fallen, the latter
    // measured on the held target, which falls within milliseconds. Ahead of a rise the wet
    // signal is held to the lowest standing against the reference it has had since the rise
    // came within a frame (a bed that decays below the reference, or that the matching left
    // there, must not swell into the hit), both loudness-weighted and unweighted: a kick's smear
    // lies mostly below the weighting's reach. Once the held target shows the hit itself, the
    // hit sets the allowed level and the suppression lets go at once, so that its attack comes
    // through whole.
    recentPeak = std::max(at.held, recentPeak * peakDecay);
    const bool rising = at.ahead > kRiseRatio * at.reference;
    const bool arrived = at.held > kArrivalRatio * at.reference;
    const bool fallen = recentPeak > kRiseRatio * at.held;
    const float gainPower = slowGain * slowGain;
    const bool keepLowest = rising && !arrived;
    trackBed(weighted, at.reference, gainPower, keepLowest);
    trackBed(raw, at.rawReference, gainPower, keepLowest);
    const float wetLevel = weighted.fast * gainPower;
    float ratio = 1.0f; // the allowed power over the wet signal's, at most 1
    if (keepLowest)
        ratio = std::min(shortfall(at.reference * weighted.bedStanding, wetLevel),
                         shortfall(at.rawReference * raw.bedStanding, raw.fast * gainPower));
    else if (rising)
        ratio = shortfall(kExcessRatio * at.held, wetLevel);
    if (fallen)
        ratio = std::min(ratio, shortfall(kFallExcessRatio * at.held, wetLevel));
    const float suppression = std::sqrt(ratio);
    const bool letGo = arrived && !fallen;
    fastGain += (suppression < fastGain || letGo ? attackCoefficient : releaseCoefficient) *
                (suppression - fastGain);
}

WetShaper::Targets WetShaper::inputTargets(float powerA, float powerB, float morph) {
    const float envelopeMix = loudness::energyMix(envelopeA, envelopeB, morph);
    const float blockMix = loudness::energyMix(powerA, powerB, morph);
    if (level.travel == 1.0f) {
        blocksToLaw = 0;
        return {envelopeMix, blockMix};
    }
    // In between, the shares are held, unless the block's energy has moved far from where the
    // law last saw it (a hit, or a sound that stops): there the block's own law is wanted.
    const bool blockMoved = blockMix > kLawJump * lawBlockMix || lawBlockMix > kLawJump * blockMix;
    if (--blocksToLaw > 0 && !blockMoved)
        return {envelopeMix * envelopeShare, blockMix * blockShare};
    blocksToLaw = kLawBlocks;
    lawBlockMix = blockMix;
    const Targets targets = lawTargets(powerA, powerB, morph);
    envelopeShare = envelopeMix > 0.0f ? targets.envelope / envelopeMix : 1.0f;
    blockShare = blockMix > 0.0f ? targets.block / blockMix : 1.0f;
    return targets;
}

WetShaper::Targets WetShaper::lawTargets(float powerA, float powerB, float morph) const {
    const float envelopeMix = loudness::energyMix(envelopeA, envelopeB, morph);
    const float blockMix = loudness::energyMix(powerA, powerB, morph);
    // The loudness law's powers for the envelopes and this block, four lanes at once.
    constexpr auto exponent = static_cast<float>(loudness::kLoudnessExponent);
    alignas(16) float loudness[4];
    _mm_store_ps(loudness, power(_mm_setr_ps(envelopeA, envelopeB, powerA, powerB), exponent));
    alignas(16) float law[4];
    _mm_store_ps(
        law, perceivedAndPulled(_mm_setr_ps(loudness::energyMix(loudness[0], loudness[1], morph),
                                            loudness::energyMix(loudness[2], loudness[3], morph),
                                            envelopeMix * level.travel, blockMix * level.travel)));
    return {loudness::targetWithPull(envelopeMix, law[0], level.travel, law[2]),
            loudness::targetWithPull(blockMix, law[1], level.travel, law[3])};
}

void WetShaper::follow(WetLevels& levels, float power) const {
    levels.fast += wetCoefficient * (power - levels.fast);
    levels.smooth += referenceCoefficient * (power - levels.smooth);
}

float WetShaper::holdTarget(float target) {
    recentTargets[static_cast<std::size_t>(recentIndex)] = target;
    recentIndex = recentIndex + 1 == static_cast<int>(recentTargets.size()) ? 0 : recentIndex + 1;
    return *std::max_element(recentTargets.begin(), recentTargets.end());
}

void WetShaper::pushReference(float reference) {
    // A monotonic queue of ring slots whose envelopes decrease from the front: the front holds
    // the largest envelope of the window. The slot written now held the block that just left
    // the window; only the front can be that old.
    const int length = delayBlocks + 1;
    auto wrap = [length](int index) { return index >= length ? index - length : index; };
    const int slot = ringIndex;
    if (queueSize > 0 && maximumQueue[static_cast<std::size_t>(queueHead)] == slot) {
        queueHead = wrap(queueHead + 1);
        --queueSize;
    }
    referenceRing[static_cast<std::size_t>(slot)] = reference;
    while (queueSize > 0) {
        const int back = maximumQueue[static_cast<std::size_t>(wrap(queueHead + queueSize - 1))];
        if (referenceRing[static_cast<std::size_t>(back)] > reference)
            break;
        --queueSize;
    }
    maximumQueue[static_cast<std::size_t>(wrap(queueHead + queueSize))] = slot;
    ++queueSize;
    ringIndex = wrap(slot + 1);
}

} // namespace tav
