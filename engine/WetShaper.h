#pragma once

#include "engine/LoudnessLaw.h"
#include "engine/MorphLine.h"
#include "engine/WeightingFilters.h"

#include <vector>

namespace tav {

// The wet signal's power in one weighting: fast enough to catch energy that builds up within a
// frame, smooth enough to compare with the reference's envelope, and the smooth one's lowest
// standing against the reference (at most 1) since a coming rise came within a frame.
struct WetLevels {
    float fast = 0.0f, smooth = 0.0f, bedStanding = 1.0f;
};

// Shapes the level of the resynthesised wet signal in time, with one gain for every channel.
// A slow correction holds the wet signal's loudness-weighted power to the Morph-weighted mix
// of the inputs' (frames that partly cancel in overlap-add lose power the per-frame matching
// cannot see); a fast suppression pulls the wet signal down toward that reference where it
// stands well above it just before the reference rises (energy smeared ahead of a hit), in
// loudness-weighted and in unweighted power.
// The wet signal leaves the STFT N samples after its input, so the inputs' powers are delayed
// by N to line up with it, and the undelayed inputs show what is coming. The slow correction is
// scaled per sample by the STFT engine's wet share; the suppression acts in full wherever the
// share is above 0, since even a small share of the algorithm's frame carries its smear whole.
// Both are exactly unity at the Morph ends.
class WetShaper {
public:
    // Any thread, serialised with process; allocates. frameSize is the STFT frame length N,
    // the wet signal's delay. Ends in reset.
    void prepare(double sampleRate, int channels, int frameSize);

    // Any thread, serialised with process; never allocates. Clears filters, envelopes and
    // the delayed powers; the gain returns to unity. The Morph line keeps its last value.
    void reset();

    // Audio thread; never allocates. The next chunk's Morph line starts at morph.
    void startAt(float morph) { morphLine.jumpTo(morph); }

    // Audio thread; never allocates, locks or throws. inA, inB: the cleaned, undelayed inputs
    // of this chunk (`channels` valid pointers each); wet: the STFT engine's output for the
    // same samples, shaped in place; share: the engine's wet share per sample (0..1); morph:
    // the chunk's Morph target, reached linearly from the previous chunk's.
    void process(const float* const* inA, const float* const* inB, float* const* wet,
                 const float* share, int numSamples, float morph);

    // Any thread, serialised with process; never allocates. Whether every channel's weighting
    // filters hold exactly zero: then silent input costs them nothing.
    bool filtersAtRest() const;

private:
    void filterRun(const float* const* inA, const float* const* inB, float* const* wet, int offset,
                   int count);
    void applyGain(float* const* wet, const float* share, int offset, int count);
    // One control block's powers: loudness-weighted and unweighted, of A, B and the wet signal.
    struct BlockPowers {
        float a, b, wet, rawA, rawB, rawWet;
    };
    // The references lined up with the wet signal: weighted and unweighted, the held target,
    // and the largest reference within the coming frame.
    struct Aligned {
        float reference, rawReference, held, ahead;
    };
    void updateControl(float morph);
    BlockPowers takeBlockPowers();
    void followInputs(const BlockPowers& powers, float morph);
    int heldSlot() const;
    void correctSlowly(float reference, float powerWet);
    void suppressSmear(const Aligned& at);
    void follow(WetLevels& levels, float power) const;
    void pushReference(float reference);
    float holdTarget(float target);
    // The loudness target of the inputs' envelopes and of this block's powers.
    struct Targets {
        float envelope, block;
    };
    Targets inputTargets(float powerA, float powerB, float morph);
    // The same worked out by the loudness law, with no shares held.
    Targets lawTargets(float powerA, float powerB, float morph) const;

    int channels = 0;
    int controlLength = 1; // K: samples per control block, a power of two dividing N
    int delayBlocks = 0;   // N / K
    float powerScale = 1.0f;

    // Weighting filter coefficients (see prepare).
    WeightingCoefficients weighting;
    // Runs two channels' filters at once where the processor allows it, or null.
    weighting::PairRun pairRun = nullptr;

    // Per-block smoothing coefficients.
    float referenceCoefficient = 0.0f;
    float wetCoefficient = 0.0f;
    float averageCoefficient = 0.0f;
    float inputAverageCoefficient = 0.0f;
    float peakDecay = 1.0f;
    float slowGainCoefficient = 0.0f;
    float attackCoefficient = 0.0f;
    float releaseCoefficient = 0.0f;

    std::vector<WeightingFilters> channelStates;
    std::vector<float> gainRamp; // K samples of this run's applied gain

    // Running state.
    int blockPosition = 0;
    MorphLine morphLine;
    WetLevels weighted, raw; // the wet signal's powers, loudness-weighted and unweighted
    double slowReference = 0.0, slowWet = 0.0;
    float envelopeA = 0.0f, envelopeB = 0.0f;       // the inputs' powers at input time
    float rawEnvelopeA = 0.0f, rawEnvelopeB = 0.0f; // and unweighted
    loudness::SlowLevel<float> level;               // the loudness law's slow averages
    int blocksToTravel = 0; // control blocks until its travel is worked out again
    int blocksToLaw = 0;    // control blocks until the law's shares are worked out again
    float envelopeShare = 1.0f, blockShare = 1.0f; // the law's targets over the energy mixes
    float lawBlockMix = 0.0f; // the block's energy mix when they were worked out
    float recentPeak = 0.0f;  // the aligned held target's peak, falling by kRiseRatio per frame
    float slowTarget = 1.0f, slowGain = 1.0f, fastGain = 1.0f;
    // The gains' ramps across the current control block.
    float slowFrom = 1.0f, slowTo = 1.0f, fastFrom = 1.0f, fastTo = 1.0f;

    // The reference envelope of the last N / K + 1 blocks and a sliding maximum over them.
    std::vector<float> referenceRing;
    std::vector<float> rawReferenceRing; // the unweighted reference, slot for slot
    std::vector<int> maximumQueue;       // ring slots
    int ringIndex = 0;                   // the slot written next
    // The inputs' target per control block, held over the last few milliseconds, delayed like
    // the reference; and the last few blocks' targets it is held over.
    std::vector<float> heldRing;
    std::vector<float> recentTargets;
    int recentIndex = 0;
    int heldLead = 0; // blocks by which the held target is read ahead of the wet signal
    int queueHead = 0, queueSize = 0;
};

} // namespace tav
