#include "dsp/FrameMeters.h"

#include "dsp/SpanSums.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace tav {
namespace {

// 1/60: the level scale spans 60 dB below a full-scale sine.
constexpr float kLevelPerDecibelTenth = 0.16666667f;

float levelFor(float sum, float reference) {
    if (sum <= kSilentEnergy)
        return 0.0f;
    return std::min(std::max(1.0f + std::log10(sum / reference) * kLevelPerDecibelTenth, 0.0f),
                    1.0f);
}

} // namespace

void FrameMeters::prepare(int channelCount, int frameLength, const int* bandOfBin) {
    channels = std::max(channelCount, 1);
    fftSize = frameLength;
    // Bins come in runs of one band, so each run is summed as a whole rather than bin by bin.
    runs.clear();
    const int numBins = fftSize / 2 + 1;
    for (int begin = 0; begin < numBins;) {
        int end = begin + 1;
        while (end < numBins && bandOfBin[end] == bandOfBin[begin])
            ++end;
        runs.push_back({bandOfBin[begin], begin, end});
        begin = end;
    }
    fresh = false;
}

// The unweighted energy a full-scale sine yields under the Hann window: 3 N^2 / 32.
float FrameMeters::referenceEnergy() const {
    const float n = static_cast<float>(fftSize);
    return n * 0.25f * n * 0.375f;
}

float FrameMeters::accumulateBands(const float* magnitude, float share, float* bandEnergy) const {
    float total = 0.0f;
    for (const BandRun& run : runs) {
        const float power = share * spans::sumOfSquares(magnitude + run.begin, run.end - run.begin);
        total += power;
        if (run.band >= 0)
            bandEnergy[run.band] += power;
    }
    return total;
}

void FrameMeters::clearSums() {
    std::fill(std::begin(meters.bandEnergyA), std::end(meters.bandEnergyA), 0.0f);
    std::fill(std::begin(meters.bandEnergyB), std::end(meters.bandEnergyB), 0.0f);
    meters.weightedEnergyA = 0.0f;
    meters.weightedEnergyB = 0.0f;
}

void FrameMeters::updateSilent() {
    if (runs.empty())
        return; // not prepared
    clearSums();
    meters.levelA = levelFor(0.0f, referenceEnergy());
    meters.levelB = meters.levelA;
    fresh = true;
}

void FrameMeters::update(const FrameAnalysis* const* analysesA,
                         const FrameAnalysis* const* analysesB) {
    if (runs.empty())
        return; // not prepared
    clearSums();

    // Means over channels, so a stereo pair of one signal reads like the mono signal.
    const float share = 1.0f / static_cast<float>(channels);
    float sumA = 0.0f;
    float sumB = 0.0f;
    for (int c = 0; c < channels; ++c) {
        sumA += accumulateBands(analysesA[c]->magnitude.data(), share, meters.bandEnergyA);
        sumB += accumulateBands(analysesB[c]->magnitude.data(), share, meters.bandEnergyB);
        meters.weightedEnergyA += share * analysesA[c]->energy;
        meters.weightedEnergyB += share * analysesB[c]->energy;
    }

    meters.levelA = levelFor(sumA, referenceEnergy());
    meters.levelB = levelFor(sumB, referenceEnergy());
    fresh = true;
}

} // namespace tav
