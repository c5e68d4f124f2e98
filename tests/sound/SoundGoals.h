#pragma once

#include <string>
#include <vector>

// What the lab expects of a render, in one place for the test and the table program.
namespace tav::lab {

struct Figures;

// Swells: nothing over +6 dB against the louder input, under 1 % of windows over +3 dB.
inline constexpr double kSwellStepDb = 3.0;
inline constexpr double kWorstSwellDb = 6.0;
inline constexpr double kSwellShare = 0.01;
// Ceiling: with both inputs at or below -6 dBFS, no output sample reaches 0.99.
inline constexpr double kCeilingInputPeakDb = -6.0;
inline constexpr float kCeilingLevel = 0.99f;
// Loudness against T2 where both inputs sound: median within 1 dB, 95 % of windows within 3 dB.
inline constexpr double kMedianDb = 1.0;
inline constexpr double kSpreadDb = 3.0;
// Where one input pauses: between T2 - 3 dB and T1 + 1 dB.
inline constexpr double kPauseBelowT2Db = 3.0;
inline constexpr double kPauseAboveT1Db = 1.0;
// Before drum hits: at most 3 dB more energy ahead than the crossfade, no duck deeper than 3 dB.
inline constexpr double kPreEchoDb = 3.0;
inline constexpr double kDuckingDb = -3.0;
// Stop cases: an input that stops or starts may not swell the output more than the morph itself
// may, so no window around the stop and the restart stands over the swell goal's worst.
inline constexpr double kStopSwellDb = kWorstSwellDb;
// The loudness goals hold over this Morph range; the median holds at the edge points too, those
// outside the range checked as a goal of their own.
inline constexpr double kInnerMorphLow = 0.05;
inline constexpr double kInnerMorphHigh = 0.95;
inline constexpr double kEdgeMorphs[] = {0.005, 0.01, 0.02, 0.05, 0.1,
                                         0.9,   0.95, 0.98, 0.99, 0.995};

enum class Goal {
    Swells,
    Ceiling,
    Median,
    Spread,
    Pauses,
    EdgeMedian,
    PreEcho,
    Ducking,
    StopSwells,
    Count
};

// Short name for tables: "swells", "median", ...
const char* goalName(Goal goal);

// Whether a goal applies to a render at all (a pair without drums has no pre-echo goal).
bool goalApplies(Goal goal, const Figures& figures, double morph, bool stopCase);

// The goals a render misses.
std::vector<Goal> failedGoals(const Figures& figures, double morph, bool stopCase);

// The failed goals with their figures, for a test message: "swell +8.1 dB at 2.35 s; ...".
std::string describeFailures(const Figures& figures, double morph, bool stopCase);

} // namespace tav::lab
