#pragma once

#include "tools/audio/AudioFile.h"

namespace tav::host {

// The demo's built-in inputs, synthesised so that the demo needs no files.
class DemoSignals {
public:
    // Main thread; allocates. A: a stereo chord progression (Cmaj7, Am7, Fmaj7, G7) of bright
    // harmonic tones over a bass, with kick and snare hits on the beats, peaking near -6 dBFS.
    static AudioBuffer chords(double sampleRate, double seconds);
    // Main thread; allocates. B: a stereo voice-like texture: a gliding, vibrato-laden pulse
    // source through moving vowel formants, with a little breath noise, peaking near -6 dBFS.
    static AudioBuffer voice(double sampleRate, double seconds);
};

} // namespace tav::host
