#include "tools/audio/MorphRamp.h"

#include "tools/HostError.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace tav::host {

namespace {

double parseNumber(const std::string& text, const std::string& whole) {
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (text.empty() || end == begin || *end != 0 || !std::isfinite(value))
        throw HostError("--morph: cannot read \"" + whole +
                        "\"; give a value (0.5) or seconds:value points (\"0:0,8:1\")");
    return value;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

} // namespace

MorphRamp MorphRamp::constant(double value) {
    MorphRamp ramp;
    ramp.points.emplace_back(0.0, value);
    return ramp;
}

MorphRamp MorphRamp::parse(const std::string& text) {
    MorphRamp ramp;
    if (text.find(':') == std::string::npos) {
        ramp.points.emplace_back(0.0, parseNumber(trimmed(text), text));
    } else {
        if (trimmed(text).back() == ',')
            throw HostError("--morph: \"" + text + "\" ends in a comma");
        std::stringstream items(text);
        std::string item;
        while (std::getline(items, item, ',')) {
            const size_t colon = item.find(':');
            if (colon == std::string::npos)
                throw HostError("--morph: point \"" + trimmed(item) +
                                "\" needs the form seconds:value");
            const double seconds = parseNumber(trimmed(item.substr(0, colon)), text);
            const double value = parseNumber(trimmed(item.substr(colon + 1)), text);
            if (seconds < 0.0 || (!ramp.points.empty() && seconds < ramp.points.back().first))
                throw HostError("--morph: times must be zero or more and in increasing order");
            ramp.points.emplace_back(seconds, value);
        }
        if (ramp.points.empty())
            throw HostError("--morph: no points in \"" + text + "\"");
    }
    for (const auto& point : ramp.points)
        if (point.second < 0.0 || point.second > 1.0)
            throw HostError("--morph: values must lie between 0 and 1");
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
