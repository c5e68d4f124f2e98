#include "tools/host/LiveSession.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace tav::host {

LiveSession::LiveSession(PluginInstance& instance, const AudioBuffer& a, const AudioBuffer& b,
                         int blockSize)
    : instance(instance), a(a), b(b), blockSize(blockSize) {
    // Every parameter's queue exists before the audio thread starts, so it never allocates.
    for (int id = 0; id < ComponentHandler::kParameterCount; ++id)
        changes.add(static_cast<Vst::ParamID>(id), 0, 0.0);
    changes.clear();
}

LiveSession::~LiveSession() {
    stop();
}

void LiveSession::start() {
    if (running)
        return;
    instance.activate(true);
    running = true;
    audio = std::thread([this] { play(); });
}

void LiveSession::stop() {
    if (!running)
        return;
    running = false;
    audio.join();
    instance.activate(false);
}

void LiveSession::serviceRestarts() {
    if ((instance.handler().takeRestartFlags() & Vst::kLatencyChanged) == 0 || !running)
        return;
    stop();
    start();
}

void LiveSession::applyEdits() {
    changes.clear();
    const uint32 edited = instance.handler().takeEditedValues(edits);
    for (int id = 0; id < ComponentHandler::kParameterCount; ++id) {
        if ((edited & (1u << id)) != 0)
            changes.add(static_cast<Vst::ParamID>(id), 0, edits[id]);
    }
}

// Paced by the clock: each block is processed when its time has come, like a sound card's
// callback, and a late block is not made up for.
void LiveSession::play() {
    using Clock = std::chrono::steady_clock;
    const auto blockTime = std::chrono::duration<double>(blockSize / a.sampleRate);
    const int channels = a.channelCount();
    const int sideChannels = b.channelCount();
    std::vector<std::vector<float>> out(channels, std::vector<float>(blockSize));
    std::vector<const float*> main(channels), side(sideChannels);
    std::vector<float*> outputs(channels);
    const int64_t length = a.frames();
    int64_t position = 0;
    auto due = Clock::now();
    while (running) {
        const int count = static_cast<int>(std::min<int64_t>(blockSize, length - position));
        for (int c = 0; c < channels; ++c) {
            main[c] = a.channels[c].data() + position;
            outputs[c] = out[c].data();
        }
        for (int c = 0; c < sideChannels; ++c)
            side[c] = b.channels[c].data() + position;
        applyEdits();
        instance.process(main.data(), sideChannels > 0 ? side.data() : nullptr, outputs.data(),
                         count, &changes);
        processed.fetch_add(1);
        position += count;
        if (position >= length)
            position = 0;
        due += std::chrono::duration_cast<Clock::duration>(blockTime * count / blockSize);
        const auto now = Clock::now();
        if (due < now)
            due = now;
        std::this_thread::sleep_until(due);
    }
}

} // namespace tav::host
