#include "algorithms/AlgorithmMakers.h"
#include "algorithms/SpectrumScan.h"
#include "dsp/VectorMath.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

namespace tav {
namespace {

constexpr float kTwoPi = 6.2831855f;
constexpr float kInverseTwoPi = 0.15915494f;
// Regions quieter than this fraction of the frame's loudest bin do not decide the valleys.
constexpr float kSegmentThreshold = 1e-5f;
// Claimed spans up to this many spectra in total are settled by a plain scan.
constexpr std::size_t kScanWidthFactor = 16;
// A run of claims is settled as a sliding window when its spans cover each bin this many times
// on average; thinner runs are cheaper taken claim by claim.
constexpr int kRunOverlap = 3;
// A share left below this counts as used up.
constexpr float kShareUsedUp = 1e-9f;
// A claim from the previous frame carries its phase only to peaks at most this far (bins).
constexpr float kContinuityReach = 4.0f;
// Floor of a peak frequency (bins) inside the logarithmic interpolation.
constexpr float kLowestPeakFrequency = 0.5f;

// out += (c + js) * (re + j im) * w over count bins, four lanes at a time (SSE2, which every
// x86-64 CPU has); each lane does the scalar arithmetic in the same order.
void addRotated(const float* re, const float* im, int count, float c, float s, float w,
                float* outRe, float* outIm) {
    const __m128 c4 = _mm_set1_ps(c);
    const __m128 s4 = _mm_set1_ps(s);
    const __m128 w4 = _mm_set1_ps(w);
    int k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m128 r = _mm_loadu_ps(re + k);
        const __m128 i = _mm_loadu_ps(im + k);
        const __m128 addRe = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(c4, r), _mm_mul_ps(s4, i)), w4);
        const __m128 addIm = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(s4, r), _mm_mul_ps(c4, i)), w4);
        _mm_storeu_ps(outRe + k, _mm_add_ps(_mm_loadu_ps(outRe + k), addRe));
        _mm_storeu_ps(outIm + k, _mm_add_ps(_mm_loadu_ps(outIm + k), addIm));
    }
    for (; k < count; ++k) {
        outRe[k] += (c * re[k] - s * im[k]) * w;
        outIm[k] += (s * re[k] + c * im[k]) * w;
    }
}

// lroundf of a frequency in bins, inline for the values a spectrum holds.
int nearestBin(float frequency) {
    if (!(frequency >= 0.0f && frequency < 1e6f))
        return static_cast<int>(std::lroundf(frequency));
    const int whole = static_cast<int>(frequency);
    return whole + (frequency - static_cast<float>(whole) >= 0.5f ? 1 : 0);
}

// std::round (halves away from zero), inline for values well inside the int range; the
// difference from the truncated value is exact there.
float roundHalfAway(float v) {
    if (!(std::fabs(v) < 1e6f))
        return std::round(v);
    const int whole = static_cast<int>(v);
    const float rest = v - static_cast<float>(whole);
    return static_cast<float>(whole + (rest >= 0.5f ? 1 : 0) - (rest <= -0.5f ? 1 : 0));
}

// The bins one drawn pair asks to hand its phase and frequency on to the next frame.
struct Claim {
    float amount = 0.0f; // the pair's transported share, positive
    int first = 0;
    int last = 0; // one past the last bin
    float phase = 0.0f;
    float frequency = 0.0f;
};

// One peak region of one input's spectrum: from one valley to the next.
struct Segment {
    int start = 0;
    int end = 0; // one past the last bin
    int peakBin = 0;
    float peakFrequency = 0.0f;
    float share = 0.0f; // of the frame's total mass, 0..1
    float mass = 0.0f;
    float logPeak = 0.0f; // ln of the peak frequency (at least kLowestPeakFrequency)
};

// One matched portion of the walk: a region of each side and the share moved between them.
struct Pair {
    const Segment* a = nullptr; // side 1
    const Segment* b = nullptr; // side 2
    float amount = 0.0f;
    float weightA = 0.0f; // the parts of the two regions this pair draws, faded by Morph
    float weightB = 0.0f;
    float target = 0.0f; // frequency in bins, interpolated between the two peaks
    int bin = 0;         // where the peaks land
    float phase = 0.0f;
    float cosPhase = 0.0f;
    float sinPhase = 0.0f;
};

// The harmonics slide from A to B: both spectra are cut into peak regions, paired by the
// monotone transport plan along the frequency axis, and each matched portion is drawn at a
// frequency interpolated between its two peaks, its phase carried on from the last frame.
class Transport final : public Algorithm {
public:
    // Setup thread; allocates. Sizes the region lists and per-bin memories for fftSize/2 + 1 bins.
    void prepare(int fftSize, int hopSize, double sampleRate) override;

    // Audio thread; never allocates. Every bin becomes unclaimed.
    void reset() override;

    // Audio thread; never allocates (at most numBins regions per input, as reserved).
    void process(const MorphContext& ctx, float* outRe, float* outIm) override;

private:
    struct Side {
        const FrameAnalysis* analysis;
        const Segment* segment;
        float weight;
    };

    void segment(const FrameAnalysis& x, std::vector<Segment>& segments);
    static void logPeaks(std::vector<Segment>& segments);
    int findRegionStarts(const float* magnitude, const float* frequency, float threshold);
    static void classifyBins(const float* magnitude, const float* frequency, int base, int bins,
                             float threshold, std::uint64_t& decided, std::uint64_t& up);
    void walkTransportPlan(const FrameAnalysis& side1, const FrameAnalysis& side2, float t,
                           bool onset, float* outRe, float* outIm);
    void listPairs(float t);
    void placePairs(float t);
    void phasePairs(const FrameAnalysis& side1, const FrameAnalysis& side2, bool onset);
    void turnPairs();
    void drawPairs(const FrameAnalysis& side1, const FrameAnalysis& side2, float* outRe,
                   float* outIm);
    enum class SideOf { first, second };
    static const Segment* regionOf(const Pair& pair, SideOf side) {
        return side == SideOf::first ? pair.a : pair.b;
    }
    static float weightOf(const Pair& pair, SideOf side) {
        return side == SideOf::first ? pair.weightA : pair.weightB;
    }
    bool continuesRun(std::size_t before, std::size_t next, SideOf side) const;
    void renderRun(const FrameAnalysis& analysis, SideOf side, std::size_t first, float* outRe,
                   float* outIm) const;
    void drawShifted(const FrameAnalysis& analysis, const Segment& s, int targetBin, float c,
                     float sn, float w, float* outRe, float* outIm) const;
    void render(const Side& side, int targetBin, float cosPhase, float sinPhase, float* outRe,
                float* outIm) const;
    void claim(const Segment& a, const Segment& b, int targetBin, float amount, float phase,
               float targetFrequency);
    void settleClaims();
    void settleByScan();
    void settleRun(std::size_t first, std::size_t end);
    void takeBins(const Claim& c, int from, int to);
    void settleBySort();
    void sortClaimsByAmount();
    int findUnsettled(int bin);

    int numBins = 0;
    float phaseStep = 0.0f;
    std::vector<Segment> segmentsA, segmentsB;
    std::vector<float> lastPhase, lastFrequency;
    std::vector<float> nextPhase, nextFrequency;
    std::vector<Pair> pairs;            // this frame's walk, in order
    std::vector<Claim> claims;          // this frame's pairs, in walk order until settled
    std::vector<Claim> claimScratch;    // the other half of the claims' sort
    std::vector<std::size_t> runWindow; // the queue of settleRun: claim indices
    std::vector<int> nextUnsettled;     // per bin: the next bin not yet settled (union-find)
    std::vector<float> nextClaim;       // per bin: the largest share claiming it so far
    std::vector<int> regionStarts;      // scratch of segment: numBins + 1 entries
    std::size_t claimedWidth = 0;       // this frame's claimed spans, summed
};

void Transport::prepare(int fftSize, int hopSize, double) {
    numBins = fftSize / 2 + 1;
    phaseStep = static_cast<float>(hopSize) * kTwoPi / static_cast<float>(fftSize);
    const auto bins = static_cast<std::size_t>(numBins);
    segmentsA.clear();
    segmentsB.clear();
    segmentsA.reserve(bins);
    segmentsB.reserve(bins);
    lastPhase.assign(bins, 0.0f);
    lastFrequency.assign(bins, -1.0f);
    nextPhase.assign(bins, 0.0f);
    nextFrequency.assign(bins, -1.0f);
    // Every step of the walk moves past a region of one side or both: fewer pairs than regions.
    pairs.clear();
    pairs.reserve(2 * bins);
    claims.clear();
    claims.reserve(2 * bins);
    claimScratch.assign(2 * bins, Claim{});
    runWindow.assign(2 * bins, 0);
    nextUnsettled.assign(bins + 1, 0);
    nextClaim.assign(bins, 0.0f);
    regionStarts.assign(bins + 1, 0);
}

void Transport::reset() {
    // Phases need no clearing: they are never read while the frequency beside them is -1.
    std::fill(lastFrequency.begin(), lastFrequency.end(), -1.0f);
    std::fill(nextFrequency.begin(), nextFrequency.end(), -1.0f);
}

void Transport::process(const MorphContext& ctx, float* outRe, float* outIm) {
    std::fill(outRe, outRe + numBins, 0.0f);
    std::fill(outIm, outIm + numBins, 0.0f);
    std::fill(nextFrequency.begin(), nextFrequency.end(), -1.0f);
    claims.clear();
    claimedWidth = 0;

    const bool silentA = ctx.a->energy < kSilentEnergy;
    const bool silentB = ctx.b->energy < kSilentEnergy;
    if (silentA && silentB) {
        std::swap(lastFrequency, nextFrequency);
        return;
    }
    // With one input silent the other is redrawn at its own places.
    const FrameAnalysis& side1 = silentA ? *ctx.b : *ctx.a;
    const FrameAnalysis& side2 = silentB ? *ctx.a : *ctx.b;
    const float t = (silentA || silentB) ? 0.0f : std::clamp(ctx.morph, 0.0f, 1.0f);
    const bool onset = ctx.a->onset || ctx.b->onset;

    segment(side1, segmentsA);
    segment(side2, segmentsB);
    if (!segmentsA.empty() && !segmentsB.empty()) {
        walkTransportPlan(side1, side2, t, onset, outRe, outIm);
        settleClaims();
        std::swap(lastPhase, nextPhase);
    }
    std::swap(lastFrequency, nextFrequency);
}

// Two passes: first the valleys, without a branch per bin (they come every few bins in noise,
// where a branch per valley would be mispredicted), then each region's mass and peak.
void Transport::segment(const FrameAnalysis& x, std::vector<Segment>& segments) {
    segments.clear();
    const float* magnitude = x.magnitude.data();
    const float* frequency = x.frequency.data();
    const float largest = largestOf(magnitude, numBins);
    if (!(largest > 0.0f))
        return;
    const int regions = findRegionStarts(magnitude, frequency, largest * kSegmentThreshold);
    const float topBin = static_cast<float>(numBins - 1);

    double total = 0.0;
    float best = -1.0f;
    int peakBin = 0; // kept from the region before when no bin beats -1 (a damaged analysis)
    for (int r = 0; r < regions; ++r) {
        const int start = regionStarts[static_cast<std::size_t>(r)];
        const int end = regionStarts[static_cast<std::size_t>(r) + 1];
        double mass = 0.0;
        best = -1.0f;
        for (int i = start; i < end; ++i) {
            mass += magnitude[i];
            peakBin = magnitude[i] > best ? i : peakBin;
            best = magnitude[i] > best ? magnitude[i] : best;
        }
        if (mass > 0.0) {
            const float peakFrequency = std::clamp(frequency[peakBin], 0.0f, topBin);
            segments.push_back(
                {start, end, peakBin, peakFrequency, 0.0f, static_cast<float>(mass), 0.0f});
            total += mass;
        }
    }
    if (total > 0.0) {
        for (auto& s : segments)
            s.share = static_cast<float>(s.mass / total);
    }
    logPeaks(segments);
}

// Taken once per region rather than for every pair the region takes part in, four regions at a
// time. maxps answers its second operand for NaN, which stays NaN as in std::max(f, floor).
void Transport::logPeaks(std::vector<Segment>& segments) {
    const __m128 lowest = _mm_set1_ps(kLowestPeakFrequency);
    for (std::size_t s = 0; s < segments.size(); s += 4) {
        Segment* const group = &segments[s];
        const std::size_t left = segments.size() - s;
        const __m128 frequency =
            vecmath::gather(group, left, [](const Segment& x) { return x.peakFrequency; });
        vecmath::scatter(vecmath::log(_mm_max_ps(lowest, frequency)), group, left,
                         [](Segment& x, float v) { x.logPeak = v; });
    }
}

// A region starts at bin 0 and wherever a rising bin follows one that was not. A bin whose
// reassigned frequency lies at or above its centre sits on a low flank or on a peak; weak bins
// keep the state of the bin before them. Fills regionStarts with the starts and a closing
// numBins; returns the number of regions. Works on 64 bins at a time as bit masks.
int Transport::findRegionStarts(const float* magnitude, const float* frequency, float threshold) {
    int* starts = regionStarts.data();
    int count = 1;
    starts[0] = 0;
    std::uint64_t risingBefore = 0; // the state of the bin before the word, in bit 0
    for (int base = 0; base < numBins; base += 64) {
        const int bins = std::min(64, numBins - base);
        std::uint64_t decided = 0;
        std::uint64_t up = 0;
        classifyBins(magnitude + base, frequency + base, base, bins, threshold, decided, up);
        const std::uint64_t inWord =
            bins == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bins) - 1;
        const std::uint64_t undecided = ~decided & inWord;
        const std::uint64_t value = up & decided;
        // Each run of weak bins takes the state before it: a one entering the run at its first
        // bin is carried along it by an addition (and leaves it at the decided bin after it).
        const std::uint64_t entering = ((value << 1) | risingBefore) & undecided;
        const std::uint64_t rising = value | (((entering + undecided) ^ undecided) & undecided);
        std::uint64_t newStarts = rising & ~((rising << 1) | risingBefore);
        if (base == 0)
            newStarts &= ~std::uint64_t{1}; // bin 0 opens the first region anyway
        for (; newStarts != 0; newStarts &= newStarts - 1)
            starts[count++] = base + std::countr_zero(newStarts);
        risingBefore = (rising >> (bins - 1)) & 1;
    }
    starts[count] = numBins;
    return count;
}

// Bit k of decided: bin base + k stands above the threshold; of up: its reassigned frequency
// lies at or above its centre.
void Transport::classifyBins(const float* magnitude, const float* frequency, int base, int bins,
                             float threshold, std::uint64_t& decided, std::uint64_t& up) {
    const __m128 threshold4 = _mm_set1_ps(threshold);
    int k = 0;
    for (; k + 4 <= bins; k += 4) {
        const __m128 centre =
            _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(base + k), _mm_setr_epi32(0, 1, 2, 3)));
        const auto strong = _mm_movemask_ps(_mm_cmpgt_ps(_mm_loadu_ps(magnitude + k), threshold4));
        const auto above = _mm_movemask_ps(_mm_cmple_ps(centre, _mm_loadu_ps(frequency + k)));
        decided |= static_cast<std::uint64_t>(strong) << k;
        up |= static_cast<std::uint64_t>(above) << k;
    }
    for (; k < bins; ++k) {
        decided |= static_cast<std::uint64_t>(magnitude[k] > threshold ? 1 : 0) << k;
        up |= static_cast<std::uint64_t>(static_cast<float>(base + k) <= frequency[k] ? 1 : 0) << k;
    }
}

// North-west-corner walk: both lists are ordered by frequency and their shares sum to 1, so
// matching mass from low to high is the optimal transport plan on one axis.
void Transport::walkTransportPlan(const FrameAnalysis& side1, const FrameAnalysis& side2, float t,
                                  bool onset, float* outRe, float* outIm) {
    listPairs(t);
    placePairs(t);
    phasePairs(side1, side2, onset);
    turnPairs();
    drawPairs(side1, side2, outRe, outIm);
}

// The plan first, then each step over all pairs at once: the transcendental calls of one step
// run back to back instead of each waiting behind the drawing of the pair before.
void Transport::listPairs(float t) {
    pairs.clear();
    const std::size_t countA = segmentsA.size();
    const std::size_t countB = segmentsB.size();
    std::size_t i = 0;
    std::size_t j = 0;
    float remainingA = segmentsA[0].share;
    float remainingB = segmentsB[0].share;
    while (i < countA && j < countB) {
        const Segment& a = segmentsA[i];
        const Segment& b = segmentsB[j];
        const float amount = std::min(remainingA, remainingB);
        if (amount > 0.0f) {
            Pair& pair = pairs.emplace_back();
            pair.a = &a;
            pair.b = &b;
            pair.amount = amount;
            pair.weightA = (1.0f - t) * amount / a.share;
            pair.weightB = t * amount / b.share;
        }
        remainingA -= amount;
        remainingB -= amount;
        // Written so that a non-finite share ends the walk instead of stalling it.
        if (!(remainingA > kShareUsedUp) && ++i < countA)
            remainingA = segmentsA[i].share;
        if (!(remainingB > kShareUsedUp) && ++j < countB)
            remainingB = segmentsB[j].share;
    }
}

// Four pairs at a time for the exponential; the bins one by one.
void Transport::placePairs(float t) {
    const __m128 toA = _mm_set1_ps(1.0f - t);
    const __m128 toB = _mm_set1_ps(t);
    for (std::size_t p = 0; p < pairs.size(); p += 4) {
        Pair* const group = &pairs[p];
        const std::size_t left = pairs.size() - p;
        const __m128 logA =
            vecmath::gather(group, left, [](const Pair& x) { return x.a->logPeak; });
        const __m128 logB =
            vecmath::gather(group, left, [](const Pair& x) { return x.b->logPeak; });
        const __m128 target =
            vecmath::exp(_mm_add_ps(_mm_mul_ps(toA, logA), _mm_mul_ps(toB, logB)));
        vecmath::scatter(target, group, left, [this](Pair& x, float v) {
            x.target = v;
            x.bin = std::clamp(nearestBin(v), 0, numBins - 1);
        });
    }
}

// Runs on from the phase claimed at the target bin in the last frame when that claim was for a
// nearby frequency, advancing by the mean of the two frequencies over one hop; otherwise (and
// at an onset) takes the dominant side's own phase at its peak (side 1 on equal weights). The
// peaks' phases are taken for every pair, four at a time, and the continued ones replace them.
void Transport::phasePairs(const FrameAnalysis& side1, const FrameAnalysis& side2, bool onset) {
    const auto dominantPeak = [&](const Pair& pair) {
        const bool firstDominates = pair.weightA >= pair.weightB;
        const auto peak = static_cast<std::size_t>((firstDominates ? pair.a : pair.b)->peakBin);
        return std::pair{firstDominates ? &side1 : &side2, peak};
    };
    for (std::size_t p = 0; p < pairs.size(); p += 4) {
        Pair* const group = &pairs[p];
        const std::size_t left = pairs.size() - p;
        const __m128 im = vecmath::gather(group, left, [&](const Pair& x) {
            const auto [side, peak] = dominantPeak(x);
            return side->im[peak];
        });
        const __m128 re = vecmath::gather(group, left, [&](const Pair& x) {
            const auto [side, peak] = dominantPeak(x);
            return side->re[peak];
        });
        vecmath::scatter(vecmath::atan2(im, re), group, left,
                         [](Pair& x, float v) { x.phase = v; });
    }
    if (onset)
        return;
    for (Pair& pair : pairs) {
        const auto bin = static_cast<std::size_t>(pair.bin);
        const float previous = lastFrequency[bin];
        if (previous >= 0.0f && std::fabs(previous - pair.target) < kContinuityReach) {
            float phase = lastPhase[bin] + (pair.target + previous) * 0.5f * phaseStep;
            phase -= roundHalfAway(phase * kInverseTwoPi) * kTwoPi;
            pair.phase = phase;
        }
    }
}

void Transport::turnPairs() {
    for (std::size_t p = 0; p < pairs.size(); p += 4) {
        Pair* const group = &pairs[p];
        const std::size_t left = pairs.size() - p;
        __m128 sine;
        __m128 cosine;
        vecmath::sinCos(vecmath::gather(group, left, [](const Pair& x) { return x.phase; }), sine,
                        cosine);
        vecmath::scatter(cosine, group, left, [](Pair& x, float v) { x.cosPhase = v; });
        vecmath::scatter(sine, group, left, [](Pair& x, float v) { x.sinPhase = v; });
    }
}

// A run of consecutive pairs that draw the same region of one side at the same bin draws it
// once, turned by the sum of their weighted rotations: against many small regions on the other
// side, a region as wide as the spectrum would otherwise be redrawn whole for each of them.
void Transport::drawPairs(const FrameAnalysis& side1, const FrameAnalysis& side2, float* outRe,
                          float* outIm) {
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        for (const SideOf side : {SideOf::first, SideOf::second}) {
            if (weightOf(pairs[p], side) > 0.0f && (p == 0 || !continuesRun(p - 1, p, side)))
                renderRun(side == SideOf::first ? side1 : side2, side, p, outRe, outIm);
        }
        const Pair& pair = pairs[p];
        claim(*pair.a, *pair.b, pair.bin, pair.amount, pair.phase, pair.target);
    }
}

// Whether pair `next` draws the same region of this side at the same bin as pair `before`, and
// draws it at all.
bool Transport::continuesRun(std::size_t before, std::size_t next, SideOf side) const {
    const Pair& x = pairs[before];
    const Pair& y = pairs[next];
    return regionOf(x, side) == regionOf(y, side) && x.bin == y.bin && weightOf(x, side) > 0.0f &&
           weightOf(y, side) > 0.0f;
}

void Transport::renderRun(const FrameAnalysis& analysis, SideOf side, std::size_t first,
                          float* outRe, float* outIm) const {
    std::size_t last = first;
    while (last + 1 < pairs.size() && continuesRun(last, last + 1, side))
        ++last;
    const Pair& pair = pairs[first];
    if (last == first) {
        render({&analysis, regionOf(pair, side), weightOf(pair, side)}, pair.bin, pair.cosPhase,
               pair.sinPhase, outRe, outIm);
        return;
    }
    const Segment& s = *regionOf(pair, side);
    const auto peak = static_cast<std::size_t>(s.peakBin);
    const float m = analysis.magnitude[peak];
    if (!(m > 0.0f))
        return;
    const float re = analysis.re[peak];
    const float im = analysis.im[peak];
    float c = 0.0f;
    float sn = 0.0f;
    for (std::size_t k = first; k <= last; ++k) {
        const Pair& member = pairs[k];
        const float w = weightOf(member, side);
        c += (re * member.cosPhase + im * member.sinPhase) / m * w;
        sn += (re * member.sinPhase - im * member.cosPhase) / m * w;
    }
    drawShifted(analysis, s, pair.bin, c, sn, 1.0f, outRe, outIm);
}

// Moves the whole region by whole bins so that its peak lands on targetBin, keeping its shape,
// turned so that the peak's own phase becomes the drawn phase; bins moved off the ends are cut.
void Transport::render(const Side& side, int targetBin, float cosPhase, float sinPhase,
                       float* outRe, float* outIm) const {
    const Segment& s = *side.segment;
    const float* re = side.analysis->re.data();
    const float* im = side.analysis->im.data();
    const float m = side.analysis->magnitude[static_cast<std::size_t>(s.peakBin)];
    if (!(m > 0.0f))
        return;
    const float c = (re[s.peakBin] * cosPhase + im[s.peakBin] * sinPhase) / m;
    const float sn = (re[s.peakBin] * sinPhase - im[s.peakBin] * cosPhase) / m;
    drawShifted(*side.analysis, s, targetBin, c, sn, side.weight, outRe, outIm);
}

void Transport::drawShifted(const FrameAnalysis& analysis, const Segment& s, int targetBin, float c,
                            float sn, float w, float* outRe, float* outIm) const {
    const int shift = targetBin - s.peakBin;
    const int first = std::max(s.start, -shift);
    const int last = std::min(s.end, numBins - shift);
    if (last > first)
        addRotated(analysis.re.data() + first, analysis.im.data() + first, last - first, c, sn, w,
                   outRe + first + shift, outIm + first + shift);
}

// Notes the span of bins the pair covers, as wide as the wider of its two regions on each side
// of the peak.
void Transport::claim(const Segment& a, const Segment& b, int targetBin, float amount, float phase,
                      float targetFrequency) {
    const int left = std::max(a.peakBin - a.start, b.peakBin - b.start);
    const int right = std::max(a.end - a.peakBin, b.end - b.peakBin);
    const int first = std::max(targetBin - left, 0);
    const int last = std::min(targetBin + right, numBins);
    if (last > first) {
        claims.push_back({amount, first, last, phase, targetFrequency});
        claimedWidth += static_cast<std::size_t>(last - first);
    }
}

// Each bin goes to the pair with the largest share among those covering it, and of equal shares
// to the earlier (lower) pair. Taking the pairs in that order, each settles only the bins of its
// span still open, so wide spans cost no more than the spectrum once.
void Transport::settleClaims() {
    if (claimedWidth <= kScanWidthFactor * static_cast<std::size_t>(numBins))
        settleByScan();
    else
        settleBySort();
}

// The usual frame: spans are narrow. Claims are taken in walk order, a bin going to a claim only
// when its share is strictly larger, so an equal later claim loses. Consecutive claims whose
// spans both start and end no lower than the one before (a wide region paired with the small
// ones across from it) form a run that is settled as a sliding window.
void Transport::settleByScan() {
    std::fill(nextClaim.begin(), nextClaim.end(), 0.0f);
    const std::size_t count = claims.size();
    std::size_t first = 0;
    while (first < count) {
        std::size_t end = first + 1;
        int width = claims[first].last - claims[first].first;
        while (end < count && claims[end].first >= claims[end - 1].first &&
               claims[end].last >= claims[end - 1].last) {
            width += claims[end].last - claims[end].first;
            ++end;
        }
        // Only spans that overlap a lot repay the window's bookkeeping.
        const int covered = claims[end - 1].last - claims[first].first;
        if (width >= kRunOverlap * covered) {
            settleRun(first, end);
        } else {
            for (std::size_t c = first; c < end; ++c)
                takeBins(claims[c], claims[c].first, claims[c].last);
        }
        first = end;
    }
}

// Within a run the claims covering a bin are a window that only moves up, so the run's best
// claim for each stretch of bins comes from a queue of candidates with falling shares (the
// earlier of equal shares first); only that claim is then taken against the earlier runs.
void Transport::settleRun(std::size_t first, std::size_t end) {
    std::size_t* const window = runWindow.data();
    std::size_t head = 0;
    std::size_t tail = 0;
    std::size_t next = first;
    const int stop = claims[end - 1].last;
    int bin = claims[first].first;
    while (bin < stop) {
        for (; next < end && claims[next].first <= bin; ++next) {
            while (tail > head && claims[window[tail - 1]].amount < claims[next].amount)
                --tail; // never the best again: the newcomer covers all its remaining bins
            window[tail++] = next;
        }
        while (tail > head && claims[window[head]].last <= bin)
            ++head;
        if (tail == head) { // a gap between the spans (a claim is still to come)
            bin = claims[next].first;
            continue;
        }
        // The best claim holds until it ends or a larger one arrives; smaller ones arriving
        // meanwhile join the queue for later.
        const Claim& best = claims[window[head]];
        int until = best.last;
        for (; next < end && claims[next].first < until; ++next) {
            if (claims[next].amount > best.amount) {
                until = claims[next].first;
                break;
            }
            while (claims[window[tail - 1]].amount < claims[next].amount)
                --tail; // stops at the best claim at the latest
            window[tail++] = next;
        }
        takeBins(best, bin, until);
        bin = until;
    }
}

// Bins from..to-1 (inside the claim's span) go to the claim where its share is strictly larger,
// four bins at a time.
void Transport::takeBins(const Claim& c, int from, int to) {
    float* const amountAt = nextClaim.data();
    float* const phaseAt = nextPhase.data();
    float* const frequencyAt = nextFrequency.data();
    const __m128 amount = _mm_set1_ps(c.amount);
    const __m128 phase = _mm_set1_ps(c.phase);
    const __m128 frequency = _mm_set1_ps(c.frequency);
    auto take = [](float* at, __m128 wins, __m128 value) {
        const __m128 old = _mm_loadu_ps(at);
        _mm_storeu_ps(at, _mm_or_ps(_mm_and_ps(wins, value), _mm_andnot_ps(wins, old)));
    };
    int bin = from;
    for (; bin + 4 <= to; bin += 4) {
        const __m128 wins = _mm_cmpgt_ps(amount, _mm_loadu_ps(amountAt + bin));
        take(amountAt + bin, wins, amount);
        take(phaseAt + bin, wins, phase);
        take(frequencyAt + bin, wins, frequency);
    }
    for (; bin < to; ++bin) {
        if (c.amount > amountAt[bin]) {
            amountAt[bin] = c.amount;
            phaseAt[bin] = c.phase;
            frequencyAt[bin] = c.frequency;
        }
    }
}

// Wide spans (one region across the spectrum against many small ones) would make the scan
// quadratic. Taking the claims from the largest share down, each settles only the bins of its
// span still open, so the spans cost no more than the spectrum once.
void Transport::settleBySort() {
    sortClaimsByAmount();
    std::iota(nextUnsettled.begin(), nextUnsettled.end(), 0);
    for (const Claim& c : claims) {
        for (int bin = findUnsettled(c.first); bin < c.last; bin = findUnsettled(bin + 1)) {
            const auto k = static_cast<std::size_t>(bin);
            nextPhase[k] = c.phase;
            nextFrequency[k] = c.frequency;
            nextUnsettled[k] = bin + 1;
        }
    }
}

// Largest amount first, equal amounts in walk order: a stable radix sort on the amounts' bit
// patterns (positive floats order like their bits), free of the data-dependent branches of a
// comparison sort. A byte in which all amounts agree needs no pass.
void Transport::sortClaimsByAmount() {
    const std::size_t count = claims.size();
    if (count < 2)
        return;
    Claim* from = claims.data();
    Claim* to = claimScratch.data();
    auto digit = [](const Claim& c, int shift) {
        return static_cast<std::size_t>((~std::bit_cast<std::uint32_t>(c.amount) >> shift) & 0xFFu);
    };
    for (int shift = 0; shift < 32; shift += 8) {
        std::array<std::uint32_t, 256> offsets{};
        for (std::size_t i = 0; i < count; ++i)
            ++offsets[digit(from[i], shift)];
        if (offsets[digit(from[0], shift)] == count)
            continue;
        std::uint32_t next = 0;
        for (std::uint32_t& o : offsets)
            next += std::exchange(o, next);
        for (std::size_t i = 0; i < count; ++i)
            to[offsets[digit(from[i], shift)]++] = from[i];
        std::swap(from, to);
    }
    if (from != claims.data())
        std::copy(from, from + count, claims.data());
}

int Transport::findUnsettled(int bin) {
    while (nextUnsettled[static_cast<std::size_t>(bin)] != bin) {
        int& next = nextUnsettled[static_cast<std::size_t>(bin)];
        next = nextUnsettled[static_cast<std::size_t>(next)]; // halve the path as we go
        bin = next;
    }
    return bin;
}

} // namespace

std::unique_ptr<Algorithm> makeTransport() {
    return std::make_unique<Transport>();
}

} // namespace tav
