// Processor state streams: a refused stream changes nothing; an accepted one round-trips
// through getState/setState; the stored values are always finite.
#include "FuzzCheck.h"

#include "plugin/TavimoProcessor.h"

#include "public.sdk/source/common/memorystream.h"

#include <cmath>
#include <vector>

using namespace Steinberg;

namespace {

std::vector<uint8_t> savedState(tav::plugin::TavimoProcessor& processor) {
    MemoryStream stream;
    tav::fuzz::check(processor.getState(&stream) == kResultOk, "getState succeeds");
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.getData());
    return {bytes, bytes + stream.getSize()};
}

tresult restore(tav::plugin::TavimoProcessor& processor, const uint8_t* data, size_t size) {
    MemoryStream stream(const_cast<uint8_t*>(data), static_cast<TSize>(size));
    return processor.setState(&stream);
}

void checkFinite(const std::vector<uint8_t>& state) {
    tav::fuzz::check(state.size() == 52, "the state is 52 bytes");
    for (size_t offset = 4; offset + 8 <= state.size(); offset += 8) {
        double value = 0.0;
        std::memcpy(&value, state.data() + offset, sizeof(value));
        tav::fuzz::check(std::isfinite(value), "stored values are finite");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto* processor = new tav::plugin::TavimoProcessor();
    const auto before = savedState(*processor);
    if (restore(*processor, data, size) == kResultOk) {
        const auto accepted = savedState(*processor);
        checkFinite(accepted);
        tav::fuzz::check(restore(*processor, accepted.data(), accepted.size()) == kResultOk,
                         "a saved state is accepted again");
        tav::fuzz::check(savedState(*processor) == accepted, "a saved state round-trips");
    } else {
        tav::fuzz::check(savedState(*processor) == before, "a refused stream changes nothing");
    }
    processor->release();
    return 0;
}
