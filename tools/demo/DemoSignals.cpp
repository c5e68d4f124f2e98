#include "tools/demo/DemoSignals.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace tav::host {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kPeak = 0.5; // -6 dBFS

double midiToHz(double note) {
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

float peakOf(const AudioBuffer& buffer) {
    float peak = 0.0f;
    for (const auto& channel : buffer.channels)
        for (float v : channel)
            peak = std::max(peak, std::abs(v));
    return peak;
}

void normalise(AudioBuffer& buffer) {
    const float peak = peakOf(buffer);
    if (peak <= 0.0f)
        return;
    const float gain = static_cast<float>(kPeak) / peak;
    for (auto& channel : buffer.channels)
        for (float& v : channel)
            v *= gain;
}

// Attack, decay to sustain, release at the end of the note.
double envelope(double t, double length) {
    const double attack = std::min(1.0, t / 0.015);
    const double decay = 0.55 + 0.45 * std::exp(-t / 0.35);
    const double release = std::clamp((length - t) / 0.12, 0.0, 1.0);
    return attack * decay * release;
}

struct Formant {
    double hz, bandwidth;
};
using Vowel = std::array<Formant, 3>;

constexpr std::array<Vowel, 5> kVowels{{
    {{{730, 90}, {1090, 110}, {2440, 160}}}, // a
    {{{530, 80}, {1840, 100}, {2480, 160}}}, // e
    {{{270, 60}, {2290, 100}, {3010, 170}}}, // i
    {{{570, 80}, {840, 90}, {2410, 160}}},   // o
    {{{300, 60}, {870, 90}, {2240, 150}}},   // u
}};

double formantGain(const Vowel& vowel, double hz) {
    double gain = 0.0;
    const std::array<double, 3> weights{1.0, 0.6, 0.35};
    for (size_t i = 0; i < vowel.size(); ++i) {
        const double offset = (hz - vowel[i].hz) / (0.5 * vowel[i].bandwidth);
        gain += weights[i] / std::sqrt(1.0 + offset * offset);
    }
    return gain;
}

Vowel vowelAt(double position) {
    const size_t count = kVowels.size();
    const size_t i = static_cast<size_t>(position) % count;
    const size_t j = (i + 1) % count;
    // Hold each vowel, then glide to the next in the last third.
    const double f = std::clamp((position - std::floor(position) - 0.66) / 0.34, 0.0, 1.0);
    Vowel result{};
    for (size_t k = 0; k < 3; ++k) {
        result[k].hz = kVowels[i][k].hz + f * (kVowels[j][k].hz - kVowels[i][k].hz);
        result[k].bandwidth =
            kVowels[i][k].bandwidth + f * (kVowels[j][k].bandwidth - kVowels[i][k].bandwidth);
    }
    return result;
}

// Drum hits on every beat of a 120 bpm bar: a kick (a sine falling from 150 to 50 Hz) on
// beats one and three, a snare (a noise burst over a 190 Hz body) on two and four, both
// with sharp attacks so that the spectrograms show where each one starts.
void addDrumHits(AudioBuffer& buffer, double sampleRate, double seconds, float level) {
    constexpr double kBeatSeconds = 0.5;
    constexpr double kKickSeconds = 0.25;
    constexpr double kSnareSeconds = 0.18;
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const int beats = static_cast<int>(seconds / kBeatSeconds);
    for (int beat = 0; beat < beats; ++beat) {
        const bool kick = beat % 2 == 0;
        const double length = kick ? kKickSeconds : kSnareSeconds;
        const auto start = static_cast<int64_t>(beat * kBeatSeconds * sampleRate);
        double phase = 0.0;
        for (int64_t i = 0; start + i < buffer.frames() && i < length * sampleRate; ++i) {
            const double t = static_cast<double>(i) / sampleRate;
            double sample = 0.0;
            if (kick) {
                phase += kTwoPi * (50.0 + 100.0 * std::exp(-t / 0.03)) / sampleRate;
                sample = std::sin(phase) * std::exp(-t / 0.09);
            } else {
                sample = 0.7 * unit(random) * std::exp(-t / 0.04) +
                         0.4 * std::sin(kTwoPi * 190.0 * t) * std::exp(-t / 0.06);
            }
            for (auto& channel : buffer.channels)
                channel[size_t(start + i)] += static_cast<float>(level * sample);
        }
    }
}

} // namespace

AudioBuffer DemoSignals::chords(double sampleRate, double seconds) {
    const int64_t frames = static_cast<int64_t>(seconds * sampleRate);
    AudioBuffer buffer = AudioBuffer::silence(sampleRate, 2, frames);
    // Cmaj7, Am7, Fmaj7, G7 voiced around middle C, each with a bass root.
    const std::array<std::array<int, 5>, 4> progression{
        {{48, 60, 64, 67, 71}, {45, 60, 64, 67, 69}, {41, 60, 64, 65, 69}, {43, 59, 62, 65, 67}}};
    const double chordLength = seconds / 4.0;
    for (size_t chord = 0; chord < progression.size(); ++chord) {
        const int64_t start = static_cast<int64_t>(chord * chordLength * sampleRate);
        const int64_t length = static_cast<int64_t>(chordLength * sampleRate);
        for (size_t voice = 0; voice < progression[chord].size(); ++voice) {
            const double hz = midiToHz(progression[chord][voice]);
            const double level = voice == 0 ? 0.9 : 0.5;
            for (int channel = 0; channel < 2; ++channel) {
                // A slight detune between the sides widens the chord.
                const double detuned = hz * (channel == 0 ? 0.9993 : 1.0007);
                auto& out = buffer.channels[size_t(channel)];
                for (int64_t i = 0; i < length && start + i < frames; ++i) {
                    const double t = static_cast<double>(i) / sampleRate;
                    double sample = 0.0;
                    for (int h = 1; h <= 14 && h * detuned < 0.45 * sampleRate; ++h)
                        sample += std::sin(kTwoPi * h * detuned * t) / (h * std::sqrt(h));
                    out[size_t(start + i)] +=
                        static_cast<float>(level * envelope(t, chordLength) * sample);
                }
            }
        }
    }
    addDrumHits(buffer, sampleRate, seconds, 0.8f * peakOf(buffer));
    normalise(buffer);
    return buffer;
}

AudioBuffer DemoSignals::voice(double sampleRate, double seconds) {
    const int64_t frames = static_cast<int64_t>(seconds * sampleRate);
    AudioBuffer buffer = AudioBuffer::silence(sampleRate, 2, frames);
    constexpr int kHarmonics = 48;
    std::array<double, kHarmonics + 1> phase{};
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    double breathState = 0.0;
    for (int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        // A melody line gliding between a few pitches, with 5.5 Hz vibrato.
        const double contour =
            50.0 + 4.0 * std::sin(kTwoPi * 0.23 * t) + 3.0 * std::sin(kTwoPi * 0.61 * t);
        const double f0 = midiToHz(contour) * (1.0 + 0.012 * std::sin(kTwoPi * 5.5 * t));
        const Vowel vowel = vowelAt(t / 0.8);
        double sample = 0.0;
        for (int h = 1; h <= kHarmonics; ++h) {
            const double hz = h * f0;
            phase[size_t(h)] += kTwoPi * hz / sampleRate;
            if (hz >= 0.45 * sampleRate)
                continue;
            // A glottal source falls by about 12 dB per octave.
            sample += std::sin(phase[size_t(h)]) * formantGain(vowel, hz) / (h * h);
        }
        for (auto& p : phase)
            p = std::fmod(p, kTwoPi);
        // Breath: low-passed noise, and syllables at about 3 per second.
        breathState += 0.25 * (noise(random) - breathState);
        const double syllable = 0.65 + 0.35 * std::sin(kTwoPi * 3.1 * t);
        const double fade =
            std::clamp(t / 0.05, 0.0, 1.0) * std::clamp((seconds - t) / 0.1, 0.0, 1.0);
        const double value = fade * syllable * (sample + 0.04 * breathState);
        buffer.channels[0][size_t(i)] = static_cast<float>(value);
        buffer.channels[1][size_t(i)] = static_cast<float>(value);
    }
    normalise(buffer);
    return buffer;
}

} // namespace tav::host
