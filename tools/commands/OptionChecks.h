#pragma once

#include "tools/audio/MorphRamp.h"

#include <CLI/CLI.hpp>

#include <map>
#include <string>
#include <vector>

// Checks for the command line's options that say what was wrong in the words the help uses
// ("--block: 0 is outside the range 16 to 8192 samples"), never in the argument library's own
// terms. A failed check is a usage error (exit status 2). Each check has no description of its
// own, so that the help shows only the option's plain type name and text.
namespace tav::tools {

// Any thread; allocates. "a, b or c".
std::string inWords(const std::vector<std::string>& choices);

// Main thread; allocates. A number from minimum to maximum, in unit ("dB"; may be empty).
CLI::Validator numberFrom(double minimum, double maximum, const std::string& unit);

// Main thread; allocates. A whole number from minimum to maximum, in unit.
CLI::Validator wholeNumberFrom(int minimum, int maximum, const std::string& unit);

// Main thread; allocates. One of the choices' names in any case, turned into its number (for
// an option bound to an int).
CLI::Validator choiceOf(const std::map<std::string, int>& choices);

// Main thread; allocates. One of the choices' names in any case, turned into lower case.
CLI::Validator oneOf(const std::vector<std::string>& choices);

// Main thread; allocates. A value within limits, or (when ramps) seconds:value points whose
// values are; the option bound to it keeps the text.
CLI::Validator rampWithin(const host::RampLimits& limits, bool ramps);

// Main thread; allocates. The names of choices in the order of their numbers.
std::vector<std::string> namesOf(const std::map<std::string, int>& choices);

} // namespace tav::tools
