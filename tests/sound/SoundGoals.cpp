#include "SoundGoals.h"

#include "SoundLab.h"

#include <cmath>
#include <cstdio>

namespace tav::lab {
namespace {

// Morph values arrive as floats: 0.05f is the point 0.05 and belongs to the inner range.
constexpr double kMorphSlack = 1e-6;

bool inInnerRange(double morph) {
    return morph >= kInnerMorphLow - kMorphSlack && morph <= kInnerMorphHigh + kMorphSlack;
}

bool atEdgePoint(double morph) {
    for (double edge : kEdgeMorphs)
        if (std::fabs(morph - edge) <= kMorphSlack)
            return true;
    return false;
}

bool met(Goal goal, const Figures& f) {
    switch (goal) {
    case Goal::Swells:
        return f.swells.worstDb <= kWorstSwellDb && f.swells.fractionOver < kSwellShare;
    case Goal::Ceiling:
        return f.ceilingHits == 0;
    case Goal::Median:
    case Goal::EdgeMedian:
        return std::fabs(f.loudness.medianDb) <= kMedianDb;
    case Goal::Spread:
        return f.loudness.p95AbsDb <= kSpreadDb;
    case Goal::Pauses:
        return f.loudness.pauseViolations == 0;
    case Goal::PreEcho:
        return f.preEcho.medianDb <= kPreEchoDb;
    case Goal::Ducking:
        return f.ducking.medianDb >= kDuckingDb;
    case Goal::StopSwells:
        return f.swells.worstDb <= kStopSwellDb;
    case Goal::Count:
        break;
    }
    return true;
}

std::string figureText(Goal goal, const Figures& f) {
    char text[160];
    switch (goal) {
    case Goal::Swells:
    case Goal::StopSwells:
        std::snprintf(text, sizeof text, "swell %+.1f dB at %.2f s, %.1f %% of windows over +3 dB",
                      f.swells.worstDb, f.swells.worstSeconds, 100.0 * f.swells.fractionOver);
        break;
    case Goal::Ceiling:
        std::snprintf(text, sizeof text, "%d samples at the ceiling, peak %+.1f dBFS",
                      f.ceilingHits, f.peakDb);
        break;
    case Goal::Median:
    case Goal::EdgeMedian:
        std::snprintf(text, sizeof text, "median %+.1f dB from T2", f.loudness.medianDb);
        break;
    case Goal::Spread:
        std::snprintf(text, sizeof text, "95th percentile %.1f dB from T2", f.loudness.p95AbsDb);
        break;
    case Goal::Pauses:
        std::snprintf(text, sizeof text,
                      "%d of %d pause windows outside T2-3..T1+1 (lowest %+.1f vs T2, highest "
                      "%+.1f vs T1)",
                      f.loudness.pauseViolations, f.loudness.pauseWindows, f.loudness.lowestDb,
                      f.loudness.highestDb);
        break;
    case Goal::PreEcho:
        std::snprintf(text, sizeof text, "pre-echo median %+.1f dB (worst %+.1f at %.2f s)",
                      f.preEcho.medianDb, f.preEcho.worstDb, f.preEcho.worstSeconds);
        break;
    case Goal::Ducking:
        std::snprintf(text, sizeof text, "ducking median %+.1f dB (worst %+.1f at %.2f s)",
                      f.ducking.medianDb, f.ducking.worstDb, f.ducking.worstSeconds);
        break;
    case Goal::Count:
        text[0] = '\0';
        break;
    }
    return text;
}

} // namespace

const char* goalName(Goal goal) {
    static const char* const names[] = {"swells",   "ceiling", "median",
                                        "spread",   "pauses",  "edge median",
                                        "pre-echo", "ducking", "stop swells"};
    return names[static_cast<int>(goal)];
}

bool goalApplies(Goal goal, const Figures& f, double morph, bool stopCase) {
    switch (goal) {
    case Goal::Swells:
        return !stopCase;
    case Goal::Ceiling:
        return f.ceilingApplies;
    case Goal::Median:
        return !stopCase && f.loudness.windows > 0 && inInnerRange(morph);
    case Goal::Spread:
        return !stopCase && f.loudness.windows > 0 && inInnerRange(morph);
    case Goal::Pauses:
        return !stopCase && f.loudness.pauseWindows > 0 && inInnerRange(morph);
    case Goal::EdgeMedian:
        return !stopCase && f.loudness.windows > 0 && atEdgePoint(morph) && !inInnerRange(morph);
    case Goal::PreEcho:
        return !stopCase && f.preEcho.hits > 0;
    case Goal::Ducking:
        return !stopCase && f.ducking.hits > 0;
    case Goal::StopSwells:
        return stopCase;
    case Goal::Count:
        break;
    }
    return false;
}

std::vector<Goal> failedGoals(const Figures& figures, double morph, bool stopCase) {
    std::vector<Goal> failed;
    for (int g = 0; g < static_cast<int>(Goal::Count); ++g) {
        const auto goal = static_cast<Goal>(g);
        if (goalApplies(goal, figures, morph, stopCase) && !met(goal, figures))
            failed.push_back(goal);
    }
    return failed;
}

std::string describeFailures(const Figures& figures, double morph, bool stopCase) {
    std::string text;
    for (Goal goal : failedGoals(figures, morph, stopCase))
        text += (text.empty() ? "" : "; ") + figureText(goal, figures);
    return text;
}

} // namespace tav::lab
