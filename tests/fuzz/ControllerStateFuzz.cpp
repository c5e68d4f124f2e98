// Controller streams: the processor's state taken over (setComponentState) and the
// controller's own (setState). A refused stream changes nothing; an accepted own state
// round-trips; every normalized value read back is finite and within 0..1.
#include "FuzzCheck.h"

#include "plugin/TavimoController.h"
#include "plugin/TavimoIds.h"

#include "public.sdk/source/common/memorystream.h"

#include <array>
#include <cmath>
#include <vector>

using namespace Steinberg;

namespace {

using Values = std::array<double, tav::plugin::kParamCount>;

Values valuesOf(tav::plugin::TavimoController& controller) {
    Values values{};
    for (int id = 0; id < tav::plugin::kParamCount; ++id) {
        values[static_cast<size_t>(id)] =
            controller.getParamNormalized(static_cast<Vst::ParamID>(id));
        const double value = values[static_cast<size_t>(id)];
        tav::fuzz::check(std::isfinite(value) && value >= 0.0 && value <= 1.0,
                         "normalized values are finite and within 0..1");
    }
    return values;
}

std::vector<uint8_t> ownState(tav::plugin::TavimoController& controller) {
    MemoryStream stream;
    tav::fuzz::check(controller.getState(&stream) == kResultOk, "getState succeeds");
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.getData());
    return {bytes, bytes + stream.getSize()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto* controller = new tav::plugin::TavimoController();
    tav::fuzz::check(controller->initialize(nullptr) == kResultOk, "initialize succeeds");

    const Values before = valuesOf(*controller);
    MemoryStream componentState(const_cast<uint8_t*>(data), static_cast<TSize>(size));
    if (controller->setComponentState(&componentState) != kResultOk)
        tav::fuzz::check(valuesOf(*controller) == before, "a refused stream changes nothing");
    else
        valuesOf(*controller);

    const auto ownBefore = ownState(*controller);
    MemoryStream state(const_cast<uint8_t*>(data), static_cast<TSize>(size));
    if (controller->setState(&state) == kResultOk) {
        const auto accepted = ownState(*controller);
        MemoryStream again(const_cast<uint8_t*>(accepted.data()),
                           static_cast<TSize>(accepted.size()));
        tav::fuzz::check(controller->setState(&again) == kResultOk, "a saved state is accepted");
        tav::fuzz::check(ownState(*controller) == accepted, "a saved state round-trips");
    } else {
        tav::fuzz::check(ownState(*controller) == ownBefore, "a refused stream changes nothing");
    }

    controller->terminate();
    controller->release();
    return 0;
}
