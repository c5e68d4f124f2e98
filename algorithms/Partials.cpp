#include "algorithms/AlgorithmMakers.h"

#include <algorithm>

namespace tav {
namespace {

// Placeholder until the algorithm lands: a silent frame.
class Partials final : public Algorithm {
public:
    void prepare(int, int, double) override {}
    void reset() override {}
    void process(const MorphContext& ctx, float* outRe, float* outIm) override {
        std::fill(outRe, outRe + ctx.numBins, 0.0f);
        std::fill(outIm, outIm + ctx.numBins, 0.0f);
    }
};

} // namespace

std::unique_ptr<Algorithm> makePartials() { return std::make_unique<Partials>(); }

} // namespace tav
