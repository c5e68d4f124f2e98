#pragma once

namespace tav {

// One channel's loudness-weighting filters, run on four lanes at once: input A, input B and
// the wet signal (the fourth lane idles). Two direct-form sections per lane.
struct WeightingFilters {
    alignas(16) float x1[4] = {}, x2[4] = {}; // high-pass section: last two inputs
    alignas(16) float u1[4] = {}, u2[4] = {}; // its last two outputs, the low-pass inputs
    alignas(16) float y1[4] = {}, y2[4] = {}; // low-pass section: last two outputs
    alignas(16) float power[4] = {};          // weighted power summed since it was last taken
    alignas(16) float rawPower[4] = {};       // the same lanes' unweighted power
    bool resting = true; // every memory is exactly zero (kept by settleNegligibleMemories)
};

// The sections' coefficients: the high-pass section's feedback, the low-pass section's partial
// zero and its feedback.
struct WeightingCoefficients {
    float highFeedback1 = 0.0f, highFeedback2 = 0.0f;
    float lowZero = 0.0f, lowFeedback1 = 0.0f, lowFeedback2 = 0.0f;
};

// The signals one channel's filters take: input A, input B and the wet signal.
struct WeightingInputs {
    const float* a;
    const float* b;
    const float* wet;
};

namespace weighting {

// Audio thread; never allocates. Runs one channel's filters over count samples of its inputs
// and adds to their powers.
void run(WeightingFilters& filters, WeightingInputs in, int count,
         const WeightingCoefficients& coefficients);

// Any thread; never allocates. Whether every filter memory is exactly zero: fed only zeros,
// such filters stay at rest and add no power.
bool atRest(const WeightingFilters& filters);

// Audio thread; never allocates. Clears memories that have decayed far below any signal, and
// notes whether the filters now rest; called after every run.
void settleNegligibleMemories(WeightingFilters& filters);

// Two channels' filters side by side, in the eight lanes of AVX registers: exactly what run
// does for each, at about half the cost.
using PairRun = void (*)(WeightingFilters& first, WeightingFilters& second, WeightingInputs inFirst,
                         WeightingInputs inSecond, int count,
                         const WeightingCoefficients& coefficients);

// Any thread; never allocates. The AVX pair run, or null where the processor or the operating
// system lacks AVX.
PairRun avxPairRun();

} // namespace weighting
} // namespace tav
