#include "algorithms/AlgorithmMakers.h"
#include "dsp/VectorMath.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include <emmintrin.h>

namespace tav {
namespace {

constexpr float kMagnitudeFloor = 1e-20f;
constexpr float kNoPeakLog = -1e9f; // below any logarithm of a float
constexpr float kDistanceSmoothing = 0.2f;
constexpr float kBlurPerMorph = 0.6666667f; // blur in octaves peaks at D/6 at Morph 0.5
// Time-frequency ratio of a Gaussian that stands in for the Hann window, per N^2.
constexpr double kHannGamma = 0.25645;
// 100 dB under the frame's peak: quieter bins get random phases.
constexpr float kPhaseRangeNepers = 11.512925f;
constexpr int kBucketCount = 192;
// One bucket spans about 0.54 dB, and the 192 buckets cover the whole 100 dB range that takes
// part in the integration. Coarser buckets let a weaker neighbour of a peak (popped first, as
// the last pushed) lead the integration and detune steady partials by up to half a bin.
constexpr float kBucketsPerNeper = 16.0f;
constexpr float kLowestLevel = static_cast<float>(kBucketCount - 1);
constexpr std::uint32_t kRandomSeed = 0x2545F491u;
constexpr float kRandomToPhase = 1.4629181e-9f; // 2 pi / 2^32
constexpr float kTwoPi = 6.2831855f;
constexpr float kOneOverTwoPi = 0.15915494f;

// Queue level of a key (a log magnitude): 191 within 1/16 neper of the peak, one level lower
// for each 1/16 neper below it, 0 for anything quieter, above the peak counting as the peak.
// The level is limited before the conversion so that no key (not even NaN, which lands at
// level 0) can overflow the integer.
int bucketOf(float key, float peakLog) {
    float levelsDown = (key - peakLog) * -kBucketsPerNeper;
    levelsDown = levelsDown < kLowestLevel ? levelsDown : kLowestLevel;
    levelsDown = levelsDown > 0.0f ? levelsDown : 0.0f;
    return kBucketCount - 1 - static_cast<int>(levelsDown);
}

// The same for a whole array, four keys per step; kept apart from the integration so that the
// level arithmetic is off the integration's chain of dependent loads.
void bucketsOf(const float* keys, float peakLog, int count, int* buckets) {
    const __m128 peak = _mm_set1_ps(peakLog);
    const __m128 scale = _mm_set1_ps(-kBucketsPerNeper);
    const __m128 lowest = _mm_set1_ps(kLowestLevel);
    const __m128i topLevel = _mm_set1_epi32(kBucketCount - 1);
    int k = 0;
    for (; k + 4 <= count; k += 4) {
        __m128 levelsDown = _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(keys + k), peak), scale);
        // minps answers its second operand for NaN, as the scalar form does.
        levelsDown = _mm_max_ps(_mm_min_ps(levelsDown, lowest), _mm_setzero_ps());
        const __m128i bucket = _mm_sub_epi32(topLevel, _mm_cvttps_epi32(levelsDown));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(buckets + k), bucket);
    }
    for (; k < count; ++k)
        buckets[k] = bucketOf(keys[k], peakLog);
}

// Sums in double over four floats at a time, in four partial sums, so that they are not one
// long chain of dependent additions; the order differs from a plain loop only by double
// rounding, far below what reaches a float result.
struct DoubleSum {
    __m128d low = _mm_setzero_pd(), high = _mm_setzero_pd();
    double tail = 0.0;

    void add(__m128 terms) {
        low = _mm_add_pd(low, _mm_cvtps_pd(terms));
        high = _mm_add_pd(high, _mm_cvtps_pd(_mm_movehl_ps(terms, terms)));
    }
    double total() const {
        alignas(16) double lanes[4];
        _mm_store_pd(lanes, low);
        _mm_store_pd(lanes + 2, high);
        return ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + tail;
    }
};

double sumInDouble(const float* x, int count) {
    DoubleSum sum;
    int k = 0;
    for (; k + 4 <= count; k += 4)
        sum.add(_mm_loadu_ps(x + k));
    for (; k < count; ++k)
        sum.tail += x[k];
    return sum.total();
}

// Sum of |a[k] * scaleA - b[k] * scaleB|, each term in float, the sum in double.
double differenceInDouble(const float* a, float scaleA, const float* b, float scaleB, int count) {
    const __m128 toA = _mm_set1_ps(scaleA), toB = _mm_set1_ps(scaleB);
    const __m128 signBit = _mm_set1_ps(-0.0f);
    DoubleSum sum;
    int k = 0;
    for (; k + 4 <= count; k += 4)
        sum.add(_mm_andnot_ps(signBit, _mm_sub_ps(_mm_mul_ps(_mm_loadu_ps(a + k), toA),
                                                  _mm_mul_ps(_mm_loadu_ps(b + k), toB))));
    for (; k < count; ++k)
        sum.tail += std::fabs(a[k] * scaleA - b[k] * scaleB);
    return sum.total();
}

// A soft blur through the middle of the Morph range: interpolates blurred magnitudes in the
// square-root domain and rebuilds the phases from the magnitudes alone (phase-gradient heap
// integration for a Hann window), continuing the previous frame's phases.
class Diffuse final : public Algorithm {
public:
    // Serialised with process; allocates. Sizes every per-bin array and the queue storage.
    void prepare(int fftSize, int hopSize, double /*sampleRate*/) override {
        numBins = fftSize / 2 + 1;
        const double gamma = kHannGamma * fftSize * fftSize;
        const double hopTimesSize = static_cast<double>(hopSize) * fftSize;
        timeScale = static_cast<float>(0.5 / gamma * hopTimesSize);
        freqScale = static_cast<float>(gamma / hopTimesSize);
        phaseStep = static_cast<float>(hopSize) * kTwoPi / static_cast<float>(fftSize);
        peakLog = 0.0f;
        distance = 0.0f;

        const auto n = static_cast<std::size_t>(numBins);
        // Padded to whole groups of four for the vector passes; the padding stays zero.
        const std::size_t padded = (n + 3) / 4 * 4;
        for (auto* array :
             {&magnitude, &blurredA, &blurredB, &logMagnitude, &lastLogMagnitude, &phase,
              &lastPhase, &timeDerivative, &lastTimeDerivative, &frequencyDerivative})
            array->assign(padded, 0.0f);
        pending.assign(n, 0);
        squareSums.assign(2 * (n + 1), 0.0);
        reciprocals.assign(n + 1, 0.0);
        for (std::size_t width = 1; width <= n; ++width)
            reciprocals[width] = 1.0 / static_cast<double>(width);
        queueItems.assign(n, QueueItem{});
        runs.assign(n, 0);
        buckets.assign(n, 0);
        bucketHeads.fill(-1);
        reset();
    }

    // Audio thread; never allocates. Forgets the phase history and restarts the random phases
    // from their seed, so that a reset algorithm repeats itself.
    void reset() override {
        hasHistory = false;
        randomState = kRandomSeed;
    }

    // Audio thread; never allocates. Target magnitudes of this frame with phases continued
    // from the previous one.
    void process(const MorphContext& ctx, float* outRe, float* outIm) override {
        const FrameAnalysis& a = *ctx.a;
        const FrameAnalysis& b = *ctx.b;
        const bool silentA = a.energy < kSilentEnergy;
        const bool silentB = b.energy < kSilentEnergy;
        // A frame of another geometry than the prepared one is answered with silence.
        if ((silentA && silentB) || ctx.numBins != numBins) {
            std::fill(outRe, outRe + ctx.numBins, 0.0f);
            std::fill(outIm, outIm + ctx.numBins, 0.0f);
            hasHistory = false;
            return;
        }
        const float x = silentA ? 1.0f : silentB ? 0.0f : std::clamp(ctx.morph, 0.0f, 1.0f);

        updateDistance(a.magnitude.data(), b.magnitude.data());
        const float blurOctaves = (1.0f - x) * distance * (x * kBlurPerMorph);
        blur(a.magnitude.data(), b.magnitude.data(), blurOctaves);
        buildTarget(x);
        computeDerivatives();

        if (hasHistory && !a.onset && !b.onset)
            integratePhases();
        else
            takeLouderPhases(a, b);

        writeOutput(outRe, outIm);
        std::swap(logMagnitude, lastLogMagnitude);
        std::swap(phase, lastPhase);
        std::swap(timeDerivative, lastTimeDerivative);
        hasHistory = true;
    }

    // Audio thread; the phases are rebuilt from magnitudes alone.
    bool needsReassignedFrequencies() const override { return false; }

private:
    struct QueueItem {
        int bin = 0;
        int next = -1; // the next item of the same bucket, -1 at the end
    };

    // The integration's bucket queue: 192 levels, the loudest on top, LIFO within a level.
    // Entries standing for the previous frame are all filed before the first pop, so within a
    // level they always lie under every entry of the current frame and come out in descending
    // bin order: they are kept as one sorted run per level (a counting sort) instead of list
    // items, and those whose bin has been settled meanwhile, which would come out only to be
    // dropped, are skipped in a tight scan. Entries of the current frame form an intrusive
    // LIFO list per level. The queue lives on the stack during the integration so that its
    // counters stay in registers; as members, every store into the int arrays could alias them
    // and force a reload.
    class BucketQueue {
    public:
        struct Storage {
            int* heads;       // kBucketCount list heads, -1 = empty
            QueueItem* items; // numBins list items
            int* runStart;    // kBucketCount + 1 offsets into runs
            int* runEnd;      // kBucketCount: one past the last unread entry of each run
            int* runs;        // numBins bins, grouped by level, ascending within a level
        };

        explicit BucketQueue(const Storage& storage) : store(storage) {
            std::fill(store.heads, store.heads + kBucketCount, -1);
        }

        // Files every waiting bin under the level of its previous-frame key, ascending.
        void fileWaiting(const std::uint8_t* waiting, const int* levels, int numBins) {
            int* const start = store.runStart;
            std::fill(start, start + kBucketCount + 1, 0);
            for (int k = 0; k < numBins; ++k)
                start[levels[k] + 1] += waiting[k];
            for (int level = 0; level < kBucketCount; ++level) {
                start[level + 1] += start[level];
                store.runEnd[level] = start[level];
                if (start[level + 1] > start[level])
                    top = level;
            }
            for (int k = 0; k < numBins; ++k)
                if (waiting[k])
                    store.runs[store.runEnd[levels[k]]++] = k;
        }

        // Queues a current-frame entry for a bin. An entry at or above every non-empty level is
        // the very next to come out unless another push follows first, so it is held in a
        // register instead of going through the lists and back: most pops take the entry just
        // pushed, and the round trip through memory was the integration's longest chain.
        void push(int bin, int level) {
            if (held >= 0)
                file(held, top);
            if (level >= top) {
                held = bin;
                top = level;
            } else {
                file(bin, level);
            }
        }

        // The loudest entry, as bin * 2 + 1 for the current frame or bin * 2 for the previous
        // one (whose bin still waits); -1 when nothing is left.
        int pop(const std::uint8_t* waiting) {
            if (held >= 0) {
                const int bin = held;
                held = -1;
                return bin * 2 + 1;
            }
            for (; top >= 0; --top) {
                const int head = store.heads[top];
                if (head >= 0) {
                    store.heads[top] = store.items[head].next;
                    return store.items[head].bin * 2 + 1;
                }
                const int begin = store.runStart[top];
                int end = store.runEnd[top];
                while (end > begin && !waiting[store.runs[end - 1]])
                    --end;
                if (end > begin) {
                    store.runEnd[top] = end - 1;
                    return store.runs[end - 1] * 2;
                }
                store.runEnd[top] = begin;
            }
            return -1;
        }

    private:
        void file(int bin, int level) {
            QueueItem& item = store.items[count];
            item.bin = bin;
            item.next = store.heads[level];
            store.heads[level] = count;
            ++count;
            top = std::max(top, level);
        }

        Storage store;
        int count = 0;
        int top = 0;
        int held = -1; // a bin whose entry sits on top of level 'top', not yet filed
    };

    // Half the L1 distance between the two magnitude shapes, each normalised to unit sum.
    void updateDistance(const float* magA, const float* magB) {
        const double sumA = sumInDouble(magA, numBins);
        const double sumB = sumInDouble(magB, numBins);
        float d = 0.0f;
        if (sumA > 0.0 && sumB > 0.0) {
            const auto scaleA = static_cast<float>(1.0 / sumA);
            const auto scaleB = static_cast<float>(1.0 / sumB);
            d = static_cast<float>(0.5 * differenceInDouble(magA, scaleA, magB, scaleB, numBins));
        }
        if (hasHistory)
            d = distance + (d - distance) * kDistanceSmoothing;
        distance = d;
    }

    // RMS over a window whose width grows with frequency, so the blur is even on a log axis.
    // Both inputs share the window, so they are blurred together, one in each half of a
    // register. The window sums need double (a difference of two prefix sums); their means are
    // rounded to float before the square root, which then runs four bins at a time.
    void blur(const float* magA, const float* magB, float octaves) {
        if (!(octaves > 0.0f)) {
            std::copy(magA, magA + numBins, blurredA.data());
            std::copy(magB, magB + numBins, blurredB.data());
            return;
        }
        sumSquares(magA, magB);
        const float halfWidthPerBin = (std::exp2(octaves) - 1.0f) * 0.5f;
        int i = 0;
        for (; i + 4 <= numBins; i += 4) {
            // Lanes: A and B of bins i and i + 1, then of bins i + 2 and i + 3.
            const __m128 first =
                _mm_movelh_ps(windowMean(i, halfWidthPerBin), windowMean(i + 1, halfWidthPerBin));
            const __m128 second = _mm_movelh_ps(windowMean(i + 2, halfWidthPerBin),
                                                windowMean(i + 3, halfWidthPerBin));
            const auto p = static_cast<std::size_t>(i);
            _mm_storeu_ps(&blurredA[p],
                          _mm_sqrt_ps(_mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0))));
            _mm_storeu_ps(&blurredB[p],
                          _mm_sqrt_ps(_mm_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1))));
        }
        for (; i < numBins; ++i) {
            const __m128 rms = _mm_sqrt_ps(windowMean(i, halfWidthPerBin));
            _mm_store_ss(&blurredA[static_cast<std::size_t>(i)], rms);
            _mm_store_ss(&blurredB[static_cast<std::size_t>(i)],
                         _mm_shuffle_ps(rms, rms, _MM_SHUFFLE(1, 1, 1, 1)));
        }
    }

    // The mean square of A and B over bin i's window, as floats in the two low lanes.
    __m128 windowMean(int i, float halfWidthPerBin) const {
        const double* const sums = squareSums.data();
        const int h = static_cast<int>(halfWidthPerBin * static_cast<float>(i));
        const int hi = std::min(i + h, numBins - 1);
        const int lo = std::max(i - h, 0);
        // Zero first: maxpd answers its second operand for NaN, as std::max(sum, 0.0) does.
        const __m128d sum =
            _mm_max_pd(_mm_setzero_pd(),
                       _mm_sub_pd(_mm_loadu_pd(sums + 2 * (hi + 1)), _mm_loadu_pd(sums + 2 * lo)));
        // Times the tabulated 1/count rather than divided: the two differ by at most a double
        // ulp, far below the rounding to float.
        const __m128d perBin = _mm_set1_pd(reciprocals[static_cast<std::size_t>(hi - lo + 1)]);
        return _mm_cvtpd_ps(_mm_mul_pd(sum, perBin));
    }

    // Prefix sums of the squares of A (even entries) and B (odd entries), in double: the two
    // running sums share a register, so their chains of dependent additions overlap.
    void sumSquares(const float* magA, const float* magB) {
        double* const sums = squareSums.data();
        __m128d running = _mm_setzero_pd();
        _mm_storeu_pd(sums, running);
        for (int i = 0; i < numBins; ++i) {
            const __m128d m = _mm_set_pd(magB[i], magA[i]);
            running = _mm_add_pd(running, _mm_mul_pd(m, m));
            _mm_storeu_pd(sums + 2 * (i + 1), running);
        }
    }

    // Interpolation in the square-root domain and the logarithms, four bins at a time; the
    // running peak stays in a register. The padding of the magnitudes stays zero, that of the
    // logarithms too: the last group stores only its bins.
    void buildTarget(float x) {
        const __m128 toA = _mm_set1_ps(1.0f - x);
        const __m128 toB = _mm_set1_ps(x);
        const __m128 floor = _mm_set1_ps(kMagnitudeFloor);
        __m128 peak = _mm_set1_ps(kNoPeakLog);
        for (int i = 0; i < numBins; i += 4) {
            const auto p = static_cast<std::size_t>(i);
            const __m128 root =
                _mm_add_ps(_mm_mul_ps(_mm_sqrt_ps(_mm_loadu_ps(&blurredA[p])), toA),
                           _mm_mul_ps(_mm_sqrt_ps(_mm_loadu_ps(&blurredB[p])), toB));
            const __m128 m = _mm_mul_ps(root, root);
            _mm_storeu_ps(&magnitude[p], m);
            // maxps answers its second operand for NaN: a NaN magnitude stays NaN, as in
            // std::max(m, floor), and a NaN logarithm leaves the peak alone.
            __m128 level = vecmath::log(_mm_max_ps(floor, m));
            if (i + 4 > numBins) {
                const __m128 inside = _mm_castsi128_ps(
                    _mm_cmplt_epi32(_mm_setr_epi32(0, 1, 2, 3), _mm_set1_epi32(numBins - i)));
                level = _mm_and_ps(inside, level);
                peak = _mm_max_ps(_mm_or_ps(level, _mm_andnot_ps(inside, _mm_set1_ps(kNoPeakLog))),
                                  peak);
            } else {
                peak = _mm_max_ps(level, peak);
            }
            _mm_storeu_ps(&logMagnitude[p], level);
        }
        peak = _mm_max_ps(peak, _mm_shuffle_ps(peak, peak, _MM_SHUFFLE(2, 3, 0, 1)));
        peak = _mm_max_ps(peak, _mm_shuffle_ps(peak, peak, _MM_SHUFFLE(1, 0, 3, 2)));
        peakLog = _mm_cvtss_f32(peak);
    }

    // Phase advance per hop from the slope of the log magnitude over frequency, phase change
    // per bin from its slope over time (a backward difference: no look-ahead).
    void computeDerivatives() {
        const int top = numBins - 1;
        const float* const level = logMagnitude.data();
        const auto advanceAt = [&](int k) {
            const float slope = level[std::min(k + 1, top)] - level[std::max(k - 1, 0)];
            timeDerivative[static_cast<std::size_t>(k)] =
                slope * timeScale + static_cast<float>(k) * phaseStep;
        };
        // Inside the spectrum both neighbours exist: four bins at a time.
        const __m128 scale = _mm_set1_ps(timeScale);
        const __m128 step = _mm_set1_ps(phaseStep);
        __m128 bin = _mm_setr_ps(1.0f, 2.0f, 3.0f, 4.0f);
        int k = 1;
        for (; k + 4 <= top; k += 4, bin = _mm_add_ps(bin, _mm_set1_ps(4.0f))) {
            const __m128 slope =
                _mm_sub_ps(_mm_loadu_ps(level + k + 1), _mm_loadu_ps(level + k - 1));
            _mm_storeu_ps(&timeDerivative[static_cast<std::size_t>(k)],
                          _mm_add_ps(_mm_mul_ps(slope, scale), _mm_mul_ps(bin, step)));
        }
        advanceAt(0);
        for (; k <= top; ++k)
            advanceAt(k);

        if (!hasHistory) {
            std::fill(frequencyDerivative.begin(), frequencyDerivative.end(), 0.0f);
            return;
        }
        const __m128 perBin = _mm_set1_ps(freqScale);
        for (std::size_t i = 0; i < frequencyDerivative.size(); i += 4)
            _mm_storeu_ps(&frequencyDerivative[i],
                          _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(&lastLogMagnitude[i]),
                                                _mm_loadu_ps(&logMagnitude[i])),
                                     perBin));
    }

    // After a reset, a silence or an onset there is nothing to continue from. Four bins at a
    // time; the last group reads its missing bins as zeros, whose angle 0 keeps the padding zero.
    void takeLouderPhases(const FrameAnalysis& a, const FrameAnalysis& b) {
        const auto load = [this](const std::vector<float>& from, int k) {
            const auto p = static_cast<std::size_t>(k);
            if (k + 4 <= numBins)
                return _mm_loadu_ps(&from[p]);
            std::array<float, 4> group{};
            std::copy(from.begin() + k, from.begin() + numBins, group.begin());
            return _mm_loadu_ps(group.data());
        };
        for (int k = 0; k < numBins; k += 4) {
            // cmpgt is false for NaN, which takes A's phase as the scalar comparison does.
            const __m128 takeB = _mm_cmpgt_ps(load(b.magnitude, k), load(a.magnitude, k));
            const __m128 im =
                _mm_or_ps(_mm_and_ps(takeB, load(b.im, k)), _mm_andnot_ps(takeB, load(a.im, k)));
            const __m128 re =
                _mm_or_ps(_mm_and_ps(takeB, load(b.re, k)), _mm_andnot_ps(takeB, load(a.re, k)));
            _mm_storeu_ps(&phase[static_cast<std::size_t>(k)], vecmath::atan2(im, re));
        }
    }

    // Phase-gradient heap integration: loud bins first, each continuing its own phase from the
    // previous frame or passing it along the frequency axis to a quieter neighbour.
    void integratePhases() {
        const float threshold = peakLog - kPhaseRangeNepers;
        std::uint8_t* const waiting = pending.data();
        int remaining = 0;
        for (int k = 0; k < numBins; ++k) {
            const bool audible = logMagnitude[static_cast<std::size_t>(k)] > threshold;
            waiting[k] = audible ? 1 : 0;
            remaining += audible ? 1 : 0;
        }

        // Every audible bin waits, first as an entry standing for its previous frame.
        BucketQueue queue(
            {bucketHeads.data(), queueItems.data(), runStart.data(), runEnd.data(), runs.data()});
        int* const level = buckets.data();
        bucketsOf(lastLogMagnitude.data(), peakLog, numBins, level);
        queue.fileWaiting(waiting, level, numBins);
        bucketsOf(logMagnitude.data(), peakLog, numBins, level);

        float* const phases = phase.data();
        const float* const last = lastPhase.data();
        const float* const advance = timeDerivative.data();
        const float* const lastAdvance = lastTimeDerivative.data();
        const float* const slope = frequencyDerivative.data();
        const int top = numBins - 1;

        // Assigns a phase to a waiting bin and queues it to pass the phase on to its neighbours.
        const auto settle = [&](int bin, float value) {
            phases[bin] = value;
            waiting[bin] = 0;
            --remaining;
            queue.push(bin, level[bin]);
        };

        while (remaining > 0) {
            const int entry = queue.pop(waiting);
            if (entry < 0)
                break;
            const int m = entry >> 1;
            if ((entry & 1) == 0) {
                settle(m, last[m] + (lastAdvance[m] + advance[m]) * 0.5f);
                continue;
            }
            if (m < top && waiting[m + 1])
                settle(m + 1, phases[m] + (slope[m + 1] + slope[m]) * 0.5f);
            if (m >= 1 && waiting[m - 1])
                settle(m - 1, phases[m] - (slope[m - 1] + slope[m]) * 0.5f);
        }

        for (std::size_t k = 0; k < static_cast<std::size_t>(numBins); ++k)
            if (pending[k] || !(logMagnitude[k] > threshold))
                phase[k] = nextRandomPhase();
        wrapPhases();
    }

    // Each phase to within half a turn of zero, so that the next frame's sums stay precise.
    // Runs over the padded length: the padding holds zeros, which stay zeros.
    void wrapPhases() {
        const __m128 perTurn = _mm_set1_ps(kOneOverTwoPi);
        const __m128 turn = _mm_set1_ps(kTwoPi);
        for (std::size_t k = 0; k < phase.size(); k += 4) {
            const __m128 p = _mm_loadu_ps(&phase[k]);
            const __m128 turns = vecmath::roundHalfAway(_mm_mul_ps(p, perTurn));
            _mm_storeu_ps(&phase[k], _mm_sub_ps(p, _mm_mul_ps(turns, turn)));
        }
    }

    // The target magnitudes under the phases, four bins at a time; the engine's arrays hold
    // exactly numBins entries, so a last partial group goes through a local buffer.
    void writeOutput(float* outRe, float* outIm) const {
        int k = 0;
        for (; k + 4 <= numBins; k += 4)
            polarToCartesian(k, outRe + k, outIm + k);
        if (k < numBins) {
            float re[4], im[4];
            polarToCartesian(k, re, im);
            std::copy(re, re + (numBins - k), outRe + k);
            std::copy(im, im + (numBins - k), outIm + k);
        }
    }

    void polarToCartesian(int k, float* re, float* im) const {
        const auto p = static_cast<std::size_t>(k);
        __m128 sine, cosine;
        vecmath::sinCos(_mm_loadu_ps(&phase[p]), sine, cosine);
        const __m128 m = _mm_loadu_ps(&magnitude[p]);
        _mm_storeu_ps(re, _mm_mul_ps(cosine, m));
        _mm_storeu_ps(im, _mm_mul_ps(sine, m));
    }

    // xorshift32: cheap, and a reset repeats the same phases.
    float nextRandomPhase() {
        std::uint32_t s = randomState;
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        randomState = s;
        return static_cast<float>(s) * kRandomToPhase;
    }

    int numBins = 0;
    float timeScale = 0.0f;
    float freqScale = 0.0f;
    float phaseStep = 0.0f;
    float peakLog = 0.0f;
    float distance = 0.0f;
    bool hasHistory = false;
    std::uint32_t randomState = kRandomSeed;
    std::vector<float> magnitude;
    std::vector<float> blurredA, blurredB;
    std::vector<float> logMagnitude, lastLogMagnitude;
    std::vector<float> phase, lastPhase;
    std::vector<float> timeDerivative, lastTimeDerivative;
    std::vector<float> frequencyDerivative;
    std::vector<std::uint8_t> pending;
    std::vector<double> squareSums;  // interleaved prefix sums of A and B
    std::vector<double> reciprocals; // 1 / width of every possible blur window
    std::vector<QueueItem> queueItems;
    std::vector<int> buckets; // queue level of each bin's key
    std::vector<int> runs;
    std::array<int, kBucketCount> bucketHeads{};
    std::array<int, kBucketCount + 1> runStart{};
    std::array<int, kBucketCount> runEnd{};
};

} // namespace

std::unique_ptr<Algorithm> makeDiffuse() {
    return std::make_unique<Diffuse>();
}

} // namespace tav
