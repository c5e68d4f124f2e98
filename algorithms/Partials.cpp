#include "algorithms/AlgorithmMakers.h"
#include "algorithms/PartialsInternals.h"

#include "algorithms/SpectrumScan.h"
#include "dsp/SafeIndex.h"
#include "dsp/VectorMath.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

namespace tav {
namespace partials {
namespace {

constexpr int kKernelReach = 4; // bins on each side of a partial's frequency
// Peaks below this fraction of the frame's largest magnitude are not partials.
constexpr float kPeakFloor = 0.0016f;
// A peak whose main lobe seen from its reassigned frequency is weaker than this is no sinusoid.
constexpr float kLeastKernel = 0.25f;
constexpr float kQuarterTonesPerOctave = 24.0f;
constexpr int kCentreCell = 48;
// Score boost of the cells next to the previous estimate, and the pull toward it.
constexpr float kPreferredBoost = 1.25f;
constexpr float kNearEstimate = 0.1f;
constexpr float kEstimateMemory = 0.7f;

} // namespace

void WindowKernel::build(int fftSize) {
    const double n = fftSize;
    const double twoPi = 2.0 * std::numbers::pi;
    std::vector<double> window(static_cast<std::size_t>(fftSize));
    double windowSum = 0.0;
    for (int k = 0; k < fftSize; ++k) {
        window[static_cast<std::size_t>(k)] = 0.5 - 0.5 * std::cos(twoPi * k / n);
        windowSum += window[static_cast<std::size_t>(k)];
    }
    // The zero-phase window is even, so its transform is too: compute one half, mirror the other.
    for (int i = kCentre; i <= kLast; ++i) {
        const double offset = static_cast<double>(i) / kSteps - kKernelReach;
        double sum = 0.0;
        for (int k = 0; k < fftSize; ++k)
            sum += window[static_cast<std::size_t>(k)] * std::cos(twoPi * offset * (k - n / 2) / n);
        const auto value = static_cast<float>(sum / windowSum);
        values[static_cast<std::size_t>(i)] = value;
        values[static_cast<std::size_t>(2 * kCentre - i)] = value;
    }
    values[kLast + 1] = values[kLast];
}

namespace {

// Bit k of the result is set when bin j + k stands at or above the floor and above its lower
// neighbour, and no lower than its upper one.
int peakMask(const float* magnitude, int j, __m128 floor) {
    const __m128 m = _mm_loadu_ps(magnitude + j);
    const __m128 below = _mm_loadu_ps(magnitude + j - 1);
    const __m128 above = _mm_loadu_ps(magnitude + j + 1);
    const __m128 peak = _mm_and_ps(_mm_and_ps(_mm_cmpge_ps(m, floor), _mm_cmpgt_ps(m, below)),
                                   _mm_cmpge_ps(m, above));
    return _mm_movemask_ps(peak);
}

// Appends bin j as a candidate when its reassigned frequency shows a sinusoid. The phase field
// holds the bin for now: only the kept candidates need the arctangent.
void considerPeak(const FrameAnalysis& x, int j, const WindowKernel& kernel, Partial* candidates,
                  int& count) {
    const float f = x.frequency[static_cast<std::size_t>(j)];
    const float offset = f - static_cast<float>(j);
    if (std::fabs(offset) > 1.0f)
        return;
    const float g = kernel.at(offset);
    if (g < kLeastKernel)
        return;
    candidates[count++] = {f, x.magnitude[static_cast<std::size_t>(j)] / g, static_cast<float>(j)};
}

// The bit pattern of the n-th largest amplitude (1 <= n <= count). Amplitudes are never
// negative, and non-negative floats order as their bit patterns, so a radix select from the
// most significant byte down finds it without the unpredictable comparisons of a partition.
std::uint32_t nthLargestAmplitudeBits(const Partial* candidates, int count, int n) {
    std::uint32_t prefix = 0;
    std::uint32_t prefixMask = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        // Bucket 256 collects the candidates outside the prefix found so far.
        std::array<int, 257> histogram{};
        for (int i = 0; i < count; ++i) {
            const auto bits = std::bit_cast<std::uint32_t>(candidates[i].amplitude);
            const bool inPrefix = (bits & prefixMask) == prefix;
            ++histogram[inPrefix ? (bits >> shift) & 0xFFu : 256u];
        }
        std::uint32_t digit = 255;
        while (histogram[digit] < n) {
            n -= histogram[digit];
            --digit;
        }
        prefix |= digit << shift;
        prefixMask |= 0xFFu << shift;
    }
    return prefix;
}

// Copies the kMaxPartials loudest candidates to `partials` in their order (of equally loud
// ones at the threshold, the lowest) and returns how many it kept.
int keepLoudest(const Partial* candidates, int count, Partial* partials) {
    if (count <= kMaxPartials) {
        std::copy(candidates, candidates + count, partials);
        return count;
    }
    const std::uint32_t threshold = nthLargestAmplitudeBits(candidates, count, kMaxPartials);
    int above = 0;
    for (int i = 0; i < count; ++i)
        above += std::bit_cast<std::uint32_t>(candidates[i].amplitude) > threshold ? 1 : 0;
    int tiesLeft = kMaxPartials - above;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const auto bits = std::bit_cast<std::uint32_t>(candidates[i].amplitude);
        const bool tie = bits == threshold && tiesLeft > 0;
        if (bits > threshold || tie) {
            partials[kept++] = candidates[i];
            tiesLeft -= tie ? 1 : 0;
        }
    }
    return kept;
}

} // namespace

int pickPartials(const FrameAnalysis& x, int numBins, const WindowKernel& kernel,
                 Partial* candidates, Partial* partials) {
    if (numBins <= 2)
        return 0;
    const float* magnitude = x.magnitude.data();
    const float largest = largestOf(magnitude + 1, numBins - 2);
    if (!(largest > 0.0f))
        return 0;
    const __m128 floor = _mm_set1_ps(kPeakFloor * largest);
    const int lastPeakBin = numBins - 2;
    int count = 0;
    int j = 1;
    // Four bins at a time while the upper neighbours exist; most groups hold no peak.
    for (; j + 3 <= lastPeakBin; j += 4) {
        for (int mask = peakMask(magnitude, j, floor); mask != 0; mask &= mask - 1)
            considerPeak(x, j + std::countr_zero(static_cast<unsigned>(mask)), kernel, candidates,
                         count);
    }
    for (; j <= lastPeakBin; ++j) {
        const float m = magnitude[j];
        if (m >= _mm_cvtss_f32(floor) && m > magnitude[j - 1] && m >= magnitude[j + 1])
            considerPeak(x, j, kernel, candidates, count);
    }
    // The candidates come in ascending frequency already: peaks stand at least two bins apart
    // and each reassigned frequency lies within a bin of its peak.
    count = keepLoudest(candidates, count, partials);
    // The phases four partials at a time; each group reads its bins before it writes phases.
    const auto binOf = [](const Partial& partial) {
        return static_cast<std::size_t>(partial.phase);
    };
    for (int p = 0; p < count; p += 4) {
        Partial* const group = partials + p;
        const auto left = static_cast<std::size_t>(count - p);
        const __m128 im =
            vecmath::gather(group, left, [&](const Partial& q) { return x.im[binOf(q)]; });
        const __m128 re =
            vecmath::gather(group, left, [&](const Partial& q) { return x.re[binOf(q)]; });
        vecmath::scatter(vecmath::atan2(im, re), group, left,
                         [](Partial& q, float phase) { q.phase = phase; });
    }
    return count;
}

namespace {

// re/im[k] -= (or +=) kernel(k - f) * model over the bins a partial at f reaches, four bins at
// a time with the scalar arithmetic in each lane.
template <bool kSubtract>
void applyPartial(const WindowKernel& kernel, float f, float modelRe, float modelIm, int numBins,
                  float* re, float* im) {
    const int first = std::max(static_cast<int>(std::ceil(f)) - kKernelReach, 0);
    const int last = std::min(static_cast<int>(std::floor(f)) + kKernelReach, numBins - 1);
    const __m128 f4 = _mm_set1_ps(f);
    const __m128 modelRe4 = _mm_set1_ps(modelRe);
    const __m128 modelIm4 = _mm_set1_ps(modelIm);
    int k = first;
    for (; k + 3 <= last; k += 4) {
        const __m128 bins =
            _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(k), _mm_setr_epi32(0, 1, 2, 3)));
        const __m128 shape = kernel.at4(_mm_sub_ps(bins, f4));
        const __m128 oldRe = _mm_loadu_ps(re + k);
        const __m128 oldIm = _mm_loadu_ps(im + k);
        if constexpr (kSubtract) {
            _mm_storeu_ps(re + k, _mm_sub_ps(oldRe, _mm_mul_ps(shape, modelRe4)));
            _mm_storeu_ps(im + k, _mm_sub_ps(oldIm, _mm_mul_ps(shape, modelIm4)));
        } else {
            _mm_storeu_ps(re + k, _mm_add_ps(oldRe, _mm_mul_ps(shape, modelRe4)));
            _mm_storeu_ps(im + k, _mm_add_ps(oldIm, _mm_mul_ps(shape, modelIm4)));
        }
    }
    for (; k <= last; ++k) {
        const float shape = kernel.at(static_cast<float>(k) - f);
        if constexpr (kSubtract) {
            re[k] -= shape * modelRe;
            im[k] -= shape * modelIm;
        } else {
            re[k] += shape * modelRe;
            im[k] += shape * modelIm;
        }
    }
}

// amplitude (cos phase + j sin phase) for four partials.
void toCartesian(__m128 amplitude, __m128 phase, float* re, float* im) {
    __m128 sine;
    __m128 cosine;
    vecmath::sinCos(phase, sine, cosine);
    _mm_store_ps(re, _mm_mul_ps(amplitude, cosine));
    _mm_store_ps(im, _mm_mul_ps(amplitude, sine));
}

} // namespace

void subtractPartials(const Partial* list, int count, const WindowKernel& kernel, int numBins,
                      float* re, float* im) {
    for (int p = 0; p < count; p += 4) {
        const Partial* const group = list + p;
        const auto left = static_cast<std::size_t>(count - p);
        alignas(16) float modelRe[4];
        alignas(16) float modelIm[4];
        toCartesian(vecmath::gather(group, left, [](const Partial& q) { return q.amplitude; }),
                    vecmath::gather(group, left, [](const Partial& q) { return q.phase; }), modelRe,
                    modelIm);
        for (std::size_t k = 0; k < left && k < 4; ++k)
            applyPartial<true>(kernel, group[k].frequency, modelRe[k], modelIm[k], numBins, re, im);
    }
}

void IntervalEstimator::reset() {
    estimate = 0.0f;
    known = false;
}

// The first kVoters partials at or above one bin fill the slots; a later, strictly stronger
// partial replaces the weakest slot (the earliest of equally weak ones).
namespace {

// The first slot holding the lowest of kVoters amplitudes, as a scan keeping the first strictly
// lower one finds it: the minimum four lanes at a time, then its first occurrence. A NaN (which
// the scan treats its own way) takes the scan itself.
int findWeakest(const float* amplitudes) {
    static_assert(kVoters % 4 == 0);
    __m128 lowest = _mm_loadu_ps(amplitudes);
    __m128 unordered = _mm_cmpunord_ps(lowest, lowest);
    for (int s = 4; s < kVoters; s += 4) {
        const __m128 four = _mm_loadu_ps(amplitudes + s);
        lowest = _mm_min_ps(lowest, four);
        unordered = _mm_or_ps(unordered, _mm_cmpunord_ps(four, four));
    }
    if (_mm_movemask_ps(unordered) != 0) {
        int weakest = 0;
        for (int s = 1; s < kVoters; ++s) {
            if (amplitudes[s] < amplitudes[weakest])
                weakest = s;
        }
        return weakest;
    }
    lowest = _mm_min_ps(lowest, _mm_shuffle_ps(lowest, lowest, _MM_SHUFFLE(2, 3, 0, 1)));
    lowest = _mm_min_ps(lowest, _mm_shuffle_ps(lowest, lowest, _MM_SHUFFLE(1, 0, 3, 2)));
    for (int s = 0;; s += 4) {
        const int equal = _mm_movemask_ps(_mm_cmpeq_ps(_mm_loadu_ps(amplitudes + s), lowest));
        if (equal != 0)
            return s + std::countr_zero(static_cast<unsigned>(equal));
    }
}

} // namespace

// The weakest slot only changes when it is replaced, so it is searched for only then; the
// slots' amplitudes are kept side by side for that search.
int IntervalEstimator::pickVoters(const Partial* list, int count, Partial* voters) {
    std::array<float, kVoters> amplitudes{};
    int filled = 0;
    int weakest = 0;
    for (int p = 0; p < count; ++p) {
        const Partial& partial = list[p];
        if (partial.frequency < 1.0f)
            continue;
        if (filled < kVoters) {
            amplitudes[static_cast<std::size_t>(filled)] = partial.amplitude;
            voters[filled++] = partial;
            if (filled == kVoters)
                weakest = findWeakest(amplitudes.data());
            continue;
        }
        if (partial.amplitude > voters[weakest].amplitude) {
            voters[weakest] = partial;
            amplitudes[static_cast<std::size_t>(weakest)] = partial.amplitude;
            weakest = findWeakest(amplitudes.data());
        }
    }
    return filled;
}

namespace {

// The cell (0..96, or kOutOfReach) of four pairs' quarter-tone steps lroundf(24 log2(b / a)),
// from approximate = 24 (log2 b - log2 a). That is off from the exact product by far less than
// 1e-3 (a few float roundings), so away from a rounding boundary it rounds to the same step;
// lanes near one, or not finite, are flagged in the returned mask and must be formed exactly.
constexpr int kOutOfReach = kIntervalCells; // a cell past the histogram, never read

// Histogram cell of four steps: step + 48 within reach, otherwise kOutOfReach.
__m128i cellOfStep(__m128i step) {
    const __m128i inReach = _mm_and_si128(_mm_cmpgt_epi32(step, _mm_set1_epi32(-kCentreCell - 1)),
                                          _mm_cmplt_epi32(step, _mm_set1_epi32(kCentreCell + 1)));
    return _mm_or_si128(_mm_and_si128(inReach, _mm_add_epi32(step, _mm_set1_epi32(kCentreCell))),
                        _mm_andnot_si128(inReach, _mm_set1_epi32(kOutOfReach)));
}

int quarterToneCells(__m128 approximate, __m128i& cell) {
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128i truncated = _mm_cvttps_epi32(approximate);
    const __m128 rest = _mm_sub_ps(approximate, _mm_cvtepi32_ps(truncated));
    // Halves away from zero: compare masks are -1, so subtracting one adds one.
    const __m128i nearest = _mm_add_epi32(
        _mm_sub_epi32(truncated, _mm_castps_si128(_mm_cmpge_ps(rest, _mm_set1_ps(0.5f)))),
        _mm_castps_si128(_mm_cmple_ps(rest, _mm_set1_ps(-0.5f))));
    const __m128 distance =
        _mm_andnot_ps(signBit, _mm_sub_ps(approximate, _mm_cvtepi32_ps(nearest)));
    const __m128 clear =
        _mm_and_ps(_mm_cmplt_ps(_mm_andnot_ps(signBit, approximate), _mm_set1_ps(1e6f)),
                   _mm_cmpgt_ps(_mm_andnot_ps(signBit, _mm_sub_ps(distance, _mm_set1_ps(0.5f))),
                                _mm_set1_ps(1e-3f)));
    cell = cellOfStep(nearest);
    return _mm_movemask_ps(clear) ^ 0xF;
}

} // namespace

void IntervalEstimator::update(const Partial* a, int countA, const Partial* b, int countB) {
    if (countA <= 0 || countB <= 0)
        return;
    const int votersA = pickVoters(a, countA, strongestA.data());
    const int votersB = pickVoters(b, countB, strongestB.data());

    // One logarithm per voter instead of one per pair; B's voters side by side for SSE.
    std::array<float, kVoters> logA{}, logB{}, amplitudeB{};
    for (int i = 0; i < votersA; ++i)
        logA[static_cast<std::size_t>(i)] =
            std::log2(strongestA[static_cast<std::size_t>(i)].frequency);
    for (int j = 0; j < votersB; ++j) {
        logB[static_cast<std::size_t>(j)] =
            std::log2(strongestB[static_cast<std::size_t>(j)].frequency);
        amplitudeB[static_cast<std::size_t>(j)] = strongestB[static_cast<std::size_t>(j)].amplitude;
    }

    // Votes out of reach go to one extra cell that is never read, so that no branch depends on
    // the (unpredictable) reach of each pair.
    std::array<float, kIntervalCells + 1> cells{};
    bool anyVote = false;
    for (int i = 0; i < votersA; ++i) {
        const Partial& pa = strongestA[static_cast<std::size_t>(i)];
        const __m128 logA4 = _mm_set1_ps(logA[static_cast<std::size_t>(i)]);
        const __m128 amplitudeA4 = _mm_set1_ps(pa.amplitude);
        for (int j = 0; j < votersB; j += 4) {
            const auto at = static_cast<std::size_t>(j);
            const __m128 approximate = _mm_mul_ps(_mm_set1_ps(kQuarterTonesPerOctave),
                                                  _mm_sub_ps(_mm_loadu_ps(&logB[at]), logA4));
            alignas(16) std::int32_t cell[4];
            alignas(16) float weight[4];
            __m128i cells4;
            const int inexact = quarterToneCells(approximate, cells4);
            _mm_store_si128(reinterpret_cast<__m128i*>(cell), cells4);
            _mm_store_ps(weight,
                         _mm_sqrt_ps(_mm_mul_ps(amplitudeA4, _mm_loadu_ps(&amplitudeB[at]))));
            const int lanes = std::min(4, votersB - j);
            for (int k = 0; k < lanes; ++k) {
                if (inexact & (1 << k)) {
                    const float frequencyB = strongestB[at + static_cast<std::size_t>(k)].frequency;
                    const long step =
                        std::lroundf(kQuarterTonesPerOctave * std::log2(frequencyB / pa.frequency));
                    cell[k] = step < -kCentreCell || step > kCentreCell
                                  ? kOutOfReach
                                  : static_cast<std::int32_t>(step + kCentreCell);
                }
                cells[static_cast<std::size_t>(cell[k])] += weight[k];
                anyVote |= cell[k] != kOutOfReach;
            }
        }
    }
    // Without a single vote there is no evidence for any interval: keep the last estimate.
    if (!anyVote)
        return;

    const long preferred =
        known ? std::lroundf(kQuarterTonesPerOctave * estimate) + kCentreCell : -1000;
    int best = 0;
    float bestScore = -1.0f;
    for (int i = 0; i < kIntervalCells; ++i) {
        const auto c = static_cast<std::size_t>(i);
        float score = cells[c];
        if (i > 0)
            score += 0.5f * cells[c - 1];
        if (i < kIntervalCells - 1)
            score += 0.5f * cells[c + 1];
        if (std::labs(i - preferred) <= 1)
            score *= kPreferredBoost;
        if (score > bestScore) {
            bestScore = score;
            best = i;
        }
    }
    float next = static_cast<float>(best - kCentreCell) / kQuarterTonesPerOctave;
    if (known && std::fabs(next - estimate) < kNearEstimate)
        next = (1.0f - kEstimateMemory) * next + kEstimateMemory * estimate;
    estimate = next;
    known = true;
}

} // namespace partials

namespace {

using partials::kMaxPartials;
using partials::Partial;

constexpr int kMaxOutputPartials = 2 * kMaxPartials;
constexpr int kTableSide = kMaxPartials + 1;
constexpr int kDiagonals = 2 * kMaxPartials + 1;
constexpr int kDiagonalStride = kTableSide + 3; // slack for four-wide stores
constexpr int kBands = 40;
constexpr float kTwoPi = 6.2831855f;
constexpr float kInverseTwoPi = 0.15915494f;
// Cost (octaves) of leaving a partial unpaired in the alignment.
constexpr float kGapCost = 0.08f;
constexpr float kLowestFrequency = 0.5f; // bins, floor inside logarithms
constexpr float kAmplitudeFloor = 1e-12f;
// A previous output partial lends its phase to one at most this far away (bins).
constexpr float kContinuityReach = 1.5f;
constexpr double kBandEnergyFloor = 1e-20;
constexpr float kMaxBandGain = 8.0f;

enum Step : std::uint8_t { kPair = 0, kAOnly = 1, kBOnly = 2 };

// One sinusoid of the output.
struct MorphedPartial {
    float frequency = 0.0f;
    float amplitude = 0.0f;
    float phase = 0.0f;       // drawn in this frame
    float sourcePhase = 0.0f; // analysis phase of the partial it came from
};

// Single tones pair up and glide: both spectra are modelled as partials plus a residual, the
// partials are paired by an order-preserving alignment on a log-frequency axis (after
// compensating the interval between the sounds) and drawn at interpolated frequencies and
// amplitudes; the residuals are mixed band by band at matched energies.
class Partials final : public Algorithm {
public:
    // Setup thread; allocates. Builds the window kernel and band table, sizes every array.
    void prepare(int fftSize, int hopSize, double sampleRate) override;

    // Audio thread; never allocates. Forgets the previous partials and the interval estimate.
    void reset() override;

    // Audio thread; never allocates, whatever the number of peaks.
    void process(const MorphContext& ctx, float* outRe, float* outIm) override;

private:
    void align(int countA, int countB);
    void alignDiagonal(int d, int first, int last, int countB, const float* twoBack,
                       const float* oneBack, float* current);
    void backtrace(int countA, int countB, float x);
    void continuePhases(bool onset);
    void synthesise(float* outRe, float* outIm) const;
    void mixResiduals(float x, float* outRe, float* outIm) const;
    static double bandEnergy(const float* re, const float* im, int first, int end);
    void mixBand(float a, float b, int first, int end, float* outRe, float* outIm) const;

    // Steps are stored by anti-diagonal (i + j), as the alignment fills them, i along each.
    static std::size_t cell(int i, int j) {
        return static_cast<std::size_t>((i + j) * kDiagonalStride + i);
    }

    int numBins = 0;
    float phaseStep = 0.0f;
    partials::IntervalEstimator intervals;
    partials::WindowKernel kernel;
    std::vector<float> residualARe, residualAIm, residualBRe, residualBIm;
    std::vector<Partial> candidates;
    std::array<int, kBands> bandEnd{}; // one past the last bin of each residual band
    std::vector<std::uint8_t> steps;
    // Alignment scratch, three floats of slack for four-wide reads past the last cell.
    std::array<std::array<float, kTableSide + 3>, 3> diagonals{};
    std::array<float, kMaxPartials + 3> alignLogA{}, alignLogB{};
    std::array<Partial, kMaxPartials> partialsA{}, partialsB{};
    std::array<MorphedPartial, kMaxOutputPartials> current{}, previous{};
    int currentCount = 0;
    int previousCount = 0;
};

void Partials::prepare(int fftSize, int hopSize, double sampleRate) {
    numBins = fftSize / 2 + 1;
    phaseStep = static_cast<float>(hopSize) * kTwoPi * (1.0f / static_cast<float>(fftSize));
    kernel.build(fftSize);
    const auto bins = static_cast<std::size_t>(numBins);
    residualARe.assign(bins, 0.0f);
    residualAIm.assign(bins, 0.0f);
    residualBRe.assign(bins, 0.0f);
    residualBIm.assign(bins, 0.0f);
    candidates.assign(bins, Partial{});
    steps.assign(static_cast<std::size_t>(kDiagonals * kDiagonalStride), 0);
    // Third-octave bands counted from 50 Hz; everything below 50 Hz falls in band 0.
    // The band number never falls as the bins ascend.
    bandEnd.fill(0);
    const double binHz = sampleRate * (1.0 / fftSize);
    for (int k = 0; k < numBins; ++k) {
        const double hz = std::max(binHz * static_cast<double>(k), 50.0);
        const int band = clampedIndex(3.0 * std::log2(hz * 0.02), 0, kBands - 1);
        bandEnd[static_cast<std::size_t>(band)] = k + 1;
    }
    for (std::size_t band = 1; band < kBands; ++band)
        bandEnd[band] = std::max(bandEnd[band], bandEnd[band - 1]);
    reset();
}

void Partials::reset() {
    previousCount = 0;
    intervals.reset();
}

void Partials::process(const MorphContext& ctx, float* outRe, float* outIm) {
    std::fill(outRe, outRe + numBins, 0.0f);
    std::fill(outIm, outIm + numBins, 0.0f);

    const bool silentA = ctx.a->energy < kSilentEnergy;
    const bool silentB = ctx.b->energy < kSilentEnergy;
    if (silentA && silentB) {
        previousCount = 0;
        return;
    }
    // With one input silent the other's partials are drawn alone at full amplitude.
    const float x = silentA ? 1.0f : silentB ? 0.0f : std::clamp(ctx.morph, 0.0f, 1.0f);
    const int countA =
        silentA ? 0 : pickPartials(*ctx.a, numBins, kernel, candidates.data(), partialsA.data());
    const int countB =
        silentB ? 0 : pickPartials(*ctx.b, numBins, kernel, candidates.data(), partialsB.data());

    std::copy(ctx.a->re.begin(), ctx.a->re.begin() + numBins, residualARe.begin());
    std::copy(ctx.a->im.begin(), ctx.a->im.begin() + numBins, residualAIm.begin());
    std::copy(ctx.b->re.begin(), ctx.b->re.begin() + numBins, residualBRe.begin());
    std::copy(ctx.b->im.begin(), ctx.b->im.begin() + numBins, residualBIm.begin());
    subtractPartials(partialsA.data(), countA, kernel, numBins, residualARe.data(),
                     residualAIm.data());
    subtractPartials(partialsB.data(), countB, kernel, numBins, residualBRe.data(),
                     residualBIm.data());

    intervals.update(partialsA.data(), countA, partialsB.data(), countB);
    align(countA, countB);
    backtrace(countA, countB, x);
    continuePhases(ctx.a->onset || ctx.b->onset);
    synthesise(outRe, outIm);
    mixResiduals(x, outRe, outIm);

    previous = current;
    previousCount = currentCount;
}

// Edit-distance table between the two frequency-ordered lists; a pair costs its distance in
// octaves after removing the estimated interval, an unpaired partial a fixed gap cost.
// The table is filled one anti-diagonal (i + j constant) at a time: its cells depend only on
// the two diagonals before it, so four of them are decided at once instead of each waiting for
// its left neighbour. Costs live in three rolling diagonals indexed by i; every cell does the
// scalar arithmetic and comparisons exactly, so the decisions are those of the row-wise table.
void Partials::align(int countA, int countB) {
    const float interval = intervals.interval();
    // logA[i - 1] for row i; logB reversed so that a diagonal reads it in ascending i.
    for (int i = 0; i < countA; ++i)
        alignLogA[static_cast<std::size_t>(i)] =
            std::log2(
                std::max(partialsA[static_cast<std::size_t>(i)].frequency, kLowestFrequency)) +
            interval;
    for (int j = 0; j < countB; ++j)
        alignLogB[static_cast<std::size_t>(countB - 1 - j)] =
            std::log2(std::max(partialsB[static_cast<std::size_t>(j)].frequency, kLowestFrequency));

    float* twoBack = diagonals[0].data();
    float* oneBack = diagonals[1].data();
    float* current = diagonals[2].data();
    for (int d = 0; d <= countA + countB; ++d) {
        const int first = std::max(1, d - countB);
        const int last = std::min(countA, d - 1);
        if (first <= last)
            alignDiagonal(d, first, last, countB, twoBack, oneBack, current);
        // The edges after the inner cells, whose four-wide stores may run past `last`.
        if (d <= countA) {
            current[d] = kGapCost * static_cast<float>(d);
            if (d > 0)
                steps[cell(d, 0)] = kAOnly;
        }
        if (d <= countB) {
            current[0] = kGapCost * static_cast<float>(d);
            if (d > 0)
                steps[cell(0, d)] = kBOnly;
        }
        float* const freed = twoBack;
        twoBack = oneBack;
        oneBack = current;
        current = freed;
    }
}

// Cells (i, d - i) for i = first..last; the costs of cells up to three past `last` are
// scratch.
void Partials::alignDiagonal(int d, int first, int last, int countB, const float* twoBack,
                             const float* oneBack, float* current) {
    const __m128 gap = _mm_set1_ps(kGapCost);
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128i aOnly = _mm_set1_epi32(kAOnly);
    const __m128i bOnly = _mm_set1_epi32(kBOnly);
    const float* logB = alignLogB.data() + (countB - d);
    for (int i = first; i <= last; i += 4) {
        const __m128 distance = _mm_andnot_ps(
            signBit, _mm_sub_ps(_mm_loadu_ps(&alignLogA[static_cast<std::size_t>(i - 1)]),
                                _mm_loadu_ps(logB + i)));
        const __m128 pair = _mm_add_ps(distance, _mm_loadu_ps(twoBack + i - 1));
        const __m128 up = _mm_add_ps(_mm_loadu_ps(oneBack + i - 1), gap);
        const __m128 left = _mm_add_ps(_mm_loadu_ps(oneBack + i), gap);
        const __m128 pairWins = _mm_and_ps(_mm_cmple_ps(pair, up), _mm_cmple_ps(pair, left));
        const __m128 leftWins = _mm_cmpgt_ps(up, left);
        const __m128 gapCost = _mm_or_ps(_mm_and_ps(leftWins, left), _mm_andnot_ps(leftWins, up));
        _mm_storeu_ps(current + i,
                      _mm_or_ps(_mm_and_ps(pairWins, pair), _mm_andnot_ps(pairWins, gapCost)));
        const __m128i gapStep = _mm_or_si128(_mm_and_si128(_mm_castps_si128(leftWins), bOnly),
                                             _mm_andnot_si128(_mm_castps_si128(leftWins), aOnly));
        // The four decisions narrowed to bytes and stored at once; lanes past `last` land in
        // the diagonal's slack.
        const __m128i step = _mm_andnot_si128(_mm_castps_si128(pairWins), gapStep);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(step, step), step);
        const auto packed = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
        std::memcpy(&steps[cell(i, d - i)], &packed, sizeof packed);
    }
}

void Partials::backtrace(int countA, int countB, float x) {
    int i = countA;
    int j = countB;
    currentCount = 0;
    auto emit = [this](float frequency, float amplitude, float sourcePhase) {
        if (amplitude > 0.0f)
            current[static_cast<std::size_t>(currentCount++)] = {frequency, amplitude, 0.0f,
                                                                 sourcePhase};
    };
    while ((i > 0 || j > 0) && currentCount < kMaxOutputPartials) {
        const std::uint8_t step = steps[cell(i, j)];
        if (step == kPair && i > 0 && j > 0) {
            const Partial& a = partialsA[static_cast<std::size_t>(i - 1)];
            const Partial& b = partialsB[static_cast<std::size_t>(j - 1)];
            const float frequency =
                std::exp(x * std::log(std::max(b.frequency, kLowestFrequency)) +
                         (1.0f - x) * std::log(std::max(a.frequency, kLowestFrequency)));
            const float amplitude = std::exp((1.0f - x) * std::log(a.amplitude + kAmplitudeFloor) +
                                             x * std::log(b.amplitude + kAmplitudeFloor));
            emit(frequency, amplitude, x >= 0.5f ? b.phase : a.phase);
            --i;
            --j;
        } else if (step == kPair && i > 0) {
            --i;
        } else if (step == kAOnly && i > 0) {
            const Partial& a = partialsA[static_cast<std::size_t>(i - 1)];
            emit(a.frequency, (1.0f - x) * a.amplitude, a.phase);
            --i;
        } else if (j > 0) {
            const Partial& b = partialsB[static_cast<std::size_t>(j - 1)];
            emit(b.frequency, x * b.amplitude, b.phase);
            --j;
        } else {
            --i;
        }
    }
    std::sort(
        current.begin(), current.begin() + currentCount,
        [](const MorphedPartial& p, const MorphedPartial& q) { return p.frequency < q.frequency; });
}

// Each output partial runs on from the nearest previous one (a cursor that only moves up, as
// both lists ascend) when that lies within reach; otherwise, and at an onset, it takes the
// analysis phase of its source.
void Partials::continuePhases(bool onset) {
    int c = 0;
    for (int p = 0; p < currentCount; ++p) {
        MorphedPartial& partial = current[static_cast<std::size_t>(p)];
        partial.phase = partial.sourcePhase;
        if (onset || previousCount <= 0)
            continue;
        const float f = partial.frequency;
        auto distance = [&](int index) {
            return std::fabs(previous[static_cast<std::size_t>(index)].frequency - f);
        };
        while (c + 1 < previousCount && distance(c + 1) <= distance(c))
            ++c;
        if (distance(c) < kContinuityReach) {
            const MorphedPartial& before = previous[static_cast<std::size_t>(c)];
            float phase = before.phase + (before.frequency + f) * 0.5f * phaseStep;
            phase -= std::round(phase * kInverseTwoPi) * kTwoPi;
            partial.phase = phase;
        }
    }
}

void Partials::synthesise(float* outRe, float* outIm) const {
    for (int p = 0; p < currentCount; p += 4) {
        const MorphedPartial* const group = &current[static_cast<std::size_t>(p)];
        const auto left = static_cast<std::size_t>(currentCount - p);
        alignas(16) float modelRe[4];
        alignas(16) float modelIm[4];
        partials::toCartesian(
            vecmath::gather(group, left, [](const MorphedPartial& q) { return q.amplitude; }),
            vecmath::gather(group, left, [](const MorphedPartial& q) { return q.phase; }), modelRe,
            modelIm);
        for (std::size_t k = 0; k < left && k < 4; ++k)
            partials::applyPartial<false>(kernel, group[k].frequency, modelRe[k], modelIm[k],
                                          numBins, outRe, outIm);
    }
}

// Equal-power crossfade of the two residuals, each band first brought to the geometric
// interpolation of the two band energies (gain at most 8).
// Bands are runs of ascending bins, so each is summed and scaled as one plain loop.
void Partials::mixResiduals(float x, float* outRe, float* outIm) const {
    std::array<double, kBands> energyA{}, energyB{};
    int bandStart = 0;
    for (std::size_t band = 0; band < kBands; ++band) {
        energyA[band] =
            bandEnergy(residualARe.data(), residualAIm.data(), bandStart, bandEnd[band]);
        energyB[band] =
            bandEnergy(residualBRe.data(), residualBIm.data(), bandStart, bandEnd[band]);
        bandStart = bandEnd[band];
    }
    std::array<float, kBands> gainA{}, gainB{};
    for (std::size_t band = 0; band < kBands; ++band) {
        gainA[band] = 1.0f;
        gainB[band] = 1.0f;
        const double ea = energyA[band];
        const double eb = energyB[band];
        if (ea > kBandEnergyFloor && eb > kBandEnergyFloor) {
            const double target = std::exp((1.0 - x) * std::log(ea) + x * std::log(eb));
            gainA[band] = std::min(static_cast<float>(std::sqrt(target / ea)), kMaxBandGain);
            gainB[band] = std::min(static_cast<float>(std::sqrt(target / eb)), kMaxBandGain);
        }
    }
    const float weightA = std::sqrt(1.0f - x);
    const float weightB = std::sqrt(x);
    bandStart = 0;
    for (std::size_t band = 0; band < kBands; ++band) {
        const float a = weightA * gainA[band];
        const float b = weightB * gainB[band];
        mixBand(a, b, bandStart, bandEnd[band], outRe, outIm);
        bandStart = bandEnd[band];
    }
}

// out += b * residual B + a * residual A over bins first..end-1, four at a time with the
// scalar arithmetic in each lane.
void Partials::mixBand(float a, float b, int first, int end, float* outRe, float* outIm) const {
    const __m128 a4 = _mm_set1_ps(a);
    const __m128 b4 = _mm_set1_ps(b);
    const float* aRe = residualARe.data();
    const float* aIm = residualAIm.data();
    const float* bRe = residualBRe.data();
    const float* bIm = residualBIm.data();
    int k = first;
    for (; k + 4 <= end; k += 4) {
        const __m128 mixRe = _mm_add_ps(_mm_mul_ps(b4, _mm_loadu_ps(bRe + k)),
                                        _mm_mul_ps(a4, _mm_loadu_ps(aRe + k)));
        const __m128 mixIm = _mm_add_ps(_mm_mul_ps(b4, _mm_loadu_ps(bIm + k)),
                                        _mm_mul_ps(a4, _mm_loadu_ps(aIm + k)));
        _mm_storeu_ps(outRe + k, _mm_add_ps(_mm_loadu_ps(outRe + k), mixRe));
        _mm_storeu_ps(outIm + k, _mm_add_ps(_mm_loadu_ps(outIm + k), mixIm));
    }
    for (; k < end; ++k) {
        outRe[k] += b * bRe[k] + a * aRe[k];
        outIm[k] += b * bIm[k] + a * aIm[k];
    }
}

// Sum of re^2 + im^2 over bins first..end-1 in double, in four running sums (two lanes of two
// registers) so that consecutive bins do not wait for each other's addition.
double Partials::bandEnergy(const float* re, const float* im, int first, int end) {
    __m128d low = _mm_setzero_pd();
    __m128d high = _mm_setzero_pd();
    int k = first;
    for (; k + 4 <= end; k += 4) {
        const __m128 r = _mm_loadu_ps(re + k);
        const __m128 i = _mm_loadu_ps(im + k);
        const __m128d rLow = _mm_cvtps_pd(r);
        const __m128d iLow = _mm_cvtps_pd(i);
        const __m128d rHigh = _mm_cvtps_pd(_mm_movehl_ps(r, r));
        const __m128d iHigh = _mm_cvtps_pd(_mm_movehl_ps(i, i));
        low = _mm_add_pd(low, _mm_add_pd(_mm_mul_pd(rLow, rLow), _mm_mul_pd(iLow, iLow)));
        high = _mm_add_pd(high, _mm_add_pd(_mm_mul_pd(rHigh, rHigh), _mm_mul_pd(iHigh, iHigh)));
    }
    alignas(16) double lanes[2];
    _mm_store_pd(lanes, _mm_add_pd(low, high));
    double sum = lanes[0] + lanes[1];
    for (; k < end; ++k)
        sum += static_cast<double>(re[k]) * re[k] + static_cast<double>(im[k]) * im[k];
    return sum;
}

} // namespace

std::unique_ptr<Algorithm> makePartials() {
    return std::make_unique<Partials>();
}

} // namespace tav
