#include "algorithms/AlgorithmMakers.h"
#include "algorithms/ImprintInternals.h"
#include "dsp/SafeIndex.h"
#include "dsp/VectorMath.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tav {
namespace imprint {
namespace {

constexpr int kPasses = 5;
constexpr float kPeakFloor = 1e-12f;
constexpr float kMagnitudeFloor = 1e-20f;
// The final envelope may dip this far under the spectrum it was estimated from.
constexpr float kEnvelopeSlack = 0.1f;
constexpr float kScheduleRate = 1.6666666f; // each part travels over 60 % of the Morph range
constexpr float kFineStructureStart = 0.4f;
constexpr float kPi = 3.1415927f;
// Landmark weighting 1/(point + 4): low points weigh more, so landmarks crowd there.
constexpr float kPositionOffset = 4.0f;
constexpr float kAreaEpsilon = 1e-4f;
constexpr float kOneOverLandmarks = 0.010416667f;
constexpr float kMinLandmarkGap = 1e-6f;

// out[i] = std::max(a[i], b[i]) for the 257 points, four at a time. maxps answers its second
// operand unless the first is larger, exactly as std::max(a, b) answers a unless b is larger.
void pointwiseMax(const LogCurve& a, const LogCurve& b, LogCurve& out) {
    int i = 0;
    for (; i + 4 <= kEnvelopePoints; i += 4)
        _mm_storeu_ps(&out[std::size_t(i)], _mm_max_ps(_mm_loadu_ps(&b[std::size_t(i)]),
                                                       _mm_loadu_ps(&a[std::size_t(i)])));
    for (; i < kEnvelopePoints; ++i)
        out[std::size_t(i)] = std::max(a[std::size_t(i)], b[std::size_t(i)]);
}

float smoothstep(float v) {
    return v * v * (3.0f - 2.0f * v);
}

} // namespace

Schedule scheduleFor(float morph) {
    const float v = std::clamp(morph * kScheduleRate, 0.0f, 1.0f);
    const float w = std::clamp((morph - kFineStructureStart) * kScheduleRate, 0.0f, 1.0f);
    // (1.5 - w) * w * (w * pi) is pi/2 * smoothstep(w), factored as the engine has always done.
    return {smoothstep(v), (1.5f - w) * w * (w * kPi)};
}

int lifterLengthFor(double sampleRate) {
    return clampedIndex(std::round(sampleRate * 0.001), 8, 255);
}

int decimationFor(int fftSize) {
    return std::max(fftSize / kCepstrumSize, 1);
}

void EnvelopeEstimator::prepare(int fftSize, double sampleRate) {
    bins = fftSize / 2 + 1;
    pointsDecimation = decimationFor(fftSize);
    keptCoefficients = lifterLengthFor(sampleRate);
    cepstrumFft = std::make_unique<RealFft>(kCepstrumSize);

    // Flat over the first three quarters, then a raised-cosine taper to zero.
    lifterWindow.fill(0.0f);
    const int length = keptCoefficients;
    for (int i = 0; i <= length; ++i) {
        const double d = static_cast<double>(i) / (length + 1);
        const double e = d < 0.75 ? 1.0 : (std::cos((d - 0.75) * 12.566371) + 1.0) * 0.5;
        lifterWindow[static_cast<std::size_t>(i)] = static_cast<float>(e);
        if (i > 0)
            lifterWindow[static_cast<std::size_t>(kCepstrumSize - i)] = static_cast<float>(e);
    }
    base.fill(0.0f);
    iterate.fill(0.0f);
    smoothed.fill(0.0f);
    zeros.fill(0.0f);
    cepstrum.fill(0.0f);
}

// The largest of magnitude[lo..hi], four at a time where the range allows. The running peak
// stays the second operand of maxps, which answers it for NaN: a NaN magnitude is passed
// over, as std::max(peak, magnitude) does.
float rangePeak(const float* magnitude, int lo, int hi) {
    __m128 peaks = _mm_setzero_ps();
    int k = lo;
    for (; k + 4 <= hi + 1; k += 4)
        peaks = _mm_max_ps(_mm_loadu_ps(magnitude + k), peaks);
    peaks = _mm_max_ps(_mm_movehl_ps(peaks, peaks), peaks);
    peaks = _mm_max_ss(_mm_shuffle_ps(peaks, peaks, _MM_SHUFFLE(1, 1, 1, 1)), peaks);
    float peak = _mm_cvtss_f32(peaks);
    for (; k <= hi; ++k)
        peak = std::max(peak, magnitude[k]);
    return peak;
}

// For a decimation c that is a multiple of four: the peaks of the windows of points
// first..first + 3, each c/4 groups of four bins from i * c - c/2 plus the bin i * c + c/2,
// reduced across lanes by one transpose. Same NaN rule as rangePeak.
__m128 fourWindowPeaks(const float* magnitude, int first, int c) {
    __m128 peaks[4];
    for (int l = 0; l < 4; ++l) {
        const float* const window = magnitude + (first + l) * c - c / 2;
        __m128 peak = _mm_max_ps(_mm_set1_ps(window[c]), _mm_setzero_ps());
        for (int q = 0; q < c; q += 4)
            peak = _mm_max_ps(_mm_loadu_ps(window + q), peak);
        peaks[l] = peak;
    }
    _MM_TRANSPOSE4_PS(peaks[0], peaks[1], peaks[2], peaks[3]);
    return _mm_max_ps(_mm_max_ps(peaks[0], peaks[1]), _mm_max_ps(peaks[2], peaks[3]));
}

void EnvelopeEstimator::peakHoldDecimate(const float* magnitude) {
    const int c = pointsDecimation;
    int first = 0;
    if (c % 4 == 0) {
        // Points 1..252 lie clear of both ends of the spectrum: four at a time.
        base[0] = rangePeak(magnitude, 0, c / 2);
        for (first = 1; first + 4 < kEnvelopePoints - 1; first += 4)
            _mm_storeu_ps(&base[static_cast<std::size_t>(first)],
                          fourWindowPeaks(magnitude, first, c));
    }
    for (int i = first; i < kEnvelopePoints; ++i) {
        const int hi = std::min(i * c + c / 2, bins - 1);
        int lo = i * c - c / 2;
        if (lo < 1)
            lo = 0;
        base[static_cast<std::size_t>(i)] = rangePeak(magnitude, lo, hi);
    }
}

void EnvelopeEstimator::floorToRange() {
    const float peak = *std::max_element(base.begin(), base.end());
    const float floor = std::log(std::max(peak, kPeakFloor)) - kEnvelopeRangeNepers;
    // Kept on the library's logarithm: the landmarks' positions magnify any change of the
    // envelope, so even an ulp here would show in the output.
    for (float& b : base)
        b = std::max(std::log(std::max(b, kMagnitudeFloor)), floor);
}

// One pass of cepstral smoothing: keep the low quefrencies of the log curve in 'iterate'.
void EnvelopeEstimator::smooth() {
    cepstrumFft->inverse(iterate.data(), zeros.data(), cepstrum.data());
    for (int i = 0; i < kCepstrumSize; ++i)
        cepstrum[static_cast<std::size_t>(i)] *= lifterWindow[static_cast<std::size_t>(i)];
    // The liftered cepstrum is even, so its spectrum is real; the imaginary output is discarded.
    cepstrumFft->forward(cepstrum.data(), smoothed.data(), discard.data());
}

void EnvelopeEstimator::estimate(const float* magnitude, LogCurve& logEnvelope) {
    peakHoldDecimate(magnitude);
    floorToRange();
    iterate = base;
    for (int pass = 0; pass < kPasses; ++pass) {
        smooth();
        // Valleys between harmonics are raised to the smoothed curve, peaks stay: after a few
        // passes the curve rests on the peaks instead of averaging through them.
        pointwiseMax(base, smoothed, iterate);
    }
    // The final envelope may dip only slightly under the peaks it was estimated from.
    for (float& b : base)
        b -= kEnvelopeSlack;
    pointwiseMax(smoothed, base, logEnvelope);
}

void findLandmarks(const LogCurve& logEnvelope, LogCurve& cumulative, Landmarks& out) {
    const float floor =
        *std::max_element(logEnvelope.begin(), logEnvelope.end()) - kEnvelopeRangeNepers;
    double sum = 0.0;
    for (int j = 0; j < kEnvelopePoints; ++j) {
        const auto p = static_cast<std::size_t>(j);
        sum += (std::max(logEnvelope[p] - floor, 0.0f) + kAreaEpsilon) /
               (static_cast<float>(j) + kPositionOffset);
        cumulative[p] = static_cast<float>(sum);
    }
    const float total = cumulative[kEnvelopePoints - 1];

    int i = 0;
    for (int k = 0; k < kLandmarkCount; ++k) {
        const float target = (static_cast<float>(k) + 0.5f) * total * kOneOverLandmarks;
        while (i < kEnvelopePoints - 1 && cumulative[static_cast<std::size_t>(i)] < target)
            ++i;
        const auto at = static_cast<std::size_t>(i);
        const float before = i == 0 ? 0.0f : cumulative[at - 1];
        const float span = cumulative[at] - before;
        const float d = span > 0.0f ? (target - before) / span : 0.0f;
        const float previousValue = i == 0 ? logEnvelope[0] : logEnvelope[at - 1];
        const auto lm = static_cast<std::size_t>(k);
        out.position[lm] = std::max(static_cast<float>(i) + d - 1.0f, 0.0f);
        out.value[lm] = previousValue + (logEnvelope[at] - previousValue) * d;
    }
}

void morphLandmarks(const Landmarks& a, const Landmarks& b, float weight, Landmarks& out) {
    // Kept on the library's functions: the envelope's slope magnifies any change of a
    // landmark's position, so even an ulp here would show in the output.
    for (std::size_t k = 0; k < static_cast<std::size_t>(kLandmarkCount); ++k) {
        const float logA = std::log(a.position[k] + kPositionOffset);
        const float logB = std::log(b.position[k] + kPositionOffset);
        out.position[k] = std::exp((1.0f - weight) * logA + weight * logB) - kPositionOffset;
        out.value[k] = weight * b.value[k] + (1.0f - weight) * a.value[k];
    }
}

void resampleLandmarks(const Landmarks& landmarks, LogCurve& logEnvelope) {
    const auto& position = landmarks.position;
    const auto& value = landmarks.value;
    std::size_t s = 0;
    for (int j = 0; j < kEnvelopePoints; ++j) {
        const auto point = static_cast<float>(j);
        while (s < kLandmarkCount - 1 && point > position[s + 1])
            ++s;
        float result;
        if (point <= position[0]) {
            result = value[0];
        } else if (s + 1 >= kLandmarkCount) {
            result = value[kLandmarkCount - 1];
        } else {
            const float gap = position[s + 1] - position[s];
            const float t =
                gap > kMinLandmarkGap ? std::clamp((point - position[s]) / gap, 0.0f, 1.0f) : 0.0f;
            result = value[s] + (value[s + 1] - value[s]) * t;
        }
        logEnvelope[static_cast<std::size_t>(j)] = result;
    }
}

void expandToBins(const LogCurve& logEnvelope, int decimation, int numBins, float* envelope) {
    const __m128 pointsPerBin = _mm_set1_ps(1.0f / static_cast<float>(decimation));
    const __m128 lastLowerPoint = _mm_set1_ps(static_cast<float>(kEnvelopePoints - 2));
    const float* const curve = logEnvelope.data();
    // Four bins per step: position a = k / decimation, lower point i = min(trunc(a), 255),
    // log level on the straight line from point i to i + 1, then its exponential.
    const auto envelopeOf = [&](__m128 bin) {
        const __m128 a = _mm_mul_ps(bin, pointsPerBin);
        const __m128 lowerPoint = _mm_min_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(a)), lastLowerPoint);
        alignas(16) int i[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(i), _mm_cvttps_epi32(lowerPoint));
        const __m128 lower = _mm_setr_ps(curve[i[0]], curve[i[1]], curve[i[2]], curve[i[3]]);
        const __m128 upper =
            _mm_setr_ps(curve[i[0] + 1], curve[i[1] + 1], curve[i[2] + 1], curve[i[3] + 1]);
        const __m128 level =
            _mm_add_ps(lower, _mm_mul_ps(_mm_sub_ps(upper, lower), _mm_sub_ps(a, lowerPoint)));
        return vecmath::exp(level);
    };
    __m128 bin = _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
    const __m128 four = _mm_set1_ps(4.0f);
    int k = 0;
    if (decimation % 4 == 0) {
        // Four bins starting at a multiple of four share one interval (up to the top bin, which
        // is left to the last group): the two points are loaded once, and the lanes' values
        // are those of the general form exactly.
        for (; k + 4 < numBins; k += 4, bin = _mm_add_ps(bin, four)) {
            const int i = k / decimation;
            const __m128 a = _mm_mul_ps(bin, pointsPerBin);
            const __m128 lower = _mm_set1_ps(curve[i]);
            const __m128 rise = _mm_set1_ps(curve[i + 1] - curve[i]);
            const __m128 level = _mm_add_ps(
                lower, _mm_mul_ps(rise, _mm_sub_ps(a, _mm_set1_ps(static_cast<float>(i)))));
            _mm_storeu_ps(envelope + k, vecmath::exp(level));
        }
    }
    for (; k + 4 <= numBins; k += 4, bin = _mm_add_ps(bin, four))
        _mm_storeu_ps(envelope + k, envelopeOf(bin));
    // The caller's array holds exactly numBins entries: the last partial group goes through
    // a local buffer (its lanes beyond the top bin clamp to the last interval, harmlessly).
    if (k < numBins) {
        alignas(16) float rest[4];
        _mm_store_ps(rest, envelopeOf(bin));
        std::copy(rest, rest + (numBins - k), envelope + k);
    }
}

} // namespace imprint

namespace {

using namespace imprint;

// Splits both spectra into a smooth envelope (the voice) and the fine structure under it
// (the notes), moves the envelope toward B early and the fine structure late.
class Imprint final : public Algorithm {
public:
    // Serialised with process; allocates. Builds the 512-point transform, lifter and envelopes.
    void prepare(int fftSize, int /*hopSize*/, double sampleRate) override {
        numBins = fftSize / 2 + 1;
        estimator.prepare(fftSize, sampleRate);
        const auto n = static_cast<std::size_t>(numBins);
        gainA.assign(n, 0.0f);
        gainB.assign(n, 0.0f);
        reset();
    }

    // Audio thread; never allocates. Nothing to forget: no frame depends on the one before.
    void reset() override {}

    // Audio thread; never allocates. Envelopes of both inputs, morphed, over the crossfaded
    // fine structure.
    void process(const MorphContext& ctx, float* outRe, float* outIm) override {
        const FrameAnalysis& a = *ctx.a;
        const FrameAnalysis& b = *ctx.b;
        const bool silentA = a.energy < kSilentEnergy;
        const bool silentB = b.energy < kSilentEnergy;
        // A frame of another geometry than the prepared one is answered with silence.
        if ((silentA && silentB) || ctx.numBins != numBins) {
            std::fill(outRe, outRe + ctx.numBins, 0.0f);
            std::fill(outIm, outIm + ctx.numBins, 0.0f);
            return;
        }
        const float t = silentA ? 1.0f : silentB ? 0.0f : std::clamp(ctx.morph, 0.0f, 1.0f);
        const Schedule schedule = scheduleFor(t);
        // At Morph 0 B has no weight in either part, so its envelope (half the work) is not
        // estimated: borrowing A's, as for a silent B, leaves every output value unchanged.
        const bool bWeighs =
            schedule.envelopeWeight != 0.0f || std::sin(schedule.crossfadeAngle) != 0.0f;
        estimateEnvelopes(a, b, silentA, silentB || !bWeighs);

        findLandmarks(logEnvelopeA, cumulative, landmarksA);
        findLandmarks(logEnvelopeB, cumulative, landmarksB);
        morphLandmarks(landmarksA, landmarksB, schedule.envelopeWeight, landmarksMorph);
        resampleLandmarks(landmarksMorph, logEnvelopeMorph);

        const int decimation = estimator.decimation();
        const float weightA = std::cos(schedule.crossfadeAngle);
        const float weightB = std::sin(schedule.crossfadeAngle);
        // Whitening an input by its own envelope and imposing the morphed one multiplies it
        // by their ratio: one exponential of the difference of the log curves per bin.
        expandRatio(logEnvelopeA, decimation, gainA.data());
        // Up to Morph 0.4 B's fine structure has no weight, so its gain is not needed.
        if (weightB != 0.0f)
            expandRatio(logEnvelopeB, decimation, gainB.data());
        else
            std::fill(gainB.begin(), gainB.end(), 0.0f);

        // Crossfade the whitened inputs at equal power under the morphed envelope.
        imposeEnvelope(a, b, weightA, weightB, outRe, outIm);
    }

    // Audio thread; the envelope needs magnitudes only.
    bool needsReassignedFrequencies() const override { return false; }

private:
    // The morphed envelope over an input's own, per bin: interpolated in the log domain like
    // each envelope, so the ratio of two exponentials is the exponential of a difference.
    void expandRatio(const LogCurve& ownEnvelope, int decimation, float* gain) {
        for (std::size_t i = 0; i < std::size_t(kEnvelopePoints); ++i)
            logRatio[i] = logEnvelopeMorph[i] - ownEnvelope[i];
        expandToBins(logRatio, decimation, numBins, gain);
    }

    // Four bins at a time (exact arithmetic, so the remaining bins take the scalar form with
    // identical results).
    void imposeEnvelope(const FrameAnalysis& a, const FrameAnalysis& b, float weightA,
                        float weightB, float* outRe, float* outIm) const {
        const __m128 wA = _mm_set1_ps(weightA);
        const __m128 wB = _mm_set1_ps(weightB);
        int k = 0;
        for (; k + 4 <= numBins; k += 4) {
            const __m128 gA = _mm_mul_ps(_mm_loadu_ps(&gainA[std::size_t(k)]), wA);
            const __m128 gB = _mm_mul_ps(_mm_loadu_ps(&gainB[std::size_t(k)]), wB);
            _mm_storeu_ps(outRe + k,
                          _mm_add_ps(_mm_mul_ps(gA, _mm_loadu_ps(&a.re[std::size_t(k)])),
                                     _mm_mul_ps(gB, _mm_loadu_ps(&b.re[std::size_t(k)]))));
            _mm_storeu_ps(outIm + k,
                          _mm_add_ps(_mm_mul_ps(gA, _mm_loadu_ps(&a.im[std::size_t(k)])),
                                     _mm_mul_ps(gB, _mm_loadu_ps(&b.im[std::size_t(k)]))));
        }
        for (; k < numBins; ++k) {
            const auto p = static_cast<std::size_t>(k);
            const float gA = gainA[p] * weightA;
            const float gB = gainB[p] * weightB;
            outRe[k] = gA * a.re[p] + gB * b.re[p];
            outIm[k] = gA * a.im[p] + gB * b.im[p];
        }
    }

    // A silent input borrows the other's envelope, so that it neither pulls nor divides.
    void estimateEnvelopes(const FrameAnalysis& a, const FrameAnalysis& b, bool silentA,
                           bool silentB) {
        if (!silentA)
            estimator.estimate(a.magnitude.data(), logEnvelopeA);
        if (!silentB)
            estimator.estimate(b.magnitude.data(), logEnvelopeB);
        if (silentA)
            logEnvelopeA = logEnvelopeB;
        if (silentB)
            logEnvelopeB = logEnvelopeA;
    }

    int numBins = 0;
    EnvelopeEstimator estimator;
    std::vector<float> gainA, gainB; // morphed envelope over each input's own, per bin
    LogCurve logEnvelopeA{}, logEnvelopeB{}, logEnvelopeMorph{};
    LogCurve cumulative{}, logRatio{};
    Landmarks landmarksA, landmarksB, landmarksMorph;
};

} // namespace

std::unique_ptr<Algorithm> makeImprint() {
    return std::make_unique<Imprint>();
}

} // namespace tav
