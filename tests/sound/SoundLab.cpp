#include "SoundLab.h"

#include "engine/MorphEngine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace tav::lab {
namespace {

// The window after a case's switch to zeros in which the output's peak is reported.
constexpr double kAfterSwitchSeconds = 0.1;

std::size_t startUpSamples() {
    return static_cast<std::size_t>(kStartUpSeconds * kRate);
}

} // namespace

Stereo render(const Case& c, const Setting& setting) {
    MorphEngine engine;
    engine.prepare(kRate, kChannels, kBlockSize, setting.quality);
    EngineParams params;
    params.morph = setting.morph;
    params.algorithm = setting.algorithm;
    const auto latency = static_cast<std::size_t>(engine.currentLatency());
    // The inputs run on in zeros for one latency, so that the output's tail comes out too.
    const std::size_t length = c.length() + latency;
    Stereo a, b, out;
    for (int ch = 0; ch < kChannels; ++ch) {
        a[ch] = c.a[ch];
        b[ch] = c.b[ch];
        a[ch].resize(length, 0.0f);
        b[ch].resize(length, 0.0f);
        out[ch].resize(length);
    }
    for (std::size_t start = 0; start < length; start += kBlockSize) {
        const int count = static_cast<int>(std::min<std::size_t>(kBlockSize, length - start));
        const float* inA[] = {a[0].data() + start, a[1].data() + start};
        const float* inB[] = {b[0].data() + start, b[1].data() + start};
        float* outs[] = {out[0].data() + start, out[1].data() + start};
        engine.process(inA, inB, outs, count, params);
    }
    for (auto& channel : out)
        channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(latency));
    return out;
}

Stereo crossfade(const Case& c, float morph) {
    Stereo out;
    for (int ch = 0; ch < kChannels; ++ch) {
        out[ch].resize(c.length());
        for (std::size_t n = 0; n < c.length(); ++n)
            out[ch][n] = (1.0f - morph) * c.a[ch][n] + morph * c.b[ch][n];
    }
    return out;
}

Figures measureOutput(const Case& c, float morph, const Stereo& y) {
    const std::size_t from = startUpSamples();
    Figures f;
    f.swells = measureSwells(c.a, c.b, y, c.swellsFrom);
    f.peakDb = peakDb(y, from, c.length());
    f.ceilingHits = ceilingHits(y, from);
    f.ceilingApplies = c.ceilingApplies;
    if (c.switchAt > 0) {
        const auto after = static_cast<std::size_t>(kAfterSwitchSeconds * kRate);
        f.switchPeakDb = peakDb(y, c.switchAt, std::min(c.length(), c.switchAt + after));
    }
    if (c.stopCase)
        return f;
    const Stereo weightedY = aWeighted(y);
    f.loudness = measureLoudness(c.weightedA, c.weightedB, weightedY, morph, from);
    if (!c.hits.empty())
        f.preEcho = measurePreEcho(y, crossfade(c, morph), c.hits, from);
    f.ducking = measureDucking(c.weightedA, c.weightedB, weightedY, morph, c.hits, from);
    return f;
}

std::vector<Result> runJobs(const std::vector<Job>& jobs, int threads) {
    std::vector<Result> results(jobs.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < jobs.size(); i = next++) {
            const Job& job = jobs[i];
            results[i] = {job,
                          measureOutput(*job.c, job.setting.morph, render(*job.c, job.setting))};
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& thread : pool)
        thread.join();
    return results;
}

} // namespace tav::lab
