#include "tools/audio/MorphRamp.h"

#include "tools/HostError.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace tav::host {

namespace {

std::string number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

double parseNumber(const std::string& text, const std::string& whole, const RampLimits& limits) {
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (text.empty() || end == begin || *end != 0 || !std::isfinite(value))
        throw HostError(std::string(limits.option) + ": cannot read \"" + whole +
                        "\"; give a number, " + rangeInWords(limits) +
                        ", or seconds:value points such as \"0:" + number(limits.minimum) +
                        ",8:" + number(limits.maximum) + "\"");
    return value;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

} // namespace

std::string rangeInWords(const RampLimits& limits) {
    std::string words = number(limits.minimum) + " to " + number(limits.maximum);
    if (limits.unit[0] != 0)
        words += std::string(" ") + limits.unit;
    return words;
}

MorphRamp MorphRamp::constant(double value) {
    MorphRamp ramp;
    ramp.points.emplace_back(0.0, value);
    return ramp;
}

MorphRamp MorphRamp::parse(const std::string& text, const RampLimits& limits) {
    const std::string option = limits.option;
    MorphRamp ramp;
    if (text.find(':') == std::string::npos) {
        ramp.points.emplace_back(0.0, parseNumber(trimmed(text), text, limits));
    } else {
        if (trimmed(text).back() == ',')
            throw HostError(option + ": \"" + text + "\" ends in a comma");
        std::stringstream items(text);
        std::string item;
        while (std::getline(items, item, ',')) {
            const size_t colon = item.find(':');
            if (colon == std::string::npos)
                throw HostError(option + ": point \"" + trimmed(item) +
                                "\" needs the form seconds:value");
            const double seconds = parseNumber(trimmed(item.substr(0, colon)), text, limits);
            const double value = parseNumber(trimmed(item.substr(colon + 1)), text, limits);
            if (seconds < 0.0 || (!ramp.points.empty() && seconds < ramp.points.back().first))
                throw HostError(option + ": times must be zero or more and in increasing order");
            ramp.points.emplace_back(seconds, value);
        }
        if (ramp.points.empty())
            throw HostError(option + ": no points in \"" + text + "\"");
    }
    for (const auto& point : ramp.points)
        if (!(point.second >= limits.minimum && point.second <= limits.maximum))
            throw HostError(option + ": " + number(point.second) + " is outside the range " +
                            rangeInWords(limits));
    return ramp;
}

double MorphRamp::valueAt(double seconds) const {
    if (seconds <= points.front().first)
        return points.front().second;
    for (size_t i = 1; i < points.size(); ++i) {
        const auto& [t1, v1] = points[i];
        if (seconds < t1) {
            const auto& [t0, v0] = points[i - 1];
            return v0 + (v1 - v0) * (seconds - t0) / (t1 - t0);
        }
    }
    return points.back().second;
}

} // namespace tav::host
