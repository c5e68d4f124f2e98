#include "algorithms/Algorithm.h"

#include "algorithms/AlgorithmMakers.h"

namespace tav {

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
