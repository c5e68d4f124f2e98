// The processor driven as a host would, with whatever the input says: a rate from the accepted
// range, a layout, block sizes, parameter queues holding any double, and samples that may be
// NaN, infinite or huge. Invariants: the output is always finite; with Mix at 1 and Bypass off
// it never exceeds max(1, input peak) x the larger of this and the previous block's output
// gain (beyond rounding); process never allocates.
#include "FuzzCheck.h"

#include "plugin/TavimoProcessor.h"
#include "support/AllocationCounter.h"

#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/vstspeaker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <vector>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr double kMinRate = 1000.0;
constexpr double kMaxRate = 2.0e6;
constexpr double kCommonRates[] = {44100.0, 48000.0, 96000.0, 22050.0, 8000.0, 192000.0};
constexpr int kMaxBlock = 4096;
constexpr int64_t kMaxSamplesPerInput = 24000;
constexpr int kChannels = 2;

// One point per parameter: the processor only reads a queue's last point.
class Queue : public IParamValueQueue {
public:
    ParamID PLUGIN_API getParameterId() override { return id; }
    int32 PLUGIN_API getPointCount() override { return 1; }
    tresult PLUGIN_API getPoint(int32 index, int32& offset, ParamValue& result) override {
        if (index != 0)
            return kResultFalse;
        offset = 0;
        result = value;
        return kResultTrue;
    }
    tresult PLUGIN_API addPoint(int32, ParamValue, int32&) override { return kResultFalse; }
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    ParamID id = 0;
    ParamValue value = 0.0;
};

class Changes : public IParameterChanges {
public:
    int32 PLUGIN_API getParameterCount() override { return count; }
    IParamValueQueue* PLUGIN_API getParameterData(int32 index) override {
        return index >= 0 && index < count ? &queues[static_cast<size_t>(index)] : nullptr;
    }
    IParamValueQueue* PLUGIN_API addParameterData(const ParamID&, int32&) override {
        return nullptr;
    }
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    std::array<Queue, 6> queues{};
    int32 count = 0;
};

double rateFrom(tav::fuzz::ByteReader& in) {
    const uint8_t choice = in.take<uint8_t>();
    if (choice < 192)
        return kCommonRates[choice % std::size(kCommonRates)];
    // Anywhere in the accepted range, spread evenly over its octaves.
    const double fraction = in.take<uint16_t>() / 65535.0;
    return std::clamp(kMinRate * std::pow(kMaxRate / kMinRate, fraction), kMinRate, kMaxRate);
}

// A sample from the input: mostly programme-like values, sometimes raw bits (NaN, infinity,
// denormals, values near the float limit).
float sampleFrom(tav::fuzz::ByteReader& in, float& previous) {
    const uint8_t kind = in.take<uint8_t>();
    if (kind < 8) {
        previous = in.take<float>();
        return previous;
    }
    previous = previous * 0.9f + (static_cast<float>(kind) - 128.0f) / 256.0f;
    if (!std::isfinite(previous))
        previous = 0.0f;
    return previous;
}

double gainOf(double outputNormalized) {
    return std::pow(10.0, 1.8 * std::clamp(outputNormalized, 0.0, 1.0) - 1.2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tav::fuzz::ByteReader in(data, size);
    const double rate = rateFrom(in);
    const uint8_t layout = in.take<uint8_t>();
    const bool mono = (layout & 1) != 0;
    const bool sidechain = (layout & 2) != 0;
    // With Mix fixed at 1 and Bypass off, the output's ceiling can be checked.
    const bool bounded = (layout & 4) != 0;
    const int maxBlock = 1 + in.take<uint16_t>() % kMaxBlock;
    const double quality = (layout & 8) != 0 ? 1.0 : 0.0;

    auto* processor = new tav::plugin::TavimoProcessor();
    processor->initialize(nullptr);
    SpeakerArrangement arrangement = mono ? SpeakerArr::kMono : SpeakerArr::kStereo;
    SpeakerArrangement inputs[2] = {arrangement, SpeakerArr::kStereo};
    processor->setBusArrangements(inputs, 2, &arrangement, 1);
    processor->activateBus(kAudio, kInput, 1, sidechain);
    Changes changes;
    changes.queues[0] = {};
    changes.queues[0].id = tav::plugin::kQualityId;
    changes.queues[0].value = quality;
    changes.count = 1;
    ProcessData setupCall{};
    setupCall.inputParameterChanges = &changes;
    processor->process(setupCall);
    ProcessSetup setup{kRealtime, kSample32, maxBlock, rate};
    tav::fuzz::check(processor->setupProcessing(setup) == kResultOk, "accepted rates set up");
    tav::fuzz::check(processor->setActive(true) == kResultOk, "accepted rates activate");

    const int channels = mono ? 1 : kChannels;
    std::vector<std::vector<float>> a(kChannels, std::vector<float>(static_cast<size_t>(maxBlock)));
    std::vector<std::vector<float>> b = a, out = a;
    float* aPointers[kChannels] = {a[0].data(), a[1].data()};
    float* bPointers[kChannels] = {b[0].data(), b[1].data()};
    float* outPointers[kChannels] = {out[0].data(), out[1].data()};

    double inputPeak = 0.0;
    double outputValue = 2.0 / 3.0;
    double previousGain = 1.0; // the engine ramps the gain from 1 after activation
    float previousSample = 0.0f;
    int64_t done = 0;
    while (done < kMaxSamplesPerInput && !in.empty()) {
        const int n = in.take<uint16_t>() % (maxBlock + 1);
        changes.count = 0;
        const int points = in.take<uint8_t>() % 4;
        for (int p = 0; p < points; ++p) {
            Queue& queue = changes.queues[static_cast<size_t>(changes.count)];
            queue.id = in.take<uint8_t>() % 7; // 6 is no parameter of ours
            queue.value = (in.take<uint8_t>() & 1) != 0 ? in.take<double>() : in.unit();
            if (bounded && (queue.id == tav::plugin::kMixId || queue.id == tav::plugin::kBypassId))
                continue;
            if (queue.id == tav::plugin::kOutputId && std::isfinite(queue.value))
                outputValue = queue.value;
            ++changes.count;
        }
        for (int c = 0; c < channels; ++c) {
            for (int i = 0; i < n; ++i) {
                const float x = sampleFrom(in, previousSample);
                const float y = sampleFrom(in, previousSample);
                a[static_cast<size_t>(c)][static_cast<size_t>(i)] = x;
                b[static_cast<size_t>(c)][static_cast<size_t>(i)] = y;
                if (std::isfinite(x))
                    inputPeak = std::max(inputPeak, static_cast<double>(std::fabs(x)));
                if (sidechain && std::isfinite(y))
                    inputPeak = std::max(inputPeak, static_cast<double>(std::fabs(y)));
            }
        }

        AudioBusBuffers buses[2]{};
        buses[0].numChannels = channels;
        buses[0].channelBuffers32 = aPointers;
        buses[1].numChannels = channels;
        buses[1].channelBuffers32 = bPointers;
        AudioBusBuffers output{};
        output.numChannels = channels;
        output.channelBuffers32 = outPointers;
        ProcessData call{};
        call.processMode = kRealtime;
        call.symbolicSampleSize = kSample32;
        call.numSamples = n;
        call.numInputs = 2;
        call.numOutputs = 1;
        call.inputs = buses;
        call.outputs = &output;
        call.inputParameterChanges = &changes;
        {
            tav::test::AllocationCounter counter;
            processor->process(call);
            tav::fuzz::check(counter.count() == 0, "process never allocates");
        }

        const double gain = gainOf(outputValue);
        const double ceiling =
            std::max(1.0, inputPeak) * std::max(gain, previousGain) * (1.0 + 1e-5);
        for (int c = 0; c < channels; ++c) {
            for (int i = 0; i < n; ++i) {
                const float y = out[static_cast<size_t>(c)][static_cast<size_t>(i)];
                tav::fuzz::check(std::isfinite(y), "the output is finite");
                if (bounded)
                    tav::fuzz::check(std::fabs(y) <= ceiling, "the output stays under its ceiling");
            }
        }
        previousGain = gain;
        done += n;
        if (n == 0 && points == 0)
            break;
    }
    processor->setActive(false);
    processor->terminate();
    processor->release();
    return 0;
}
