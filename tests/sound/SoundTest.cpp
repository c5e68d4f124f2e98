#include "Material.h"
#include "SoundGoals.h"
#include "SoundLab.h"
#include "SoundTable.h"

#include "algorithms/Algorithm.h"
#include "dsp/FrameGeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

// The coarse listening grid: realistic material through the whole engine, judged against the
// goals a listener would hold it to. Each test prints its table of figures, then fails once
// per render that misses a goal, naming the render and the figures it misses by.
namespace tav::lab {
namespace {

const std::filesystem::path kMaterial{TAVIMO_SOUND_MATERIAL};
// Excerpts short enough for the grid to run in about a minute beside the other tests.
constexpr double kExcerptSeconds = 5.0;
constexpr float kPairMorphs[] = {0.05f, 0.5f, 0.95f};
constexpr float kStopMorphs[] = {0.05f, 0.25f, 0.5f, 0.75f, 0.95f};
constexpr double kStopFloorsChecked[] = {-66.0, kNoFloor};
// One pair about 20 dB apart, one with drum hits.
constexpr std::string_view kPairs[] = {"pad under speech", "piano+drums / choir"};

std::vector<Case> pairCases() {
    std::vector<Case> cases;
    for (std::string_view name : kPairs)
        cases.push_back(loadPair(pairNamed(name), kMaterial, kExcerptSeconds));
    return cases;
}

std::vector<Case> stopCases() {
    std::vector<Case> cases;
    for (bool stoppingA : {true, false})
        for (double floorDb : kStopFloorsChecked)
            cases.push_back(stopCase(kMaterial, stoppingA, floorDb, kShortStopTimes));
    return cases;
}

template <std::size_t N>
std::vector<Job> standardJobs(const std::vector<Case>& cases, const float (&morphs)[N]) {
    std::vector<Job> jobs;
    for (const Case& c : cases)
        for (int algorithm = 0; algorithm < kAlgorithmCount; ++algorithm)
            for (float morph : morphs)
                jobs.push_back({&c, {algorithm, kQualityStandard, morph}});
    return jobs;
}

void expectGoalsMet(const std::vector<Result>& results) {
    for (const Result& r : results) {
        const std::string missed =
            describeFailures(r.figures, r.job.setting.morph, r.job.c->stopCase);
        if (!missed.empty())
            ADD_FAILURE() << renderLabel(r) << ": " << missed;
    }
}

// The instrument can pass: the plain crossfade meets every goal whose target it shares. The
// loudness median and spread measure against T2, which the crossfade's power (T1) is not.
TEST(SoundLab, PlainCrossfadeMeetsEveryGoalThatDoesNotHingeOnTheLoudnessTarget) {
    std::vector<Case> cases = pairCases();
    for (Case& c : stopCases())
        cases.push_back(std::move(c));
    for (const Case& c : cases)
        for (float morph : kStopMorphs) {
            const Figures f = measureOutput(c, morph, crossfade(c, morph));
            std::vector<Goal> failed = failedGoals(f, morph, c.stopCase);
            std::erase_if(failed, [](Goal g) { return g == Goal::Median || g == Goal::Spread; });
            EXPECT_TRUE(failed.empty())
                << c.name << ", Morph " << morph << " misses " << goalName(failed.front()) << ": "
                << describeFailures(f, morph, c.stopCase);
            EXPECT_LE(f.swells.worstDb, 1e-6) << c.name << ", Morph " << morph;
            if (!c.hits.empty()) {
                EXPECT_EQ(f.preEcho.medianDb, 0.0) << c.name << ", Morph " << morph;
            }
        }
}

TEST(SoundLab, CoarseGridMeetsTheListeningGoals) {
    const std::vector<Case> cases = pairCases();
    const std::vector<Result> results = runJobs(standardJobs(cases, kPairMorphs));
    printPairTable(stdout, results);
    expectGoalsMet(results);
}

TEST(SoundLab, InputsStoppingAndStartingSwellNoMoreThanTheMorphMay) {
    const std::vector<Case> cases = stopCases();
    const std::vector<Result> results = runJobs(standardJobs(cases, kStopMorphs));
    printStopTable(stdout, results);
    expectGoalsMet(results);
}

} // namespace
} // namespace tav::lab
