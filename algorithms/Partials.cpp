#include "algorithms/AlgorithmMakers.h"
#include "algorithms/PartialsInternals.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace tav {
namespace partials {
namespace {

constexpr int kKernelSteps = 32;   // table entries per bin
constexpr int kKernelCentre = 128; // table index of offset 0
constexpr int kKernelLast = 256;   // table index of offset +4
constexpr int kKernelReach = 4;    // bins on each side of a partial's frequency
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

bool byAmplitudeDescending(const Partial& x, const Partial& y) {
    return x.amplitude > y.amplitude;
}
bool byFrequency(const Partial& x, const Partial& y) {
    return x.frequency < y.frequency;
}

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
    for (int i = kKernelCentre; i <= kKernelLast; ++i) {
        const double offset = static_cast<double>(i) / kKernelSteps - kKernelReach;
        double sum = 0.0;
        for (int k = 0; k < fftSize; ++k)
            sum += window[static_cast<std::size_t>(k)] * std::cos(twoPi * offset * (k - n / 2) / n);
        const auto value = static_cast<float>(sum / windowSum);
        values[static_cast<std::size_t>(i)] = value;
        values[static_cast<std::size_t>(2 * kKernelCentre - i)] = value;
    }
    values[kKernelLast + 1] = values[kKernelLast];
}

float WindowKernel::at(float offsetBins) const {
    const float t =
        offsetBins * static_cast<float>(kKernelSteps) + static_cast<float>(kKernelCentre);
    if (!(t > 0.0f && t < static_cast<float>(kKernelLast)))
        return 0.0f;
    const auto i = static_cast<std::size_t>(t);
    return values[i] + (values[i + 1] - values[i]) * (t - static_cast<float>(i));
}

int pickPartials(const FrameAnalysis& x, int numBins, const WindowKernel& kernel,
                 Partial* candidates, Partial* partials) {
    if (numBins <= 2)
        return 0;
    const float* magnitude = x.magnitude.data();
    const float largest = *std::max_element(magnitude + 1, magnitude + numBins - 1);
    if (!(largest > 0.0f))
        return 0;
    const float floor = kPeakFloor * largest;
    int count = 0;
    for (int j = 1; j <= numBins - 2; ++j) {
        const float m = magnitude[j];
        if (!(m >= floor && m > magnitude[j - 1] && m >= magnitude[j + 1]))
            continue;
        const float f = x.frequency[static_cast<std::size_t>(j)];
        const float offset = f - static_cast<float>(j);
        if (std::fabs(offset) > 1.0f)
            continue;
        const float g = kernel.at(offset);
        if (g < kLeastKernel)
            continue;
        const auto k = static_cast<std::size_t>(j);
        candidates[count++] = {f, m / g, std::atan2(x.im[k], x.re[k])};
    }
    if (count > kMaxPartials) {
        std::nth_element(candidates, candidates + kMaxPartials - 1, candidates + count,
                         byAmplitudeDescending);
        count = kMaxPartials;
    }
    std::copy(candidates, candidates + count, partials);
    std::sort(partials, partials + count, byFrequency);
    return count;
}

void subtractPartials(const Partial* list, int count, const WindowKernel& kernel, int numBins,
                      float* re, float* im) {
    for (int p = 0; p < count; ++p) {
        const Partial& partial = list[p];
        const float f = partial.frequency;
        const float modelRe = partial.amplitude * std::cos(partial.phase);
        const float modelIm = partial.amplitude * std::sin(partial.phase);
        const int first = std::max(static_cast<int>(std::ceil(f)) - kKernelReach, 0);
        const int last = std::min(static_cast<int>(std::floor(f)) + kKernelReach, numBins - 1);
        for (int k = first; k <= last; ++k) {
            const float shape = kernel.at(static_cast<float>(k) - f);
            re[k] -= shape * modelRe;
            im[k] -= shape * modelIm;
        }
    }
}

void IntervalEstimator::reset() {
    estimate = 0.0f;
    known = false;
}

// The first kVoters partials at or above one bin fill the slots; a later, strictly stronger
// partial replaces the weakest slot (the earliest of equally weak ones).
int IntervalEstimator::pickVoters(const Partial* list, int count, Partial* voters) {
    int filled = 0;
    for (int p = 0; p < count; ++p) {
        const Partial& partial = list[p];
        if (partial.frequency < 1.0f)
            continue;
        if (filled < kVoters) {
            voters[filled++] = partial;
            continue;
        }
        int weakest = 0;
        for (int s = 1; s < kVoters; ++s) {
            if (voters[s].amplitude < voters[weakest].amplitude)
                weakest = s;
        }
        if (partial.amplitude > voters[weakest].amplitude)
            voters[weakest] = partial;
    }
    return filled;
}

void IntervalEstimator::update(const Partial* a, int countA, const Partial* b, int countB) {
    if (countA <= 0 || countB <= 0)
        return;
    const int votersA = pickVoters(a, countA, strongestA.data());
    const int votersB = pickVoters(b, countB, strongestB.data());

    std::array<float, kIntervalCells> cells{};
    bool anyVote = false;
    for (int i = 0; i < votersA; ++i) {
        const Partial& pa = strongestA[static_cast<std::size_t>(i)];
        for (int j = 0; j < votersB; ++j) {
            const Partial& pb = strongestB[static_cast<std::size_t>(j)];
            const long step =
                std::lroundf(kQuarterTonesPerOctave * std::log2(pb.frequency / pa.frequency));
            if (step < -kCentreCell || step > kCentreCell)
                continue;
            cells[static_cast<std::size_t>(step + kCentreCell)] +=
                std::sqrt(pa.amplitude * pb.amplitude);
            anyVote = true;
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
constexpr int kBands = 40;
constexpr float kTwoPi = 6.2831855f;
constexpr float kInverseTwoPi = 0.15915494f;
constexpr float kSilentEnergy = 1e-12f;
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
    void backtrace(int countA, int countB, float x);
    void continuePhases(bool onset);
    void synthesise(float* outRe, float* outIm) const;
    void mixResiduals(float x, float* outRe, float* outIm) const;

    std::size_t cell(int i, int j) const { return static_cast<std::size_t>(i * kTableSide + j); }

    int numBins = 0;
    float phaseStep = 0.0f;
    partials::IntervalEstimator intervals;
    partials::WindowKernel kernel;
    std::vector<float> residualARe, residualAIm, residualBRe, residualBIm;
    std::vector<Partial> candidates;
    std::vector<int> bandOfBin;
    std::vector<std::uint8_t> steps;
    std::vector<float> costs;
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
    steps.assign(static_cast<std::size_t>(kTableSide * kTableSide), 0);
    costs.assign(static_cast<std::size_t>(kTableSide * kTableSide), 0.0f);
    // Third-octave bands counted from 50 Hz; everything below 50 Hz falls in band 0.
    bandOfBin.assign(bins, 0);
    const double binHz = sampleRate * (1.0 / fftSize);
    for (std::size_t k = 0; k < bins; ++k) {
        const double hz = std::max(binHz * static_cast<double>(k), 50.0);
        bandOfBin[k] = std::clamp(static_cast<int>(3.0 * std::log2(hz * 0.02)), 0, kBands - 1);
    }
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
void Partials::align(int countA, int countB) {
    const float interval = intervals.interval();
    std::array<float, kMaxPartials> logB{};
    for (int j = 0; j < countB; ++j)
        logB[static_cast<std::size_t>(j)] =
            std::log2(std::max(partialsB[static_cast<std::size_t>(j)].frequency, kLowestFrequency));

    costs[cell(0, 0)] = 0.0f;
    for (int i = 1; i <= countA; ++i) {
        costs[cell(i, 0)] = kGapCost * static_cast<float>(i);
        steps[cell(i, 0)] = kAOnly;
    }
    for (int j = 1; j <= countB; ++j) {
        costs[cell(0, j)] = kGapCost * static_cast<float>(j);
        steps[cell(0, j)] = kBOnly;
    }
    for (int i = 1; i <= countA; ++i) {
        const float logA = std::log2(std::max(partialsA[static_cast<std::size_t>(i - 1)].frequency,
                                              kLowestFrequency)) +
                           interval;
        for (int j = 1; j <= countB; ++j) {
            const float pair =
                std::fabs(logA - logB[static_cast<std::size_t>(j - 1)]) + costs[cell(i - 1, j - 1)];
            const float up = costs[cell(i - 1, j)] + kGapCost;
            const float left = costs[cell(i, j - 1)] + kGapCost;
            if (pair <= up && pair <= left) {
                costs[cell(i, j)] = pair;
                steps[cell(i, j)] = kPair;
            } else if (up > left) {
                costs[cell(i, j)] = left;
                steps[cell(i, j)] = kBOnly;
            } else {
                costs[cell(i, j)] = up;
                steps[cell(i, j)] = kAOnly;
            }
        }
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
    for (int p = 0; p < currentCount; ++p) {
        const MorphedPartial& partial = current[static_cast<std::size_t>(p)];
        const float f = partial.frequency;
        const float modelRe = partial.amplitude * std::cos(partial.phase);
        const float modelIm = partial.amplitude * std::sin(partial.phase);
        const int first = std::max(static_cast<int>(std::ceil(f)) - 4, 0);
        const int last = std::min(static_cast<int>(std::floor(f)) + 4, numBins - 1);
        for (int k = first; k <= last; ++k) {
            const float shape = kernel.at(static_cast<float>(k) - f);
            outRe[k] += shape * modelRe;
            outIm[k] += shape * modelIm;
        }
    }
}

// Equal-power crossfade of the two residuals, each band first brought to the geometric
// interpolation of the two band energies (gain at most 8).
void Partials::mixResiduals(float x, float* outRe, float* outIm) const {
    std::array<double, kBands> energyA{}, energyB{};
    for (int k = 0; k < numBins; ++k) {
        const auto i = static_cast<std::size_t>(k);
        const auto band = static_cast<std::size_t>(bandOfBin[i]);
        energyA[band] += static_cast<double>(residualARe[i]) * residualARe[i] +
                         static_cast<double>(residualAIm[i]) * residualAIm[i];
        energyB[band] += static_cast<double>(residualBRe[i]) * residualBRe[i] +
                         static_cast<double>(residualBIm[i]) * residualBIm[i];
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
    for (int k = 0; k < numBins; ++k) {
        const auto i = static_cast<std::size_t>(k);
        const auto band = static_cast<std::size_t>(bandOfBin[i]);
        const float a = weightA * gainA[band];
        const float b = weightB * gainB[band];
        outRe[k] += b * residualBRe[i] + a * residualARe[i];
        outIm[k] += b * residualBIm[i] + a * residualAIm[i];
    }
}

} // namespace

std::unique_ptr<Algorithm> makePartials() {
    return std::make_unique<Partials>();
}

} // namespace tav
