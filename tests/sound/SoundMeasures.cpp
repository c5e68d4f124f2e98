#include "SoundMeasures.h"

#include "SoundGoals.h"
#include "dsp/RealFft.h"

#include <algorithm>
#include <cmath>

namespace tav::lab {
namespace {

constexpr double kSwellWindowSeconds = 0.05;
constexpr double kSwellHopSeconds = 0.025;
// Windows where the louder input peaks below this are not judged for swells.
constexpr double kSwellFloorDb = -40.0;
constexpr double kLoudnessWindowSeconds = 0.4;
constexpr double kLoudnessHopSeconds = 0.1;
// An input sounds where its A-weighted power is above this.
constexpr double kSoundingDb = -55.0;
// The perceived-loudness mix: powers are mixed as their 0.3rd roots.
constexpr double kLoudnessExponent = 0.3;
// Pre-echo: the stretch just ahead of a hit, and the bed it is compared with, ms before the hit.
constexpr double kAheadFromMs = 25.0, kAheadToMs = 5.0;
constexpr double kBedFromMs = 200.0, kBedToMs = 100.0;
constexpr double kDuckingMs = 100.0;
// Zeros after the signal before the A-weighting's transform, so its ring does not wrap around.
constexpr double kWeightingPadSeconds = 0.25;
// The smallest power and magnitude the dB figures tell apart from silence.
constexpr double kTinyPower = 1e-30;

std::size_t samplesOf(double seconds) {
    return static_cast<std::size_t>(std::lround(seconds * kRate));
}

std::size_t samplesOfMs(double ms) {
    return samplesOf(ms * 0.001);
}

double powerDb(double power) {
    return 10.0 * std::log10(std::max(power, kTinyPower));
}

double peakOf(const Stereo& x, std::size_t from, std::size_t to) {
    float peak = 0.0f;
    for (const auto& channel : x)
        for (std::size_t n = from; n < to; ++n)
            peak = std::max(peak, std::fabs(channel[n]));
    return peak;
}

// Mean over the channels of the mean square over [from, to).
double meanSquare(const Stereo& x, std::size_t from, std::size_t to) {
    double sum = 0.0;
    for (const auto& channel : x)
        for (std::size_t n = from; n < to; ++n)
            sum += static_cast<double>(channel[n]) * channel[n];
    return sum / static_cast<double>(kChannels * (to - from));
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : 0.5 * (values[middle - 1] + values[middle]);
}

// The smallest value at or above `share` of the values.
double percentile(std::vector<double> values, double share) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(share * values.size()));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

// The A-weighting curve as an amplitude gain, 1 at 1 kHz.
double aWeightingGain(double hz) {
    const auto response = [](double f) {
        const double f2 = f * f;
        return 12194.0 * 12194.0 * f2 * f2 /
               ((f2 + 20.6 * 20.6) * std::sqrt((f2 + 107.7 * 107.7) * (f2 + 737.9 * 737.9)) *
                (f2 + 12194.0 * 12194.0));
    };
    return response(hz) / response(1000.0);
}

std::vector<float> aWeightedChannel(const std::vector<float>& x) {
    int size = 8;
    while (static_cast<std::size_t>(size) < x.size() + samplesOf(kWeightingPadSeconds))
        size *= 2;
    RealFft fft(size);
    std::vector<float> frame(static_cast<std::size_t>(size), 0.0f);
    std::copy(x.begin(), x.end(), frame.begin());
    std::vector<float> re(static_cast<std::size_t>(fft.numBins())), im(re.size());
    fft.forward(frame.data(), re.data(), im.data());
    for (std::size_t k = 0; k < re.size(); ++k) {
        const auto gain = static_cast<float>(aWeightingGain(k * kRate / size));
        re[k] *= gain;
        im[k] *= gain;
    }
    fft.inverse(re.data(), im.data(), frame.data());
    frame.resize(x.size());
    return frame;
}

// Per-hit figures, skipping hits whose stretch reaches back into the start-up or past the end.
template <typename Figure>
HitFigures overHits(const std::vector<std::size_t>& hits, std::size_t from, std::size_t reach,
                    std::size_t length, bool worstIsLargest, Figure figure) {
    std::vector<double> values;
    HitFigures out;
    for (std::size_t hit : hits) {
        if (hit < from + reach || hit >= length)
            continue;
        const double value = figure(hit);
        if (values.empty() || (worstIsLargest ? value > out.worstDb : value < out.worstDb)) {
            out.worstDb = value;
            out.worstSeconds = hit / kRate;
        }
        values.push_back(value);
    }
    out.hits = static_cast<int>(values.size());
    out.medianDb = median(values);
    return out;
}

} // namespace

Swells measureSwells(const Stereo& a, const Stereo& b, const Stereo& y, std::size_t from) {
    const std::size_t window = samplesOf(kSwellWindowSeconds);
    const std::size_t hop = samplesOf(kSwellHopSeconds);
    const double floor = std::pow(10.0, kSwellFloorDb / 20.0);
    Swells out;
    int over = 0;
    for (std::size_t start = from; start + window <= y[0].size(); start += hop) {
        const double louder =
            std::max(peakOf(a, start, start + window), peakOf(b, start, start + window));
        if (louder <= floor)
            continue;
        const double excess =
            20.0 * std::log10(std::max(peakOf(y, start, start + window), 1e-15) / louder);
        ++out.windows;
        over += excess > kSwellStepDb ? 1 : 0;
        if (excess > out.worstDb) {
            out.worstDb = excess;
            out.worstSeconds = start / kRate;
        }
    }
    out.fractionOver = out.windows > 0 ? static_cast<double>(over) / out.windows : 0.0;
    return out;
}

double peakDb(const Stereo& x, std::size_t from, std::size_t to) {
    return 20.0 * std::log10(std::max(peakOf(x, from, to), 1e-15));
}

int ceilingHits(const Stereo& y, std::size_t from) {
    int hits = 0;
    for (const auto& channel : y)
        for (std::size_t n = from; n < channel.size(); ++n)
            hits += std::fabs(channel[n]) >= kCeilingLevel ? 1 : 0;
    return hits;
}

Stereo aWeighted(const Stereo& x) {
    Stereo out;
    for (int ch = 0; ch < kChannels; ++ch)
        out[ch] = aWeightedChannel(x[ch]);
    return out;
}

double energyMix(double powerA, double powerB, double morph) {
    return (1.0 - morph) * powerA + morph * powerB;
}

double perceivedMix(double powerA, double powerB, double morph) {
    const double mixed = (1.0 - morph) * std::pow(powerA, kLoudnessExponent) +
                         morph * std::pow(powerB, kLoudnessExponent);
    return std::pow(mixed, 1.0 / kLoudnessExponent);
}

Loudness measureLoudness(const Stereo& weightedA, const Stereo& weightedB, const Stereo& weightedY,
                         double morph, std::size_t from) {
    const std::size_t window = samplesOf(kLoudnessWindowSeconds);
    const std::size_t hop = samplesOf(kLoudnessHopSeconds);
    const double sounding = std::pow(10.0, kSoundingDb / 10.0);
    std::vector<double> deviations, magnitudes;
    Loudness out;
    for (std::size_t start = from; start + window <= weightedY[0].size(); start += hop) {
        const double ea = meanSquare(weightedA, start, start + window);
        const double eb = meanSquare(weightedB, start, start + window);
        const double ey = meanSquare(weightedY, start, start + window);
        const double t2 = perceivedMix(ea, eb, morph);
        if (ea > sounding && eb > sounding) {
            deviations.push_back(powerDb(ey) - powerDb(t2));
            magnitudes.push_back(std::fabs(deviations.back()));
        } else if (ea > sounding || eb > sounding) {
            const double belowT2 = powerDb(ey) - powerDb(t2);
            const double overT1 = powerDb(ey) - powerDb(energyMix(ea, eb, morph));
            ++out.pauseWindows;
            out.pauseViolations += belowT2 < -kPauseBelowT2Db || overT1 > kPauseAboveT1Db ? 1 : 0;
            out.lowestDb = std::min(out.lowestDb, belowT2);
            out.highestDb = std::max(out.highestDb, overT1);
        }
    }
    out.windows = static_cast<int>(deviations.size());
    out.medianDb = median(deviations);
    out.medianAbsDb = median(magnitudes);
    out.p95AbsDb = percentile(magnitudes, 0.95);
    return out;
}

HitFigures measurePreEcho(const Stereo& y, const Stereo& crossfade,
                          const std::vector<std::size_t>& hits, std::size_t from) {
    const std::size_t aheadFrom = samplesOfMs(kAheadFromMs), aheadTo = samplesOfMs(kAheadToMs);
    const std::size_t bedFrom = samplesOfMs(kBedFromMs), bedTo = samplesOfMs(kBedToMs);
    const auto level = [&](const Stereo& x, std::size_t hit) {
        return powerDb(meanSquare(x, hit - aheadFrom, hit - aheadTo)) -
               powerDb(meanSquare(x, hit - bedFrom, hit - bedTo));
    };
    return overHits(hits, from, bedFrom, y[0].size(), true,
                    [&](std::size_t hit) { return level(y, hit) - level(crossfade, hit); });
}

HitFigures measureDucking(const Stereo& weightedA, const Stereo& weightedB, const Stereo& weightedY,
                          double morph, const std::vector<std::size_t>& hits, std::size_t from) {
    const std::size_t before = samplesOfMs(kDuckingMs);
    return overHits(hits, from, before, weightedY[0].size(), false, [&](std::size_t hit) {
        const double t2 = perceivedMix(meanSquare(weightedA, hit - before, hit),
                                       meanSquare(weightedB, hit - before, hit), morph);
        return powerDb(meanSquare(weightedY, hit - before, hit)) - powerDb(t2);
    });
}

} // namespace tav::lab
