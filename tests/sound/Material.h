#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The sound lab's inputs: the rendered material, the pairs it forms and the stop cases built
// from it. Everything here runs on the main thread, before any render, and allocates.
namespace tav::lab {

inline constexpr double kRate = 48000.0;
inline constexpr int kChannels = 2;
// The engine's start-up ramps act over this much of every render; nothing is measured there.
inline constexpr double kStartUpSeconds = 0.3;

// Planar stereo at kRate, both channels of one length.
using Stereo = std::array<std::vector<float>, kChannels>;

// Two material files played into A and B at fixed gains; hits names the file of drum hit
// times that belongs to the pair's drums, or is empty.
struct PairSource {
    std::string_view name;
    std::string_view fileA;
    double gainADb;
    std::string_view fileB;
    double gainBDb;
    std::string_view hits;
};

// The pairs every full table renders; pairNamed finds one (throws std::out_of_range).
const std::vector<PairSource>& pairSources();
const PairSource& pairNamed(std::string_view name);

// One render's inputs and what is measured on them.
struct Case {
    std::string name;
    Stereo a, b;
    std::vector<std::size_t> hits; // drum hits, in samples
    std::size_t swellsFrom = 0;    // swells are measured from here on
    // Where a stopping input's noise floor gives way to exact zeros (0: no such place).
    std::size_t switchAt = 0;
    // Stop cases measure swells and peaks only; pairs measure every goal.
    bool stopCase = false;
    // Whether both inputs peak at or below the level under which the output must not reach
    // the limiter's ceiling.
    bool ceilingApplies = false;
    Stereo weightedA, weightedB; // the inputs A-weighted, for the loudness measures of pairs

    std::size_t length() const { return a[0].size(); }
};

// Reads a 48 kHz mono or stereo file into stereo. Throws std::runtime_error naming the file.
Stereo readAudio(const std::filesystem::path& path);

// The pair's files from folder at its gains, cut to the first `seconds` (0: whole files).
// Throws std::runtime_error when a file is missing or unreadable.
Case loadPair(const PairSource& source, const std::filesystem::path& folder, double seconds = 0.0);

// When a stop case's stopping input goes quiet and comes back, in seconds.
struct StopTimes {
    double stop;    // the material has faded out onto its noise floor
    double zeros;   // the floor ends: exact zeros from here
    double restart; // the material starts again from its beginning
    double end;
};
inline constexpr StopTimes kFullStopTimes{1.5, 3.5, 4.5, 6.0};
inline constexpr StopTimes kShortStopTimes{1.0, 2.5, 3.0, 4.0};

// The noise floors a stopping input falls to, peak dBFS; kNoFloor: straight to exact zeros.
inline constexpr double kNoFloor = -1000.0;
inline constexpr double kStopFloors[] = {-40.0, -66.0, -90.0, kNoFloor};

// The piano stops in A (stoppingA) or in B while the pad plays on in the other input.
Case stopCase(const std::filesystem::path& folder, bool stoppingA, double floorDb,
              const StopTimes& times);

// The reported burst: A the pad peaking at -9 dBFS, B noise peaking at -66 dBFS for 2 s, then
// exact zeros to the end at 3 s.
Case burstCase(const std::filesystem::path& folder);

} // namespace tav::lab
