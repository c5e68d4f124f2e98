#include "dsp/FrameRecords.h"

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

} // namespace tav
