#include "Material.h"

#include "SoundGoals.h"
#include "SoundMeasures.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <random>
#include <stdexcept>

namespace tav::lab {
namespace {

// The stopping material fades out this long before it reaches its floor.
constexpr double kStopFadeSeconds = 0.05;
// Swells around a stop are measured from this long before it.
constexpr double kBeforeStopSeconds = 0.25;
// The material counts as started where it first rises above this magnitude.
constexpr float kStartMagnitude = 1e-4f;
// The burst's inputs.
constexpr double kBurstPadPeakDb = -9.0;
constexpr double kBurstNoisePeakDb = -66.0;
constexpr double kBurstSwitchSeconds = 2.0;
constexpr double kBurstSeconds = 3.0;
// Noise seeds, one more per channel.
constexpr unsigned kStopFloorSeed = 101;
constexpr unsigned kBurstNoiseSeed = 201;

std::size_t samplesOf(double seconds) {
    return static_cast<std::size_t>(std::lround(seconds * kRate));
}

float gainOf(double db) {
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

void scale(Stereo& x, float gain) {
    for (auto& channel : x)
        for (float& v : channel)
            v *= gain;
}

void cut(Stereo& x, std::size_t length) {
    for (auto& channel : x)
        channel.resize(length, 0.0f);
}

double wholePeakDb(const Stereo& x) {
    return peakDb(x, 0, x[0].size());
}

// Uniform noise peaking at `peak`, reproducible from the seed.
std::vector<float> noise(std::size_t length, float peak, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<float> out(length);
    for (float& v : out)
        v = peak * static_cast<float>(2.0 * random() / 4294967296.0 - 1.0);
    return out;
}

std::vector<std::size_t> readHits(const std::filesystem::path& path) {
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error("cannot read " + path.string());
    std::vector<std::size_t> hits;
    for (double seconds = 0.0; file >> seconds;)
        hits.push_back(samplesOf(seconds));
    return hits;
}

// Fills in what every case derives from its inputs.
void finish(Case& c) {
    c.ceilingApplies =
        wholePeakDb(c.a) <= kCeilingInputPeakDb && wholePeakDb(c.b) <= kCeilingInputPeakDb;
    if (!c.stopCase) {
        c.weightedA = aWeighted(c.a);
        c.weightedB = aWeighted(c.b);
    }
}

std::size_t firstSound(const Stereo& x) {
    for (std::size_t n = 0; n < x[0].size(); ++n)
        for (const auto& channel : x)
            if (std::fabs(channel[n]) > kStartMagnitude)
                return n;
    return 0;
}

// A raised-cosine gain from 1 at `start` down to 0 at `end`.
double fadeOutGain(std::size_t n, std::size_t start, std::size_t end) {
    if (n < start)
        return 1.0;
    return 0.5 + 0.5 * std::cos(std::numbers::pi * static_cast<double>(n - start) /
                                static_cast<double>(end - start));
}

// The material faded out at times.stop onto its noise floor, which gives way to exact zeros at
// times.zeros (at once without a floor); from times.restart the material plays again from its
// first sound, on its floor.
Stereo stopping(const Stereo& material, double floorDb, const StopTimes& times) {
    const std::size_t length = samplesOf(times.end);
    const std::size_t fadeEnd = samplesOf(times.stop);
    const std::size_t fadeStart = fadeEnd - samplesOf(kStopFadeSeconds);
    const std::size_t zeros = floorDb == kNoFloor ? fadeEnd : samplesOf(times.zeros);
    const std::size_t restart = samplesOf(times.restart);
    const std::size_t resume = firstSound(material);
    const float floorPeak = floorDb == kNoFloor ? 0.0f : gainOf(floorDb);
    Stereo out;
    for (int ch = 0; ch < kChannels; ++ch) {
        const std::vector<float>& source = material[ch];
        const std::vector<float> floor = noise(length, floorPeak, kStopFloorSeed + ch);
        std::vector<float>& x = out[ch];
        x.assign(length, 0.0f);
        for (std::size_t n = 0; n < fadeEnd; ++n)
            x[n] = static_cast<float>(source[n] * fadeOutGain(n, fadeStart, fadeEnd));
        for (std::size_t n = 0; n < zeros; ++n)
            x[n] += floor[n];
        for (std::size_t n = restart; n < length && resume + n - restart < source.size(); ++n)
            x[n] = source[resume + n - restart] + floor[n];
    }
    return out;
}

std::string floorName(double floorDb) {
    return floorDb == kNoFloor ? "no floor" : "floor " + std::to_string(std::lround(floorDb));
}

} // namespace

const std::vector<PairSource>& pairSources() {
    static const std::vector<PairSource> pairs = {
        {"pad under speech", "pad.wav", -20.0, "voice1.wav", 0.0, ""},
        {"piano+drums / choir", "pianodrums.wav", 0.0, "choir.wav", 0.0, "drums.hits.txt"},
        {"drums / pad", "drums.wav", 0.0, "pad.wav", 0.0, "drums.hits.txt"},
        {"bass / speech ending early", "bass.wav", 0.0, "voice2-early.wav", 0.0, ""},
        {"speech / piano", "voice2.wav", 0.0, "piano.wav", -3.0, ""},
        {"speech over pad", "voice1.wav", 0.0, "pad.wav", -20.0, ""},
    };
    return pairs;
}

const PairSource& pairNamed(std::string_view name) {
    for (const PairSource& source : pairSources())
        if (source.name == name)
            return source;
    throw std::out_of_range("no pair named " + std::string(name));
}

Stereo readAudio(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot read " + path.string() + ": " + sf_strerror(nullptr));
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    if (info.samplerate != static_cast<int>(kRate) || info.channels < 1 || info.channels > 2 ||
        read != info.frames)
        throw std::runtime_error(path.string() + " is not 48 kHz mono or stereo audio");
    Stereo out;
    for (int ch = 0; ch < kChannels; ++ch) {
        const int source = std::min(ch, info.channels - 1);
        out[ch].resize(static_cast<std::size_t>(info.frames));
        for (sf_count_t n = 0; n < info.frames; ++n)
            out[ch][n] = interleaved[n * info.channels + source];
    }
    return out;
}

Case loadPair(const PairSource& source, const std::filesystem::path& folder, double seconds) {
    Case c;
    c.name = source.name;
    c.a = readAudio(folder / source.fileA);
    c.b = readAudio(folder / source.fileB);
    scale(c.a, gainOf(source.gainADb));
    scale(c.b, gainOf(source.gainBDb));
    std::size_t length = std::min(c.a[0].size(), c.b[0].size());
    if (seconds > 0.0)
        length = std::min(length, samplesOf(seconds));
    cut(c.a, length);
    cut(c.b, length);
    if (!source.hits.empty())
        for (std::size_t hit : readHits(folder / source.hits))
            if (hit < length)
                c.hits.push_back(hit);
    c.swellsFrom = samplesOf(kStartUpSeconds);
    finish(c);
    return c;
}

Case stopCase(const std::filesystem::path& folder, bool stoppingA, double floorDb,
              const StopTimes& times) {
    Stereo piano = stopping(readAudio(folder / "piano.wav"), floorDb, times);
    Stereo pad = readAudio(folder / "pad.wav");
    cut(pad, piano[0].size());
    Case c;
    c.name = std::string(stoppingA ? "A" : "B") + " stops, " + floorName(floorDb);
    c.a = stoppingA ? std::move(piano) : std::move(pad);
    c.b = stoppingA ? std::move(pad) : std::move(piano);
    c.swellsFrom = samplesOf(times.stop - kBeforeStopSeconds);
    c.switchAt = samplesOf(floorDb == kNoFloor ? times.stop : times.zeros);
    c.stopCase = true;
    finish(c);
    return c;
}

Case burstCase(const std::filesystem::path& folder) {
    Case c;
    c.name = "burst: pad -9 / noise -66 then zeros";
    c.a = readAudio(folder / "pad.wav");
    cut(c.a, samplesOf(kBurstSeconds));
    scale(c.a, gainOf(kBurstPadPeakDb - wholePeakDb(c.a)));
    const std::size_t switchAt = samplesOf(kBurstSwitchSeconds);
    for (int ch = 0; ch < kChannels; ++ch) {
        c.b[ch] = noise(c.a[0].size(), gainOf(kBurstNoisePeakDb), kBurstNoiseSeed + ch);
        std::fill(c.b[ch].begin() + static_cast<std::ptrdiff_t>(switchAt), c.b[ch].end(), 0.0f);
    }
    c.swellsFrom = samplesOf(kStartUpSeconds);
    c.switchAt = switchAt;
    c.stopCase = true;
    finish(c);
    return c;
}

} // namespace tav::lab
