#include "algorithms/Algorithm.h"

#include "algorithms/AlgorithmMakers.h"

namespace tav {

void FrameAnalysis::resize(int numBins) {
    const auto n = static_cast<std::size_t>(numBins);
    re.assign(n, 0.0f);
    im.assign(n, 0.0f);
    magnitude.assign(n, 0.0f);
    frequency.assign(n, 0.0f);
    energy = 0.0f;
    onset = false;
}

Algorithm::~Algorithm() = default;

bool Algorithm::needsReassignedFrequencies() const {
    return true;
}

std::unique_ptr<Algorithm> createAlgorithm(int index) {
    switch (index) {
    case 0:
        return makeTransport();
    case 1:
        return makePartials();
    case 2:
        return makeImprint();
    case 3:
        return makeDiffuse();
    default:
        return nullptr;
    }
}

} // namespace tav
