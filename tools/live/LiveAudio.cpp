#include "tools/live/LiveAudio.h"

#include "tools/HostError.h"

#include "pluginterfaces/base/smartpointer.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <rtaudio/RtAudio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tav::live {
namespace {

using Clock = std::chrono::steady_clock;

// RtAudio's error callback carries no pointer of its own: one stream plays at a time, so what
// it reports is kept here for the main thread to act on.
std::atomic<bool> bufferSizeChanged{false};
std::atomic<bool> streamFailed{false};
char lastError[256] = "";

void onError(RtAudioError::Type type, const std::string& text) {
    if (text.find("buffer size has changed") != std::string::npos) {
        bufferSizeChanged = true;
        return;
    }
    if (type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING)
        return;
    std::snprintf(lastError, sizeof lastError, "%s", text.c_str());
    streamFailed = true;
}

void raise(std::atomic<float>& peak, float value) {
    float seen = peak.load(std::memory_order_relaxed);
    while (value > seen && !peak.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

float peakOf(const float* const* channels, int count, unsigned frames) {
    float peak = 0.0f;
    for (int c = 0; c < count; ++c)
        for (unsigned i = 0; i < frames; ++i)
            peak = std::max(peak, std::fabs(channels[c][i]));
    return peak;
}

} // namespace

LiveAudio::LiveAudio(host::PluginInstance& instance, AudioDevices& devices,
                     const DeviceInfo& device, unsigned rate, LiveInput a, LiveInput b,
                     const host::ParameterSet& values)
    : instance(instance), devices(devices), device(device), rate(rate), a(a), b(b),
      firstValues(values), changes(Steinberg::owned(new host::ParameterChanges)) {
    mainChannels = a.file != nullptr ? a.file->channelCount() : 2;
    sideChannels = b.file != nullptr ? b.file->channelCount() : 2;
    outChannels = std::min(device.outputs, 2);
    inChannels = 0;
    if (a.file == nullptr)
        inChannels = std::max(inChannels, a.firstChannel + 2);
    if (b.file == nullptr)
        inChannels = std::max(inChannels, b.firstChannel + 2);
    if (inChannels > device.inputs)
        throw host::HostError("the audio device \"" + device.name + "\" has " +
                              std::to_string(device.inputs) + " inputs; live input needs " +
                              std::to_string(inChannels));
    // Every parameter's queue exists before the device starts, so the callback never allocates.
    for (int id = 0; id < host::ComponentHandler::kParameterCount; ++id)
        changes->add(static_cast<Steinberg::Vst::ParamID>(id), 0, 0.0);
    changes->clear();
}

LiveAudio::~LiveAudio() {
    stop();
}

void LiveAudio::start(int requestedBlock, const std::filesystem::path& record) {
    openStream(requestedBlock);
    prepare();
    if (!record.empty())
        take = std::make_unique<TakeWriter>(record, rate, outChannels);
    lastStatus = Clock::now();
    devices.system().startStream();
    if (!devices.system().isStreamRunning())
        throw host::HostError(std::string("the audio device would not start: ") + lastError);
}

void LiveAudio::stop() {
    closeStream();
    if (take)
        take->finish();
    instance.activate(false);
}

void LiveAudio::openStream(int requestedBlock) {
    RtAudio& audio = devices.system();
    RtAudio::StreamParameters out;
    out.deviceId = static_cast<unsigned>(device.index);
    out.nChannels = static_cast<unsigned>(outChannels);
    RtAudio::StreamParameters in;
    in.deviceId = static_cast<unsigned>(device.index);
    in.nChannels = static_cast<unsigned>(inChannels);
    RtAudio::StreamOptions options;
    options.flags = RTAUDIO_NONINTERLEAVED;
    options.streamName = "tavimo";
    auto frames = static_cast<unsigned>(requestedBlock);
    bufferSizeChanged = false;
    streamFailed = false;
    lastError[0] = '\0';
    try {
        audio.openStream(&out, inChannels > 0 ? &in : nullptr, RTAUDIO_FLOAT32, rate, &frames,
                         &LiveAudio::onAudio, this, &options, &onError);
    } catch (const RtAudioError& e) {
        throw host::HostError("cannot open the audio device \"" + device.name +
                              "\": " + e.getMessage());
    }
    if (!audio.isStreamOpen())
        throw host::HostError("cannot open the audio device \"" + device.name + "\": " + lastError);
    open = true;
    blockSize = static_cast<int>(frames);
}

void LiveAudio::closeStream() {
    if (!open)
        return;
    open = false;
    RtAudio& audio = devices.system();
    try {
        if (audio.isStreamRunning())
            audio.stopStream();
        if (audio.isStreamOpen())
            audio.closeStream();
    } catch (const RtAudioError&) {
        // A device that has gone away is closed already.
    }
}

// The plug-in learns the device's block size as its largest, and every buffer the callback
// needs is made here, before the device calls it.
void LiveAudio::prepare() {
    instance.setupProcessing(
        {static_cast<double>(rate), mainChannels, sideChannels, blockSize, /*realtime*/ true});
    instance.handler().takeRestartFlags();
    const auto block = static_cast<size_t>(blockSize);
    scratchA.assign(static_cast<size_t>(mainChannels), std::vector<float>(block));
    scratchB.assign(static_cast<size_t>(sideChannels), std::vector<float>(block));
    scratchOut.assign(static_cast<size_t>(mainChannels), std::vector<float>(block));
    pointersA.assign(scratchA.size(), nullptr);
    pointersB.assign(scratchB.size(), nullptr);
    pointersOut.clear();
    for (auto& channel : scratchOut)
        pointersOut.push_back(channel.data());
    devicePointers.assign(static_cast<size_t>(outChannels), nullptr);
    instance.activate(true);
}

void LiveAudio::service() {
    RtAudio& audio = devices.system();
    if (failed)
        throw host::HostError("the plug-in refused to process a block; playing stopped");
    if (streamFailed || (open && !audio.isStreamOpen()))
        throw host::HostError(std::string("the audio device stopped") +
                              (lastError[0] != '\0' ? std::string(": ") + lastError
                                                    : std::string(" (its server went away)")));
    const bool restart =
        (instance.handler().takeRestartFlags() & Steinberg::Vst::kLatencyChanged) != 0;
    if (bufferSizeChanged) {
        // The server plays on at its new size; the device is opened again at that size and the
        // plug-in prepared for it, as a DAW does.
        closeStream();
        instance.activate(false);
        openStream(0);
        prepare();
        audio.startStream();
    } else if (restart) {
        audio.stopStream();
        instance.activate(false);
        instance.activate(true);
        audio.startStream();
    }
}

LiveStatus LiveAudio::status() {
    LiveStatus s;
    const auto now = Clock::now();
    const uint64_t busy = busyNanos.load();
    const double wall = std::chrono::duration<double, std::nano>(now - lastStatus).count();
    s.cpuLoad = wall > 0.0 ? static_cast<double>(busy - lastBusy) / wall : 0.0;
    lastBusy = busy;
    lastStatus = now;
    s.peakCpuLoad = peakLoad.load();
    s.peakA = peakA.exchange(0.0f);
    s.peakB = peakB.exchange(0.0f);
    s.peakOut = peakOut.exchange(0.0f);
    s.underruns = underruns.load();
    s.blocks = blocks.load();
    s.frames = frames.load();
    s.lostRecordFrames = take ? take->lostFrames() : 0;
    s.blockSize = blockSize;
    s.rate = rate;
    s.pluginLatency = std::max(0, instance.latencySamples());
    s.deviceLatency = open ? devices.system().getStreamLatency() : 0;
    return s;
}

int LiveAudio::onAudio(void* output, void* input, unsigned frameCount, double, unsigned status,
                       void* self) {
    static_cast<LiveAudio*>(self)->process(static_cast<float*>(output),
                                           static_cast<const float*>(input), frameCount, status);
    return 0;
}

// A file plays looping from scratch copies; live input is used in place.
const float* const* LiveAudio::source(const LiveInput& in, std::vector<std::vector<float>>& scratch,
                                      std::vector<const float*>& pointers, int64_t& position,
                                      const float* deviceInput, unsigned frameCount) {
    if (in.file == nullptr) {
        for (size_t c = 0; c < pointers.size(); ++c)
            pointers[c] = deviceInput + (static_cast<size_t>(in.firstChannel) + c) * frameCount;
        return pointers.data();
    }
    const int64_t length = in.file->frames();
    for (size_t c = 0; c < scratch.size(); ++c) {
        const std::vector<float>& channel = in.file->channels[c];
        int64_t at = position;
        for (unsigned i = 0; i < frameCount; ++i) {
            scratch[c][i] = channel[static_cast<size_t>(at)];
            if (++at >= length)
                at = 0;
        }
        pointers[c] = scratch[c].data();
    }
    position = (position + frameCount) % length;
    return pointers.data();
}

void LiveAudio::process(float* output, const float* input, unsigned frameCount, unsigned status) {
    const auto started = Clock::now();
    if ((status & (RTAUDIO_OUTPUT_UNDERFLOW | RTAUDIO_INPUT_OVERFLOW)) != 0)
        underruns.fetch_add(1, std::memory_order_relaxed);
    if (frameCount > static_cast<unsigned>(blockSize) || failed.load(std::memory_order_relaxed)) {
        // More than the plug-in was prepared for (until the main thread prepares it again), or
        // a plug-in that refused a block: silence.
        std::memset(output, 0, sizeof(float) * frameCount * static_cast<unsigned>(outChannels));
        if (frameCount > static_cast<unsigned>(blockSize))
            bufferSizeChanged = true;
        return;
    }
    const float* const* mainIn = source(a, scratchA, pointersA, positionA, input, frameCount);
    const float* const* sideIn = source(b, scratchB, pointersB, positionB, input, frameCount);

    changes->clear();
    if (firstBlock) {
        firstBlock = false;
        changes->add(model::kAlgorithmId, 0, firstValues.algorithm);
        changes->add(model::kMixId, 0, firstValues.mix);
        changes->add(model::kOutputId, 0, firstValues.output);
        changes->add(model::kBypassId, 0, firstValues.bypass);
        changes->add(model::kMorphId, 0, firstValues.morph);
    }
    const Steinberg::uint32 edited = instance.handler().takeEditedValues(edits);
    for (int id = 0; id < host::ComponentHandler::kParameterCount; ++id)
        if ((edited & (1u << id)) != 0)
            changes->add(static_cast<Steinberg::Vst::ParamID>(id), 0, edits[id]);

    try {
        instance.process(mainIn, sideIn, pointersOut.data(), static_cast<int>(frameCount), changes);
    } catch (...) {
        // The plug-in refused a block: silence from now on, and the main thread says so.
        failed = true;
        for (float* channel : pointersOut)
            std::fill_n(channel, frameCount, 0.0f);
    }
    for (int c = 0; c < outChannels; ++c) {
        const float* from = pointersOut[static_cast<size_t>(std::min(c, mainChannels - 1))];
        float* to = output + static_cast<size_t>(c) * frameCount;
        std::copy_n(from, frameCount, to);
        devicePointers[static_cast<size_t>(c)] = to;
    }
    if (take)
        take->push(devicePointers.data(), static_cast<int>(frameCount));

    raise(peakA, peakOf(mainIn, mainChannels, frameCount));
    raise(peakB, peakOf(sideIn, sideChannels, frameCount));
    raise(peakOut, peakOf(devicePointers.data(), outChannels, frameCount));
    blocks.fetch_add(1, std::memory_order_relaxed);
    frames.fetch_add(frameCount, std::memory_order_relaxed);
    const auto busy =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started).count();
    busyNanos.fetch_add(static_cast<uint64_t>(busy), std::memory_order_relaxed);
    raise(peakLoad, static_cast<float>(static_cast<double>(busy) * 1e-9 * rate / frameCount));
}

} // namespace tav::live
