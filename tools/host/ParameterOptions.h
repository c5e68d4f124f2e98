#pragma once

#include "model/Parameters.h"

#include <cctype>
#include <map>
#include <string>

// The parameter table as the command line offers it: a list's entries by their lower-case
// names, and its plain ranges.
namespace tav::host {

// The host block sizes tavimo offers, in samples: what DAWs use, in every command alike.
inline constexpr int kMinBlockSize = 16;
inline constexpr int kMaxBlockSize = 8192;

// Main thread; allocates. A table text as the command line spells it.
inline std::string lowerCase(const char* text) {
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// Main thread; allocates. "transport" -> 0, "partials" -> 1, ... for a list parameter.
inline std::map<std::string, int> listChoices(model::ParamId id) {
    std::map<std::string, int> choices;
    int index = 0;
    for (const char* entry : model::param(id).entries)
        choices.emplace(lowerCase(entry), index++);
    return choices;
}

} // namespace tav::host
