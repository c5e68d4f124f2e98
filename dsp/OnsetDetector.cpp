#include "dsp/OnsetDetector.h"

#include "dsp/SpanSums.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace tav {
namespace {

// Keeps ln() finite for empty bands.
constexpr float kBandEnergyFloor = 1e-9f;
// Empty bands (silence, or bands above the highest bin) share one log, taken once at load.
const float kEmptyBandLog = std::log(kBandEnergyFloor);
// Mean rise per band: the flux summed over 32 bands, divided by 32.
constexpr float kFluxPerBand = 0.03125f;
// Fires when the mean rise beats 2.5 times the mean of the last 8 frames plus 0.5 neper.
constexpr float kHistoryFactor = 0.3125f;
constexpr float kFluxMargin = 0.5f;

// Adds each bin's power to its band. Neighbouring bins share a band, so the bins are taken
// in runs of one band and each run is summed in vector lanes: adding bin by bin into the
// band's slot would make every addition wait for the previous one's store.
void gatherBandEnergy(const float* magnitude, int numBins, const int* bandMap,
                      float (&bandEnergy)[OnsetDetector::kBands]) {
    int begin = 0;
    while (begin < numBins) {
        const int end = spans::runEnd(bandMap, begin, numBins);
        bandEnergy[bandMap[begin]] += spans::sumOfSquares(magnitude + begin, end - begin);
        begin = end;
    }
}

} // namespace

void OnsetDetector::reset() {
    std::fill(std::begin(previousLogEnergy), std::end(previousLogEnergy), 0.0f);
    std::fill(std::begin(fluxHistory), std::end(fluxHistory), 0.0f);
    historyPosition = 0;
    holdFrames = 0;
    primed = false;
}

bool OnsetDetector::detect(const FrameAnalysis& analysis, int numBins, const int* bandMap) {
    float bandEnergy[kBands] = {};
    gatherBandEnergy(analysis.magnitude.data(), numBins, bandMap, bandEnergy);
    return decide(bandEnergy, analysis.energy);
}

bool OnsetDetector::detectSilence() {
    const float bandEnergy[kBands] = {};
    return decide(bandEnergy, 0.0f);
}

bool OnsetDetector::decide(const float (&bandEnergy)[kBands], float energy) {
    float flux = 0.0f;
    for (int b = 0; b < kBands; ++b) {
        const float logEnergy =
            bandEnergy[b] == 0.0f ? kEmptyBandLog : std::log(bandEnergy[b] + kBandEnergyFloor);
        const float rise = logEnergy - previousLogEnergy[b];
        if (rise > 0.0f)
            flux += rise;
        previousLogEnergy[b] = logEnergy;
    }
    const float normalisedFlux = flux * kFluxPerBand;

    float historySum = 0.0f;
    for (float value : fluxHistory)
        historySum += value;
    fluxHistory[historyPosition] = normalisedFlux;
    historyPosition = (historyPosition + 1) % kHistory;

    const bool wasPrimed = primed;
    primed = true;

    if (holdFrames > 0) {
        --holdFrames;
        return false;
    }
    const bool onset = wasPrimed && !(energy < kSilentEnergy) &&
                       normalisedFlux > historySum * kHistoryFactor + kFluxMargin;
    if (onset)
        holdFrames = kHoldOffFrames;
    return onset;
}

} // namespace tav
