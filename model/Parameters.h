#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>

// The plug-in's six parameters, described once: what the controller registers, what the
// processor stores and turns into engine values, what the editor shows and the host tool
// offers all read this table. Values travel between components normalized 0..1; the plain
// values are those a host shows (Mix in percent, Output in dB, list entries by index).
namespace tav::model {

enum ParamId : int32_t {
    kMorphId = 0,
    kAlgorithmId = 1,
    kMixId = 2,
    kOutputId = 3,
    kBypassId = 4,
    kQualityId = 5,
};
inline constexpr int kParamCount = 6;

inline constexpr std::array<const char*, 4> kAlgorithmNames{"Transport", "Partials", "Imprint",
                                                            "Diffuse"};
inline constexpr std::array<const char*, 2> kQualityNames{"Standard", "High"};

// How a host is told to show a parameter.
enum class ParamKind {
    Range, // a continuous value between minimum and maximum
    List,  // one of `entries`
    Bypass // the plug-in's bypass switch: off or on
};

struct ParamInfo {
    ParamId id;
    const char* name;
    const char* units; // empty when none
    ParamKind kind;
    double minimum, maximum; // plain
    double defaultPlain;
    int32_t stepCount; // 0 for continuous
    std::span<const char* const> entries;
    bool automatable;
    bool stored; // kept in the processor's state

    // Any thread. A normalized value as the plain one: rounded to a step where there are steps.
    constexpr double toPlain(double normalized) const {
        const double v = std::clamp(normalized, 0.0, 1.0);
        if (stepCount == 0)
            return minimum + v * (maximum - minimum);
        const double step = std::round(v * stepCount);
        return minimum + step * ((maximum - minimum) / stepCount);
    }

    // Any thread. A plain value as the normalized one.
    constexpr double toNormalized(double plain) const {
        return (std::clamp(plain, minimum, maximum) - minimum) / (maximum - minimum);
    }

    // Any thread. The step a normalized value falls on (list index, Bypass on or off).
    constexpr int32_t stepOf(double normalized) const {
        return static_cast<int32_t>(
            std::clamp(std::round(normalized * stepCount), 0.0, static_cast<double>(stepCount)));
    }

    constexpr double defaultNormalized() const { return toNormalized(defaultPlain); }
};

inline constexpr std::array<ParamInfo, kParamCount> kParams{{
    {kMorphId, "Morph", "", ParamKind::Range, 0.0, 1.0, 0.5, 0, {}, true, true},
    {kAlgorithmId, "Algorithm", "", ParamKind::List, 0.0, 3.0, 0.0, 3, kAlgorithmNames, true, true},
    {kMixId, "Mix", "%", ParamKind::Range, 0.0, 100.0, 100.0, 0, {}, true, true},
    {kOutputId, "Output", "dB", ParamKind::Range, -24.0, 12.0, 0.0, 0, {}, true, true},
    {kBypassId, "Bypass", "", ParamKind::Bypass, 0.0, 1.0, 0.0, 1, {}, true, true},
    {kQualityId, "Quality", "", ParamKind::List, 0.0, 1.0, 0.0, 1, kQualityNames, false, true},
}};

// Any thread. The entry of the table for an id (ids are the table's indices).
constexpr const ParamInfo& param(ParamId id) {
    return kParams[static_cast<std::size_t>(id)];
}

// How many values the processor's state keeps.
inline constexpr int kStoredParamCount = static_cast<int>(
    std::count_if(kParams.begin(), kParams.end(), [](const ParamInfo& p) { return p.stored; }));

// Normalized defaults in id order.
inline constexpr std::array<double, kParamCount> kDefaultValues{
    kParams[0].defaultNormalized(), kParams[1].defaultNormalized(), kParams[2].defaultNormalized(),
    kParams[3].defaultNormalized(), kParams[4].defaultNormalized(), kParams[5].defaultNormalized()};

// Any thread. The linear gain of a normalized Output value: its dB value as amplitude.
inline double outputGainOf(double normalized) {
    return std::pow(10.0, 1.8 * normalized - 1.2);
}

// Any thread. Whether a normalized Bypass or two-entry list value is on ("High" for Quality).
constexpr bool isOn(double normalized) {
    return normalized >= 0.5;
}

// Any thread. The algorithm index of a normalized Algorithm value.
constexpr int32_t algorithmOf(double normalized) {
    return param(kAlgorithmId).stepOf(normalized);
}

static_assert(kParams[kOutputId].defaultNormalized() == 2.0 / 3.0, "0 dB is two thirds");
static_assert(kStoredParamCount == kParamCount);

} // namespace tav::model
