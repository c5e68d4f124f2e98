// tavimo_sound: the sound lab's full table. Renders every pair at every Quality, algorithm and
// Morph of the grid, the stop cases and the reported burst through the engine, and prints the
// figures and the goals each algorithm misses.
#include "Material.h"
#include "SoundLab.h"
#include "SoundTable.h"

#include "algorithms/Algorithm.h"
#include "model/Presets.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <list>

namespace {

using namespace tav::lab;

constexpr int kQualities = 2;
constexpr float kPairMorphs[] = {0.005f, 0.01f, 0.02f, 0.05f, 0.1f,  0.2f,  0.3f,  0.4f,  0.5f,
                                 0.6f,   0.7f,  0.8f,  0.9f,  0.95f, 0.98f, 0.99f, 0.995f};
constexpr float kStopMorphStep = 0.05f;
constexpr int kStopMorphs = 19; // 0.05 .. 0.95
constexpr float kBurstMorph = 0.9f;

constexpr const char* kPairLegend =
    "Sound lab: each pair at each Quality, algorithm and Morph, outputs aligned with the inputs\n"
    "by the engine's latency, their first 0.3 s left out. Columns:\n"
    "  median |med| p95   loudness against the perceived-loudness target T2 where both inputs\n"
    "                     sound: A-weighted 400 ms windows, median deviation, median and 95th\n"
    "                     percentile of its magnitude, dB\n"
    "  >+3dB swell at s   50 ms windows where the output peaks over 3 dB above the louder input;\n"
    "                     the worst excess, dB, and where it starts\n"
    "  pauses low high    windows with one input silent, outside T2 - 3 dB .. T1 + 1 dB, of all\n"
    "                     such windows; the lowest against T2 and the highest against T1, dB\n"
    "  echo worst at s    energy 25..5 ms before each drum hit against 200..100 ms before it,\n"
    "                     over the same of the plain crossfade, dB: median and worst hit\n"
    "  duck worst         the 100 ms before each drum hit against T2, dB: median and deepest\n"
    "  peak ceil          the output's peak, dBFS, and its samples at or over 0.99\n"
    "  fails              the goals missed: swells (worst over +6 dB or 1 % of windows over\n"
    "                     +3 dB), ceiling (inputs at or under -6 dBFS), median (within 1 dB,\n"
    "                     Morph 0.05..0.95), spread (p95 within 3 dB), pauses (none outside),\n"
    "                     edge median (within 1 dB at 0.005, 0.01, 0.02, 0.98, 0.99, 0.995),\n"
    "                     pre-echo (median at most +3 dB), ducking (median no deeper than -3 dB)\n";

constexpr const char* kStopLegend =
    "\n\nStop cases: the piano stops in one input, fading onto a noise floor (peak dBFS) that\n"
    "gives way to exact zeros, then plays again; the pad plays on in the other input. Per\n"
    "Morph the worst 50 ms swell over the louder input from 0.25 s before the stop on (goal:\n"
    "none over +6 dB); the worst of the row and where; switch: the output's highest peak, dBFS,\n"
    "in the 100 ms after the floor gives way to zeros; ceil: samples at or over 0.99 in the row.\n"
    "The burst is the reported case: the pad at -9 dBFS in A, noise at -66 dBFS in B for 2 s,\n"
    "then exact zeros, at Morph 0.9.\n";

void addJobs(std::vector<Job>& jobs, const Case& c, const std::vector<float>& morphs) {
    for (int quality = 0; quality < kQualities; ++quality)
        for (int algorithm = 0; algorithm < tav::kAlgorithmCount; ++algorithm)
            for (float morph : morphs)
                jobs.push_back({&c, {algorithm, quality, morph}});
}

int run(const std::filesystem::path& folder) {
    // A list, so that the jobs' pointers stay put as cases are added.
    std::list<Case> cases;
    std::vector<Job> jobs;
    const std::vector<float> pairMorphs(std::begin(kPairMorphs), std::end(kPairMorphs));
    for (const PairSource& source : pairSources())
        addJobs(jobs, cases.emplace_back(loadPair(source, folder)), pairMorphs);
    std::vector<float> stopMorphs;
    for (int i = 1; i <= kStopMorphs; ++i)
        stopMorphs.push_back(kStopMorphStep * static_cast<float>(i));
    for (bool stoppingA : {true, false})
        for (double floorDb : kStopFloors)
            addJobs(jobs, cases.emplace_back(stopCase(folder, stoppingA, floorDb, kFullStopTimes)),
                    stopMorphs);
    addJobs(jobs, cases.emplace_back(burstCase(folder)), {kBurstMorph});

    std::fprintf(stderr, "tavimo_sound: %zu renders on %d threads\n", jobs.size(), kRenderThreads);
    const auto start = std::chrono::steady_clock::now();
    const std::vector<Result> results = runJobs(jobs);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("%s", kPairLegend);
    printPairTable(stdout, results);
    std::printf("%s", kStopLegend);
    printStopTable(stdout, results);
    printSummary(stdout, results);
    std::printf("\n%zu renders in %.0f s\n", results.size(), seconds);
    return 0;
}

// Each factory preset over every pair: where both inputs sound, the median of the pairs' median
// deviations from the loudness target and the largest of them, the pairs whose median misses it
// by more than 1 dB, the worst 50 ms swell, and samples at the ceiling. The engine renders the
// wet signal: a parallel preset's Mix is applied after it, so its wet part is what is measured.
int runPresets(const std::filesystem::path& folder) {
    std::list<Case> cases;
    for (const PairSource& source : pairSources())
        cases.push_back(loadPair(source, folder));
    std::vector<Job> jobs;
    for (const tav::model::FactoryPreset& preset : tav::model::kFactoryPresets)
        for (const Case& c : cases)
            jobs.push_back({&c,
                            {preset.values.algorithm, preset.values.highQuality ? 1 : 0,
                             static_cast<float>(preset.values.morph)}});
    const std::vector<Result> results = runJobs(jobs);
    std::printf("%-20s %-20s %6s %6s %7s %6s %5s\n", "preset", "category", "median", "worst",
                "off>1dB", "swell", "ceil");
    for (std::size_t p = 0; p < tav::model::kFactoryPresets.size(); ++p) {
        std::vector<double> medians;
        double worstSwell = -1000.0;
        int ceiling = 0, off = 0;
        for (std::size_t i = p * cases.size(); i < (p + 1) * cases.size(); ++i) {
            const Figures& f = results[i].figures;
            if (f.loudness.windows > 0) {
                medians.push_back(f.loudness.medianDb);
                off += std::fabs(f.loudness.medianDb) > 1.0 ? 1 : 0;
            }
            worstSwell = std::max(worstSwell, f.swells.worstDb);
            ceiling += f.ceilingApplies ? f.ceilingHits : 0;
        }
        std::sort(medians.begin(), medians.end());
        const double median = medians.empty() ? 0.0 : medians[medians.size() / 2];
        double worst = 0.0;
        for (double m : medians)
            worst = std::fabs(m) > std::fabs(worst) ? m : worst;
        const tav::model::FactoryPreset& preset = tav::model::kFactoryPresets[p];
        std::printf("%-20s %-20s %+6.2f %+6.2f %3d/%-3zu %+6.1f %5d\n", preset.name,
                    preset.category, median, worst, off, medians.size(), worstSwell, ceiling);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool presets = argc == 3 && std::strcmp(argv[2], "--presets") == 0;
    if (argc != 2 && !presets) {
        std::fprintf(stderr, "usage: tavimo_sound MATERIAL_FOLDER [--presets] (the folder made by "
                             "scripts/make_material)\n");
        return 2;
    }
    try {
        return presets ? runPresets(argv[1]) : run(argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tavimo_sound: %s\n", error.what());
        return 1;
    }
}
