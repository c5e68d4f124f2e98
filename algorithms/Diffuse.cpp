#include "algorithms/AlgorithmMakers.h"

#include <algorithm>

namespace tav {
namespace {

// Placeholder until the algorithm lands: a silent frame.
class Diffuse final : public Algorithm {
public:
    void prepare(int, int, double) override {}
    void reset() override {}
    void process(const MorphContext& ctx, float* outRe, float* outIm) override {
        std::fill(outRe, outRe + ctx.numBins, 0.0f);
        std::fill(outIm, outIm + ctx.numBins, 0.0f);
    }
    bool needsReassignedFrequencies() const override { return false; }
};

} // namespace

std::unique_ptr<Algorithm> makeDiffuse() { return std::make_unique<Diffuse>(); }

} // namespace tav
