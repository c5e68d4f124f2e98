#include "algorithms/Algorithm.h"
#include "dsp/VectorMath.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

// Diffuse's fast paths (vector passes, the queue's sorted runs and held entry) against the
// algorithm written out plainly: one loop per step, a linked-list bucket queue with every
// entry pushed and popped, library functions throughout but for the logarithm and the
// arctangent. The order in which the integration settles bins decides the phases, so any change
// of that order shows as a phase error far above rounding.
namespace tav {
namespace {

constexpr double kRate = 48000.0;
constexpr int kSize = 2048;
constexpr int kHop = kSize / 4;
constexpr int kBins = kSize / 2 + 1;

// The fast form's logarithm and arctangent, one value at a time. The integration's order of
// settling depends on every bit of the logarithms, and its sums of phases of a hundred radians
// turn an ulp of a starting phase into a rounding step of 1e-5: it is the integration being
// compared here, not the two functions.
float logLikeTheFastForm(float x) {
    return _mm_cvtss_f32(vecmath::log(_mm_set1_ps(x)));
}

float atan2LikeTheFastForm(float y, float x) {
    return _mm_cvtss_f32(vecmath::atan2(_mm_set1_ps(y), _mm_set1_ps(x)));
}

class PlainDiffuse {
public:
    void process(const FrameAnalysis& a, const FrameAnalysis& b, float morph,
                 std::vector<float>& outRe, std::vector<float>& outIm) {
        const bool silentA = a.energy < 1e-12f, silentB = b.energy < 1e-12f;
        if (silentA && silentB) {
            std::fill(outRe.begin(), outRe.end(), 0.0f);
            std::fill(outIm.begin(), outIm.end(), 0.0f);
            hasHistory = false;
            return;
        }
        const float x = silentA ? 1.0f : silentB ? 0.0f : morph;
        updateDistance(a.magnitude, b.magnitude);
        const float octaves = (1.0f - x) * distance * (x * 0.6666667f);
        const auto blurredA = blur(a.magnitude, octaves), blurredB = blur(b.magnitude, octaves);
        peakLog = -1e9f;
        for (int k = 0; k < kBins; ++k) {
            const auto p = std::size_t(k);
            const float root = std::sqrt(blurredA[p]) * (1.0f - x) + std::sqrt(blurredB[p]) * x;
            magnitude[p] = root * root;
            logMagnitude[p] = logLikeTheFastForm(std::max(magnitude[p], 1e-20f));
            peakLog = std::max(peakLog, logMagnitude[p]);
        }
        const double gamma = 0.25645 * kSize * kSize;
        const auto timeScale = static_cast<float>(0.5 / gamma * (double(kHop) * kSize));
        const auto freqScale = static_cast<float>(gamma / (double(kHop) * kSize));
        const float phaseStep = float(kHop) * 6.2831855f / float(kSize);
        for (int k = 0; k < kBins; ++k) {
            const auto p = std::size_t(k);
            const float slope = logMagnitude[std::size_t(std::min(k + 1, kBins - 1))] -
                                logMagnitude[std::size_t(std::max(k - 1, 0))];
            advance[p] = slope * timeScale + float(k) * phaseStep;
            slopeOverBins[p] =
                hasHistory ? (lastLogMagnitude[p] - logMagnitude[p]) * freqScale : 0.0f;
        }
        if (hasHistory && !a.onset && !b.onset) {
            integrate();
        } else {
            for (std::size_t k = 0; k < std::size_t(kBins); ++k) {
                const FrameAnalysis& louder = b.magnitude[k] > a.magnitude[k] ? b : a;
                phase[k] = atan2LikeTheFastForm(louder.im[k], louder.re[k]);
            }
        }
        for (std::size_t k = 0; k < std::size_t(kBins); ++k) {
            outRe[k] = std::cos(phase[k]) * magnitude[k];
            outIm[k] = std::sin(phase[k]) * magnitude[k];
        }
        std::swap(logMagnitude, lastLogMagnitude);
        std::swap(phase, lastPhase);
        std::swap(advance, lastAdvance);
        hasHistory = true;
    }

private:
    struct Item {
        int bin, next;
        bool current;
    };

    void updateDistance(const std::vector<float>& ma, const std::vector<float>& mb) {
        double sumA = 0.0, sumB = 0.0;
        for (int k = 0; k < kBins; ++k) {
            sumA += ma[std::size_t(k)];
            sumB += mb[std::size_t(k)];
        }
        float d = 0.0f;
        if (sumA > 0.0 && sumB > 0.0) {
            const auto sa = float(1.0 / sumA), sb = float(1.0 / sumB);
            double difference = 0.0;
            for (int k = 0; k < kBins; ++k)
                difference += std::fabs(ma[std::size_t(k)] * sa - mb[std::size_t(k)] * sb);
            d = float(0.5 * difference);
        }
        distance = hasHistory ? distance + (d - distance) * 0.2f : d;
    }

    static std::vector<float> blur(const std::vector<float>& m, float octaves) {
        if (!(octaves > 0.0f))
            return m;
        std::vector<double> sums(kBins + 1, 0.0);
        for (int i = 0; i < kBins; ++i)
            sums[std::size_t(i) + 1] =
                sums[std::size_t(i)] + double(m[std::size_t(i)]) * m[std::size_t(i)];
        std::vector<float> out(kBins);
        const float halfWidthPerBin = (std::exp2(octaves) - 1.0f) * 0.5f;
        for (int i = 0; i < kBins; ++i) {
            const int h = int(halfWidthPerBin * float(i));
            const int hi = std::min(i + h, kBins - 1), lo = std::max(i - h, 0);
            const double sum = std::max(sums[std::size_t(hi) + 1] - sums[std::size_t(lo)], 0.0);
            // The mean square in double, its square root in float.
            out[std::size_t(i)] = std::sqrt(float(sum / (hi - lo + 1)));
        }
        return out;
    }

    int bucketOf(float key) const {
        float down = (key - peakLog) * -16.0f;
        down = std::clamp(std::isnan(down) ? 192.0f : down, -1.0f, 192.0f);
        return std::clamp(191 - int(down), 0, 191);
    }

    void push(int bin, bool current, float key) {
        const int bucket = bucketOf(key);
        items.push_back({bin, heads[std::size_t(bucket)], current});
        heads[std::size_t(bucket)] = int(items.size()) - 1;
        top = std::max(top, bucket);
    }

    void integrate() {
        heads.assign(192, -1);
        items.clear();
        top = 0;
        const float threshold = peakLog - 11.512925f;
        std::vector<bool> waiting(kBins);
        int remaining = 0;
        for (int k = 0; k < kBins; ++k) {
            waiting[std::size_t(k)] = logMagnitude[std::size_t(k)] > threshold;
            if (waiting[std::size_t(k)]) {
                push(k, false, lastLogMagnitude[std::size_t(k)]);
                ++remaining;
            }
        }
        const auto settle = [&](int bin, float value) {
            phase[std::size_t(bin)] = value;
            waiting[std::size_t(bin)] = false;
            --remaining;
            push(bin, true, logMagnitude[std::size_t(bin)]);
        };
        while (remaining > 0) {
            while (top >= 0 && heads[std::size_t(top)] < 0)
                --top;
            if (top < 0)
                break;
            const Item item = items[std::size_t(heads[std::size_t(top)])];
            heads[std::size_t(top)] = item.next;
            const int m = item.bin;
            const auto p = std::size_t(m);
            if (!item.current) {
                if (waiting[p])
                    settle(m, lastPhase[p] + (lastAdvance[p] + advance[p]) * 0.5f);
                continue;
            }
            if (m + 1 < kBins && waiting[p + 1])
                settle(m + 1, phase[p] + (slopeOverBins[p + 1] + slopeOverBins[p]) * 0.5f);
            if (m >= 1 && waiting[p - 1])
                settle(m - 1, phase[p] - (slopeOverBins[p - 1] + slopeOverBins[p]) * 0.5f);
        }
        for (std::size_t k = 0; k < std::size_t(kBins); ++k) {
            if (waiting[k] || !(logMagnitude[k] > threshold)) {
                random ^= random << 13;
                random ^= random >> 17;
                random ^= random << 5;
                phase[k] = float(random) * 1.4629181e-9f;
            }
            phase[k] -= std::round(phase[k] * 0.15915494f) * 6.2831855f;
        }
    }

    std::vector<float> magnitude = std::vector<float>(kBins);
    std::vector<float> logMagnitude = magnitude, lastLogMagnitude = magnitude;
    std::vector<float> phase = magnitude, lastPhase = magnitude;
    std::vector<float> advance = magnitude, lastAdvance = magnitude, slopeOverBins = magnitude;
    std::vector<int> heads;
    std::vector<Item> items;
    int top = 0;
    float peakLog = 0.0f, distance = 0.0f;
    bool hasHistory = false;
    std::uint32_t random = 0x2545F491u;
};

// Runs both on the same frames and compares every output bin: magnitudes to float rounding,
// phases of the bins within 60 dB of the frame's peak to far below anything audible.
void expectSameAsPlain(const std::vector<float>& signalA, const std::vector<float>& signalB,
                       float morph, int onsetFrame) {
    auto framesA = test::analyseFrames(signalA, kRate, kSize, kHop, false);
    const auto framesB = test::analyseFrames(signalB, kRate, kSize, kHop, false);
    auto fast = createAlgorithm(3);
    fast->prepare(kSize, kHop, kRate);
    PlainDiffuse plain;
    std::vector<float> fastRe(kBins), fastIm(kBins), plainRe(kBins), plainIm(kBins);
    for (std::size_t f = 0; f < framesA.size(); ++f) {
        framesA[f].onset = int(f) == onsetFrame;
        fast->process(test::contextFor(framesA[f], framesB[f], morph, kSize, kRate), fastRe.data(),
                      fastIm.data());
        plain.process(framesA[f], framesB[f], morph, plainRe, plainIm);
        double peak = 0.0;
        for (int k = 0; k < kBins; ++k)
            peak = std::max(peak,
                            std::hypot(double(plainRe[std::size_t(k)]), plainIm[std::size_t(k)]));
        for (int k = 0; k < kBins; ++k) {
            const auto p = std::size_t(k);
            const double want = std::hypot(double(plainRe[p]), plainIm[p]);
            const double got = std::hypot(double(fastRe[p]), fastIm[p]);
            ASSERT_NEAR(got, want, 1e-6 * want + 1e-12 * peak) << "frame " << f << " bin " << k;
            if (want > 1e-3 * peak) {
                const double turn = std::atan2(fastIm[p] * plainRe[p] - fastRe[p] * plainIm[p],
                                               fastRe[p] * plainRe[p] + fastIm[p] * plainIm[p]);
                ASSERT_NEAR(turn, 0.0, 1e-5) << "frame " << f << " bin " << k;
            }
        }
    }
}

int lengthOf(int frames) {
    return kSize + kHop * (frames - 1);
}

TEST(DiffuseAgainstPlainForm, HarmonicToneAgainstAChordThroughTheMiddle) {
    const int length = lengthOf(14);
    auto tone = test::mix(test::harmonicTone(196.0, 40, kRate, length, 0.3f),
                          test::noise(length, 0.02f, 5));
    auto chord = test::mix(test::harmonicTone(261.63, 20, kRate, length, 0.2f),
                           test::harmonicTone(392.0, 20, kRate, length, 0.2f));
    for (float morph : {0.3f, 0.5f, 0.8f})
        expectSameAsPlain(tone, chord, morph, 7);
}

TEST(DiffuseAgainstPlainForm, PureToneAgainstNoiseWithQuietStretches) {
    const int length = lengthOf(12);
    auto tone = test::sine(220.0, kRate, length, 0.5f, 0.0);
    auto noise = test::noise(length, 0.3f, 9);
    // A stretch of B far below A, so that many bins drop out of the integration.
    for (int n = length / 3; n < length / 2; ++n)
        noise[std::size_t(n)] *= 1e-6f;
    expectSameAsPlain(tone, noise, 0.45f, -1);
}

} // namespace
} // namespace tav
