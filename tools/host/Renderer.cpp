#include "tools/host/Renderer.h"

#include "tools/host/ParameterOptions.h"
#include "tools/host/PluginInstance.h"

#include "pluginterfaces/base/smartpointer.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace tav::host {

namespace {

// Copies up to n samples of each channel from position on, zeros past the end.
void fillChunk(const AudioBuffer& source, int64_t position, int n,
               std::vector<std::vector<float>>& chunk) {
    for (size_t c = 0; c < chunk.size(); ++c) {
        const std::vector<float>& channel = source.channels[c];
        const int64_t available = std::clamp<int64_t>(source.frames() - position, 0, n);
        std::fill(chunk[c].begin(), chunk[c].end(), 0.0f);
        if (available > 0)
            std::copy_n(channel.begin() + position, available, chunk[c].begin());
    }
}

std::vector<float*> pointersTo(std::vector<std::vector<float>>& chunk) {
    std::vector<float*> pointers;
    for (auto& channel : chunk)
        pointers.push_back(channel.data());
    return pointers;
}

} // namespace

ParameterSet Renderer::startValues(const RenderSettings& settings) {
    ParameterSet values;
    values.morph = settings.morph.valueAt(0.0);
    values.algorithm = ParameterSet::algorithmNormalized(settings.algorithm);
    values.mix = ParameterSet::mixNormalized(settings.mixPercent.valueAt(0.0));
    values.output = ParameterSet::outputNormalized(settings.outputDb.valueAt(0.0));
    values.quality = settings.quality != 0 ? 1.0 : 0.0;
    return values;
}

void Renderer::validate(const RenderSettings& settings) {
    const model::ParamInfo& algorithm = model::param(model::kAlgorithmId);
    const model::ParamInfo& mix = model::param(model::kMixId);
    const model::ParamInfo& output = model::param(model::kOutputId);
    if (settings.algorithm < algorithm.minimum || settings.algorithm > algorithm.maximum)
        throw HostError("--algorithm must be transport, partials, imprint or diffuse");
    const auto within = [](const MorphRamp& ramp, const model::ParamInfo& param) {
        for (const auto& point : ramp.breakpoints())
            if (!(point.second >= param.minimum && point.second <= param.maximum))
                return false;
        return true;
    };
    if (!within(settings.mixPercent, mix))
        throw HostError("--mix must lie between 0 and 100 percent");
    if (!within(settings.outputDb, output))
        throw HostError("--gain must lie between -24 and 12 dB");
    if (settings.blockSize < kMinBlockSize || settings.blockSize > kMaxBlockSize)
        throw HostError("--block must lie between " + std::to_string(kMinBlockSize) + " and " +
                        std::to_string(kMaxBlockSize) + " samples");
}

RenderResult Renderer::render(const PluginModule& module, const AudioBuffer& a,
                              const AudioBuffer& b, const RenderSettings& settings,
                              const Progress& progress, const std::atomic<bool>* cancel) {
    validate(settings);
    const double rate = a.sampleRate;
    PluginInstance instance(module);

    const ParameterSet values = startValues(settings);
    instance.restoreParameters(values);

    ProcessingSetup setup;
    setup.sampleRate = rate;
    setup.mainChannels = a.channelCount();
    setup.sideChannels = b.channelCount();
    setup.maxBlockSize = settings.blockSize;
    instance.setupProcessing(setup);
    instance.handler().takeRestartFlags(); // a restored Quality asks for a restart: we set up now
    instance.activate(true);

    RenderResult result;
    result.latencySamples = std::max(0, instance.latencySamples());
    result.output = AudioBuffer::silence(rate, a.channelCount(), a.frames());

    const int block = settings.blockSize;
    std::vector<std::vector<float>> chunkA(a.channels.size(), std::vector<float>(block));
    std::vector<std::vector<float>> chunkB(b.channels.size(), std::vector<float>(block));
    std::vector<std::vector<float>> chunkOut(a.channels.size(), std::vector<float>(block));
    const std::vector<float*> inA = pointersTo(chunkA);
    const std::vector<float*> inB = pointersTo(chunkB);
    const std::vector<float*> out = pointersTo(chunkOut);

    // The first block carries every value, as a host's automation does at the start of a
    // bounce; the plug-in starts at them, so the first real sample already has them and the
    // frames fall at the same samples whatever the block size.
    auto changes = Steinberg::owned(new ParameterChanges);

    const int64_t latency = result.latencySamples;
    const int64_t total = a.frames() + latency;
    for (int64_t position = 0; position < total; position += block) {
        if (cancel != nullptr && cancel->load())
            throw HostError("interrupted");
        const int n = static_cast<int>(std::min<int64_t>(block, total - position));
        fillChunk(a, position, n, chunkA);
        fillChunk(b, position, n, chunkB);

        // After the first block only moving ramps go out, taken at the middle of the block since
        // the processor applies one value per block. Mix and Output act on the output, which
        // trails the input by the latency.
        const double middle = (static_cast<double>(position) + 0.5 * n) / rate;
        const double outputMiddle = middle - static_cast<double>(latency) / rate;
        changes->clear();
        if (position == 0) {
            changes->add(model::kAlgorithmId, 0, values.algorithm);
            changes->add(model::kMixId, 0, values.mix);
            changes->add(model::kOutputId, 0, values.output);
            changes->add(model::kBypassId, 0, values.bypass);
            changes->add(model::kMorphId, 0, settings.morph.valueAt(0.0));
        }
        if (!settings.morph.isConstant())
            changes->add(model::kMorphId, 0, settings.morph.valueAt(middle));
        if (!settings.mixPercent.isConstant())
            changes->add(model::kMixId, 0,
                         ParameterSet::mixNormalized(settings.mixPercent.valueAt(outputMiddle)));
        if (!settings.outputDb.isConstant())
            changes->add(model::kOutputId, 0,
                         ParameterSet::outputNormalized(settings.outputDb.valueAt(outputMiddle)));
        instance.process(inA.data(), inB.data(), out.data(), n, changes);

        // Output sample position + i belongs to input sample position + i - latency.
        const int64_t first = std::max<int64_t>(0, latency - position);
        for (int64_t i = first; i < n; ++i) {
            const int64_t target = position + i - latency;
            if (target >= a.frames())
                break;
            for (size_t c = 0; c < chunkOut.size(); ++c)
                result.output.channels[c][static_cast<size_t>(target)] =
                    chunkOut[c][static_cast<size_t>(i)];
        }
        if (progress)
            progress(static_cast<double>(position + n) / static_cast<double>(total));
    }
    instance.activate(false);
    result.analysisMessages = instance.toController().deliveredTotal();
    return result;
}

} // namespace tav::host
