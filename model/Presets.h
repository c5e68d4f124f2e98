#pragma once

#include "model/Parameters.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// Presets: a name, a category and the values of every parameter but Bypass. Loading a preset
// keeps the current Bypass, and a preset file stores Bypass off. The factory presets are
// compiled in; the same table is written out as preset files for hosts' browsers.
namespace tav::model {

// A preset's values in plain units, as a producer reads them.
struct PresetValues {
    double morph = 0.5;
    int32_t algorithm = 0;
    double mixPercent = 100.0;
    double outputDb = 0.0;
    bool highQuality = false;
};

struct FactoryPreset {
    const char* name;
    const char* category;
    PresetValues values;
};

inline constexpr const char* kInitPresetName = "Init";

// Algorithm indices by name, for the table below.
enum : int32_t { kTransport = 0, kPartials = 1, kImprint = 2, kDiffuse = 3 };

// The factory's categories in menu order; every factory preset names one of them.
inline constexpr std::array<const char*, 5> kPresetCategories{
    "Starting Points", "Subtle Blends", "Full Transformations", "Parallel Blends", "Bass and Pads"};

// Each category says what its presets are for: one starting point per algorithm at an even
// blend; a hint of B at low Morph; B's sound carried all the way; B's colour beside an
// untouched A at Mix 30-50 %; the longer High Quality frames that low notes need.
inline constexpr std::array<FactoryPreset, 20> kFactoryPresets{{
    {"Transport Blend", "Starting Points", {0.5, kTransport, 100.0, 0.0, false}},
    {"Partials Blend", "Starting Points", {0.5, kPartials, 100.0, 0.0, false}},
    {"Imprint Blend", "Starting Points", {0.5, kImprint, 100.0, 0.0, false}},
    {"Diffuse Blend", "Starting Points", {0.5, kDiffuse, 100.0, 0.0, false}},
    {"Hint of Transport", "Subtle Blends", {0.25, kTransport, 100.0, 0.0, false}},
    {"Hint of Partials", "Subtle Blends", {0.25, kPartials, 100.0, 0.0, false}},
    {"Light Imprint", "Subtle Blends", {0.25, kImprint, 100.0, 0.0, false}},
    {"Light Diffusion", "Subtle Blends", {0.2, kDiffuse, 100.0, 0.0, false}},
    {"Full Transport", "Full Transformations", {0.9, kTransport, 100.0, 0.0, false}},
    {"Full Partials", "Full Transformations", {0.9, kPartials, 100.0, 0.0, false}},
    {"Deep Imprint", "Full Transformations", {0.85, kImprint, 100.0, 0.0, false}},
    {"Full Diffusion", "Full Transformations", {0.9, kDiffuse, 100.0, 0.0, false}},
    {"Parallel Transport", "Parallel Blends", {0.7, kTransport, 40.0, 0.0, false}},
    {"Parallel Partials", "Parallel Blends", {0.6, kPartials, 35.0, 0.0, false}},
    {"Parallel Imprint", "Parallel Blends", {0.7, kImprint, 30.0, 0.0, false}},
    {"Parallel Diffusion", "Parallel Blends", {0.8, kDiffuse, 50.0, 0.0, false}},
    {"Bass Transport", "Bass and Pads", {0.6, kTransport, 100.0, 0.0, true}},
    {"Bass Partials", "Bass and Pads", {0.5, kPartials, 100.0, 0.0, true}},
    {"Pad Imprint", "Bass and Pads", {0.35, kImprint, 100.0, 0.0, true}},
    {"Pad Diffusion", "Bass and Pads", {0.6, kDiffuse, 100.0, 0.0, true}},
}};

// Any thread. The defaults, which "Init" loads.
constexpr PresetValues initPresetValues() {
    return {param(kMorphId).defaultPlain, static_cast<int32_t>(param(kAlgorithmId).defaultPlain),
            param(kMixId).defaultPlain, param(kOutputId).defaultPlain,
            isOn(param(kQualityId).defaultNormalized())};
}

// Any thread. Every parameter's normalized value for a preset, with the given Bypass.
constexpr std::array<double, kParamCount> normalizedValues(const PresetValues& preset,
                                                           double bypassNormalized) {
    std::array<double, kParamCount> values{};
    values[kMorphId] = param(kMorphId).toNormalized(preset.morph);
    values[kAlgorithmId] = param(kAlgorithmId).toNormalized(preset.algorithm);
    values[kMixId] = param(kMixId).toNormalized(preset.mixPercent);
    values[kOutputId] = param(kOutputId).toNormalized(preset.outputDb);
    values[kBypassId] = bypassNormalized;
    values[kQualityId] = preset.highQuality ? 1.0 : 0.0;
    return values;
}

// Any thread. The plain values of normalized ones (Bypass is not a preset's).
constexpr PresetValues presetValuesOf(const std::array<double, kParamCount>& normalized) {
    return {param(kMorphId).toPlain(normalized[kMorphId]), algorithmOf(normalized[kAlgorithmId]),
            param(kMixId).toPlain(normalized[kMixId]),
            param(kOutputId).toPlain(normalized[kOutputId]), isOn(normalized[kQualityId])};
}

// Any thread. The factory preset of that name (as spelled in the table, case ignored).
constexpr std::optional<FactoryPreset> findFactoryPreset(std::string_view name) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (const FactoryPreset& preset : kFactoryPresets) {
        const std::string_view candidate(preset.name);
        if (candidate.size() != name.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i)
            same = lower(candidate[i]) == lower(name[i]);
        if (same)
            return preset;
    }
    if (name == kInitPresetName || name == "init")
        return FactoryPreset{kInitPresetName, "", initPresetValues()};
    return std::nullopt;
}

} // namespace tav::model
