#include "tools/commands/OptionChecks.h"

#include "tools/HostError.h"
#include "tools/host/ParameterOptions.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tav::tools {
namespace {

std::string rangeText(double minimum, double maximum, const std::string& unit) {
    return host::rangeInWords({"", minimum, maximum, unit.c_str()});
}

// The value read as a finite number; nothing left over.
bool readNumber(const std::string& text, double& value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    value = std::strtod(begin, &end);
    return !text.empty() && end != begin && *end == 0 && std::isfinite(value);
}

} // namespace

std::string inWords(const std::vector<std::string>& choices) {
    std::string words;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (i > 0)
            words += i + 1 == choices.size() ? " or " : ", ";
        words += choices[i];
    }
    return words;
}

CLI::Validator numberFrom(double minimum, double maximum, const std::string& unit) {
    return CLI::Validator(
        [minimum, maximum, unit](std::string& text) -> std::string {
            double value = 0.0;
            if (!readNumber(text, value))
                return "\"" + text + "\" is not a number; give " +
                       rangeText(minimum, maximum, unit);
            if (value < minimum || value > maximum)
                return text + " is outside the range " + rangeText(minimum, maximum, unit);
            return {};
        },
        "");
}

CLI::Validator wholeNumberFrom(int minimum, int maximum, const std::string& unit) {
    return CLI::Validator(
        [minimum, maximum, unit](std::string& text) -> std::string {
            double value = 0.0;
            if (!readNumber(text, value) || value != std::floor(value) ||
                text.find_first_not_of("+-0123456789") != std::string::npos)
                return "\"" + text + "\" is not a whole number; give " +
                       rangeText(minimum, maximum, unit);
            if (value < minimum || value > maximum)
                return text + " is outside the range " + rangeText(minimum, maximum, unit);
            return {};
        },
        "");
}

std::vector<std::string> namesOf(const std::map<std::string, int>& choices) {
    std::vector<std::pair<int, std::string>> ordered;
    for (const auto& [name, index] : choices)
        ordered.emplace_back(index, name);
    std::sort(ordered.begin(), ordered.end());
    std::vector<std::string> names;
    for (const auto& entry : ordered)
        names.push_back(entry.second);
    return names;
}

CLI::Validator choiceOf(const std::map<std::string, int>& choices) {
    return CLI::Validator(
        [choices](std::string& text) -> std::string {
            const auto found = choices.find(host::lowerCase(text.c_str()));
            if (found == choices.end())
                return "\"" + text + "\" is not one of " + inWords(namesOf(choices));
            text = std::to_string(found->second);
            return {};
        },
        "");
}

CLI::Validator oneOf(const std::vector<std::string>& choices) {
    return CLI::Validator(
        [choices](std::string& text) -> std::string {
            const std::string name = host::lowerCase(text.c_str());
            if (std::find(choices.begin(), choices.end(), name) == choices.end())
                return "\"" + text + "\" is not one of " + inWords(choices);
            text = name;
            return {};
        },
        "");
}

CLI::Validator rampWithin(const host::RampLimits& limits, bool ramps) {
    return CLI::Validator(
        [limits, ramps](std::string& text) -> std::string {
            if (!ramps && text.find(':') != std::string::npos)
                return "this command takes one value, " + host::rangeInWords(limits) +
                       ", not a ramp";
            try {
                host::MorphRamp::parse(text, limits);
            } catch (const host::HostError& error) {
                // The parser names the option; the argument library names it too.
                std::string message = error.what();
                const std::string prefix = std::string(limits.option) + ": ";
                if (message.rfind(prefix, 0) == 0)
                    message.erase(0, prefix.size());
                return message;
            }
            return {};
        },
        "");
}

} // namespace tav::tools
