#include "tools/commands/ParameterFlags.h"

#include "model/Presets.h"
#include "plugin/PresetLibrary.h"
#include "tools/HostError.h"
#include "tools/commands/OptionChecks.h"
#include "tools/host/ParameterOptions.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>

namespace tav::tools {
namespace {

using host::MorphRamp;
using host::RampLimits;

RampLimits limitsOf(model::ParamId id, const char* option, const char* unit) {
    const model::ParamInfo& param = model::param(id);
    return RampLimits{option, param.minimum, param.maximum, unit};
}

const char* rampWords(ParameterFlags::Ramps ramps) {
    return ramps == ParameterFlags::Ramps::Allowed ? ", or a ramp" : "";
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

// A preset by its factory name, or from a preset file.
model::PresetValues presetNamed(const std::string& preset) {
    if (const auto factory = model::findFactoryPreset(preset))
        return factory->values;
    std::error_code error;
    if (!preset.ends_with(".vstpreset") && !std::filesystem::is_regular_file(preset, error))
        throw host::HostError("no preset \"" + preset +
                              "\": give a factory preset's name (see tavimo presets) or a "
                              ".vstpreset file");
    const plugin::PresetReading reading = plugin::PresetLibrary::read(preset);
    if (!reading.document)
        throw host::HostError("preset \"" + preset + "\" refused: " + reading.refusal);
    return model::presetValuesOf(reading.document->values);
}

} // namespace

void ParameterFlags::applyPreset(const CLI::App& command) {
    if (preset.empty())
        return;
    const model::PresetValues values = presetNamed(preset);
    const auto given = [&](const char* name) { return command.count(name) > 0; };
    if (!given("--morph"))
        morph = number(values.morph);
    if (!given("--algorithm"))
        algorithm = values.algorithm;
    if (!given("--mix"))
        mix = number(values.mixPercent);
    if (!given("--gain") && !given("--output"))
        gain = number(values.outputDb);
    if (!given("--quality"))
        quality = values.highQuality ? 1 : 0;
}

RampLimits ParameterFlags::morphLimits() {
    return limitsOf(model::kMorphId, "--morph", "");
}

RampLimits ParameterFlags::mixLimits() {
    return limitsOf(model::kMixId, "--mix", "percent");
}

RampLimits ParameterFlags::gainLimits() {
    return limitsOf(model::kOutputId, "--gain", "dB");
}

void ParameterFlags::add(CLI::App& command, Ramps ramps) {
    const bool allowed = ramps == Ramps::Allowed;
    const std::string rampType = allowed ? "|RAMP" : "";
    command
        .add_option("--morph", morph,
                    "Morph, " + host::rangeInWords(morphLimits()) + " (0 is A, 1 is B)" +
                        rampWords(ramps) + (allowed ? " such as \"0:0,8:1\"" : ""))
        ->type_name("VALUE" + rampType)
        ->check(rampWithin(morphLimits(), allowed))
        ->capture_default_str();

    const auto algorithms = host::listChoices(model::kAlgorithmId);
    command
        .add_option("--algorithm", algorithm, "Morph algorithm: " + inWords(namesOf(algorithms)))
        ->type_name("NAME")
        ->transform(choiceOf(algorithms))
        ->default_str(namesOf(algorithms)[static_cast<std::size_t>(algorithm)]);

    command
        .add_option("--mix", mix,
                    "Wet share, " + host::rangeInWords(mixLimits()) + rampWords(ramps))
        ->type_name("PERCENT" + rampType)
        ->check(rampWithin(mixLimits(), allowed))
        ->capture_default_str();

    const std::string gainText =
        "Output gain, " + host::rangeInWords(gainLimits()) + rampWords(ramps);
    command.add_option("--gain", gain, gainText)
        ->type_name("DB" + rampType)
        ->check(rampWithin(gainLimits(), allowed))
        ->capture_default_str();
    // The gain's former name, which scripts may still use; hidden beside -o/--output-file. A
    // hidden option has no name in the parser's errors, so this one names itself.
    RampLimits formerGain = gainLimits();
    formerGain.option = "--output";
    command
        .add_option_function<std::string>(
            "--output",
            [this, check = rampWithin(formerGain, allowed)](const std::string& value) mutable {
                std::string text = value;
                const std::string error = check(text);
                if (!error.empty())
                    throw CLI::ValidationError("--output: " + error);
                gain = text;
            },
            gainText)
        ->group("");

    const auto qualities = host::listChoices(model::kQualityId);
    command
        .add_option("--quality", quality,
                    "Quality: " + inWords(namesOf(qualities)) +
                        " (high: finer detail, twice the latency)")
        ->type_name("NAME")
        ->transform(choiceOf(qualities))
        ->default_str(namesOf(qualities)[static_cast<std::size_t>(quality)]);

    command
        .add_option("--preset", preset,
                    "Start from a preset: a factory preset's name (see tavimo presets) or a "
                    ".vstpreset file; the options given beside it override its values")
        ->type_name("NAME|FILE");

    command
        .add_option("--block", block,
                    "Host block size, " + std::to_string(host::kMinBlockSize) + " to " +
                        std::to_string(host::kMaxBlockSize) + " samples")
        ->type_name("SAMPLES")
        ->check(wholeNumberFrom(host::kMinBlockSize, host::kMaxBlockSize, "samples"))
        ->capture_default_str();
}

host::RenderSettings ParameterFlags::renderSettings() const {
    host::RenderSettings settings;
    settings.morph = MorphRamp::parse(morph, morphLimits());
    settings.algorithm = algorithm;
    settings.mixPercent = MorphRamp::parse(mix, mixLimits());
    settings.outputDb = MorphRamp::parse(gain, gainLimits());
    settings.quality = quality;
    settings.blockSize = block;
    return settings;
}

host::ParameterSet ParameterFlags::parameterSet() const {
    return host::Renderer::startValues(renderSettings());
}

} // namespace tav::tools
