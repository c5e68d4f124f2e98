#pragma once

#include "SoundLab.h"

#include <cstdio>
#include <string>
#include <vector>

// Fixed-width tables of the lab's figures, printed by the test and by the tavimo_sound program.
// Main thread; allocate.
namespace tav::lab {

const char* algorithmName(int algorithm);
const char* qualityName(int quality);

// "pad under speech, Imprint, Standard, Morph 0.50"
std::string renderLabel(const Result& result);

// The case's inputs: files' levels, peaks and A-weighted powers after start-up.
void printCaseHeader(std::FILE* out, const Case& c);

// One row per render of pairs, in blocks per case, Quality and algorithm, in the results' order.
void printPairTable(std::FILE* out, const std::vector<Result>& results);

// Stop cases: per case, Quality and algorithm the worst swell at each Morph, then the worst
// of the row, where it is, and the output's largest peak in the 100 ms after the switch.
void printStopTable(std::FILE* out, const std::vector<Result>& results);

// Per algorithm and Quality: how many renders miss each goal, out of those it applies to.
void printSummary(std::FILE* out, const std::vector<Result>& results);

} // namespace tav::lab
