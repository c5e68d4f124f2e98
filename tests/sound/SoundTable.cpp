#include "SoundTable.h"

#include "SoundGoals.h"
#include "algorithms/Algorithm.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <string_view>
#include <utility>

namespace tav::lab {
namespace {

// The pair table's columns, title and width; a "|" column separates groups and takes no cell.
constexpr std::pair<const char*, int> kPairColumns[] = {
    {"Morph", 7}, {"median", 7}, {"|med|", 6}, {"p95", 6},    {"|", 0},   {">+3dB", 6},
    {"swell", 6}, {"at s", 6},   {"|", 0},     {"pauses", 7}, {"low", 6}, {"high", 6},
    {"|", 0},     {"echo", 6},   {"worst", 6}, {"at s", 6},   {"|", 0},   {"duck", 6},
    {"worst", 6}, {"|", 0},      {"peak", 6},  {"ceil", 5},   {"|", 0},   {"fails", 0}};

// The cells right-aligned in the pair table's columns.
std::string pairLine(const std::vector<std::string>& cells) {
    std::string line;
    std::size_t next = 0;
    for (const auto& [title, width] : kPairColumns) {
        if (std::string_view(title) == "|") {
            line += " |";
            continue;
        }
        const std::string& text = next < cells.size() ? cells[next++] : std::string();
        line +=
            ' ' + std::string(std::max<std::size_t>(width, text.size()) - text.size(), ' ') + text;
    }
    return line;
}

std::string number(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A figure, or a dash where it does not apply.
std::string figure(bool applies, const char* format, double value) {
    return applies ? number(format, value) : "-";
}

std::string failures(const Result& r) {
    std::string text;
    for (Goal goal : failedGoals(r.figures, r.job.setting.morph, r.job.c->stopCase))
        text += std::string(text.empty() ? "" : ",") + goalName(goal);
    return text;
}

void printPairRowHeader(std::FILE* out) {
    std::vector<std::string> titles;
    for (const auto& [title, width] : kPairColumns)
        if (std::string_view(title) != "|")
            titles.emplace_back(title);
    std::fprintf(out, "%s\n", pairLine(titles).c_str());
}

void printPairRow(std::FILE* out, const Result& r) {
    const Figures& f = r.figures;
    const Loudness& l = f.loudness;
    const bool loud = l.windows > 0, pauses = l.pauseWindows > 0;
    const bool echo = f.preEcho.hits > 0, duck = f.ducking.hits > 0;
    const std::vector<std::string> cells = {
        number("%.3f", r.job.setting.morph),
        figure(loud, "%+.1f", l.medianDb),
        figure(loud, "%.1f", l.medianAbsDb),
        figure(loud, "%.1f", l.p95AbsDb),
        number("%.1f%%", 100.0 * f.swells.fractionOver),
        number("%+.1f", f.swells.worstDb),
        number("%.2f", f.swells.worstSeconds),
        pauses ? std::to_string(l.pauseViolations) + "/" + std::to_string(l.pauseWindows) : "-",
        figure(pauses, "%+.1f", l.lowestDb),
        figure(pauses, "%+.1f", l.highestDb),
        figure(echo, "%+.1f", f.preEcho.medianDb),
        figure(echo, "%+.1f", f.preEcho.worstDb),
        figure(echo, "%.2f", f.preEcho.worstSeconds),
        figure(duck, "%+.1f", f.ducking.medianDb),
        figure(duck, "%+.1f", f.ducking.worstDb),
        number("%+.1f", f.peakDb),
        std::to_string(f.ceilingHits),
        failures(r)};
    std::fprintf(out, "%s\n", pairLine(cells).c_str());
}

bool sameBlock(const Result& x, const Result& y) {
    return x.job.c == y.job.c && x.job.setting.quality == y.job.setting.quality &&
           x.job.setting.algorithm == y.job.setting.algorithm;
}

double weightedLevelDb(const Stereo& weighted) {
    const std::size_t from = static_cast<std::size_t>(kStartUpSeconds * kRate);
    double sum = 0.0;
    for (const auto& channel : weighted)
        for (std::size_t n = from; n < channel.size(); ++n)
            sum += static_cast<double>(channel[n]) * channel[n];
    return 10.0 * std::log10(std::max(sum / (kChannels * (weighted[0].size() - from)), 1e-30));
}

} // namespace

const char* algorithmName(int algorithm) {
    static const char* const names[kAlgorithmCount] = {"Transport", "Partials", "Imprint",
                                                       "Diffuse"};
    return names[algorithm];
}

const char* qualityName(int quality) {
    return quality == 0 ? "Standard" : "High";
}

std::string renderLabel(const Result& r) {
    return r.job.c->name + ", " + algorithmName(r.job.setting.algorithm) + ", " +
           qualityName(r.job.setting.quality) + ", Morph " + number("%.3g", r.job.setting.morph);
}

void printCaseHeader(std::FILE* out, const Case& c) {
    std::fprintf(out, "\n== %s: %.1f s; A peak %+.1f dBFS", c.name.c_str(), c.length() / kRate,
                 peakDb(c.a, 0, c.length()));
    if (!c.stopCase)
        std::fprintf(out, ", %+.1f dB A-weighted", weightedLevelDb(c.weightedA));
    std::fprintf(out, "; B peak %+.1f dBFS", peakDb(c.b, 0, c.length()));
    if (!c.stopCase)
        std::fprintf(out, ", %+.1f dB A-weighted", weightedLevelDb(c.weightedB));
    std::fprintf(out, "; %zu drum hits%s ==\n", c.hits.size(),
                 c.ceilingApplies ? "" : "; inputs over -6 dBFS, no ceiling goal");
}

void printPairTable(std::FILE* out, const std::vector<Result>& results) {
    const Case* shownCase = nullptr;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const Result& r = results[i];
        if (r.job.c->stopCase)
            continue;
        if (r.job.c != shownCase) {
            shownCase = r.job.c;
            printCaseHeader(out, *shownCase);
        }
        if (i == 0 || !sameBlock(results[i - 1], r)) {
            std::fprintf(out, "-- %s, %s\n", algorithmName(r.job.setting.algorithm),
                         qualityName(r.job.setting.quality));
            printPairRowHeader(out);
        }
        printPairRow(out, r);
    }
}

void printStopTable(std::FILE* out, const std::vector<Result>& results) {
    // Rows in first-seen order: one per case, Quality and algorithm.
    std::vector<std::vector<const Result*>> rows;
    for (const Result& r : results) {
        if (!r.job.c->stopCase)
            continue;
        if (rows.empty() || !sameBlock(*rows.back().front(), r))
            rows.emplace_back();
        rows.back().push_back(&r);
    }
    const std::vector<const Result*>* header = nullptr;
    for (const auto& row : rows) {
        const Result& first = *row.front();
        if (header == nullptr || header->size() != row.size() ||
            header->front()->job.c != first.job.c) {
            header = &row;
            printCaseHeader(out, *first.job.c);
            std::fprintf(out, "  %-20s", "worst swell at Morph");
            for (const Result* r : row)
                std::fprintf(out, " %5.2f", r->job.setting.morph);
            std::fprintf(out, " | %6s %5s %6s | %7s %5s\n", "worst", "Morph", "at s", "switch",
                         "ceil");
        }
        const Result* worst = row.front();
        double switchPeak = -1000.0;
        int ceiling = 0;
        std::fprintf(out, "  %-9s %-10s", algorithmName(first.job.setting.algorithm),
                     qualityName(first.job.setting.quality));
        for (const Result* r : row) {
            std::fprintf(out, " %+5.1f", r->figures.swells.worstDb);
            if (r->figures.swells.worstDb > worst->figures.swells.worstDb)
                worst = r;
            switchPeak = std::max(switchPeak, r->figures.switchPeakDb);
            ceiling += r->figures.ceilingHits;
        }
        std::fprintf(out, " | %+6.1f %5.2f %6.2f | %+7.1f %5d\n", worst->figures.swells.worstDb,
                     worst->job.setting.morph, worst->figures.swells.worstSeconds, switchPeak,
                     ceiling);
    }
}

void printSummary(std::FILE* out, const std::vector<Result>& results) {
    constexpr int kGoals = static_cast<int>(Goal::Count);
    // [algorithm][quality][goal] = {failed, applicable}
    std::map<std::pair<int, int>, std::array<std::pair<int, int>, kGoals>> counts;
    for (const Result& r : results) {
        auto& row = counts[{r.job.setting.algorithm, r.job.setting.quality}];
        for (int g = 0; g < kGoals; ++g) {
            const auto goal = static_cast<Goal>(g);
            if (!goalApplies(goal, r.figures, r.job.setting.morph, r.job.c->stopCase))
                continue;
            ++row[g].second;
            const auto failed = failedGoals(r.figures, r.job.setting.morph, r.job.c->stopCase);
            row[g].first += std::count(failed.begin(), failed.end(), goal) > 0 ? 1 : 0;
        }
    }
    std::fprintf(out, "\n== Summary: renders missing each goal, of those it applies to ==\n");
    std::fprintf(out, "  %-9s %-8s", "", "");
    for (int g = 0; g < kGoals; ++g)
        std::fprintf(out, " %12s", goalName(static_cast<Goal>(g)));
    std::fprintf(out, "  fails\n");
    for (const auto& [key, row] : counts) {
        std::fprintf(out, "  %-9s %-8s", algorithmName(key.first), qualityName(key.second));
        std::string failing;
        for (int g = 0; g < kGoals; ++g) {
            const std::string ratio =
                std::to_string(row[g].first) + "/" + std::to_string(row[g].second);
            std::fprintf(out, " %12s", row[g].second > 0 ? ratio.c_str() : "-");
            if (row[g].first > 0)
                failing +=
                    std::string(failing.empty() ? "" : ", ") + goalName(static_cast<Goal>(g));
        }
        std::fprintf(out, "  %s\n", failing.empty() ? "none" : failing.c_str());
    }
}

} // namespace tav::lab
