#include "algorithms/ImprintInternals.h"
#include "dsp/RealFft.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

// Imprint's fast paths (peak-hold and maxima four points at a time, envelope expansion four
// bins at a time) against the steps written out plainly. The envelope must match bit for bit:
// the landmarks magnify any change of it. The expansion may differ from the library's
// exponential by float rounding only.
namespace tav {
namespace {

using namespace imprint;

constexpr double kRate = 48000.0;

// The true-envelope estimate as plain loops over the same 512-point transform.
LogCurve plainEnvelope(const std::vector<float>& magnitude, int fftSize) {
    const int bins = fftSize / 2 + 1;
    const int c = std::max(fftSize / 512, 1);
    LogCurve base{};
    for (int i = 0; i < kEnvelopePoints; ++i) {
        const int hi = std::min(i * c + c / 2, bins - 1);
        const int lo = std::max(i * c - c / 2, 0);
        float peak = 0.0f;
        for (int k = lo; k <= hi; ++k)
            peak = std::max(peak, magnitude[std::size_t(k)]);
        base[std::size_t(i)] = peak;
    }
    const float floor =
        std::log(std::max(*std::max_element(base.begin(), base.end()), 1e-12f)) - 9.2f;
    for (float& b : base)
        b = std::max(std::log(std::max(b, 1e-20f)), floor);

    EnvelopeEstimator shape; // for its lifter only
    shape.prepare(fftSize, kRate);
    RealFft fft(512);
    LogCurve iterate = base, smoothed{}, zeros{}, discard{};
    std::vector<float> cepstrum(512);
    for (int pass = 0; pass < 5; ++pass) {
        fft.inverse(iterate.data(), zeros.data(), cepstrum.data());
        for (std::size_t i = 0; i < 512; ++i)
            cepstrum[i] *= shape.lifter()[i];
        fft.forward(cepstrum.data(), smoothed.data(), discard.data());
        for (std::size_t i = 0; i < std::size_t(kEnvelopePoints); ++i)
            iterate[i] = std::max(base[i], smoothed[i]);
    }
    LogCurve result{};
    for (std::size_t i = 0; i < std::size_t(kEnvelopePoints); ++i)
        result[i] = std::max(smoothed[i], base[i] - 0.1f);
    return result;
}

TEST(ImprintAgainstPlainForm, EnvelopeEstimateIsBitIdenticalAtEveryDecimation) {
    for (int size : {512, 1024, 2048, 8192}) {
        const int length = size;
        const auto signal = test::mix(test::harmonicTone(196.0, 40, kRate, length, 0.3f),
                                      test::noise(length, 0.02f, 5));
        const auto frame = test::analyseFrame(signal, kRate, size);
        EnvelopeEstimator estimator;
        estimator.prepare(size, kRate);
        LogCurve fast{};
        estimator.estimate(frame.magnitude.data(), fast);
        const LogCurve plain = plainEnvelope(frame.magnitude, size);
        for (std::size_t i = 0; i < std::size_t(kEnvelopePoints); ++i)
            ASSERT_EQ(fast[i], plain[i]) << "N " << size << " point " << i;
    }
}

TEST(ImprintAgainstPlainForm, ExpansionToBinsWithinFloatRoundingOfTheLibrary) {
    // A curve with steep and flat stretches, well inside the range of real envelopes.
    LogCurve curve{};
    for (int i = 0; i < kEnvelopePoints; ++i)
        curve[std::size_t(i)] = -20.0f + 12.0f * std::sin(0.11f * float(i)) + 0.03f * float(i);
    for (int size : {512, 1024, 2048, 4096, 16384}) {
        const int bins = size / 2 + 1, decimation = std::max(size / 512, 1);
        std::vector<float> envelope(static_cast<std::size_t>(bins));
        expandToBins(curve, decimation, bins, envelope.data());
        const float pointsPerBin = 1.0f / float(decimation);
        for (int k = 0; k < bins; ++k) {
            const float a = float(k) * pointsPerBin;
            const int i = std::min(int(a), kEnvelopePoints - 2);
            const float lower = curve[std::size_t(i)], upper = curve[std::size_t(i) + 1];
            const double want = std::exp(double(lower + (upper - lower) * (a - float(i))));
            ASSERT_NEAR(envelope[std::size_t(k)], want, 2.5e-7 * want)
                << "N " << size << " bin " << k;
        }
    }
}

} // namespace
} // namespace tav
