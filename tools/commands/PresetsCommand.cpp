#include "tools/commands/PresetsCommand.h"

#include "model/Presets.h"
#include "plugin/PresetLibrary.h"
#include "tools/HostError.h"
#include "tools/commands/ParameterFlags.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace tav::tools {
namespace {

namespace fs = std::filesystem;

void printValues(const std::string& name, const model::PresetValues& values) {
    std::printf(
        "    %-22s morph %.2f  %-9s  mix %3.0f %%  gain %+5.1f dB  quality %s\n", name.c_str(),
        values.morph, model::kAlgorithmNames[static_cast<std::size_t>(values.algorithm)],
        values.mixPercent, values.outputDb, model::kQualityNames[values.highQuality ? 1 : 0]);
}

int listPresets() {
    std::printf("Factory presets\n");
    printValues(model::kInitPresetName, model::initPresetValues());
    for (const char* category : model::kPresetCategories) {
        std::printf("  %s\n", category);
        for (const model::FactoryPreset& preset : model::kFactoryPresets)
            if (std::string(preset.category) == category)
                printValues(preset.name, preset.values);
    }
    const plugin::PresetLibrary library;
    std::printf("Your presets (%s)\n", library.folder().string().c_str());
    const auto presets = library.list();
    if (presets.empty())
        std::printf("    none yet\n");
    for (const plugin::UserPreset& preset : presets) {
        const plugin::PresetReading reading = plugin::PresetLibrary::read(preset.file);
        if (reading.document)
            printValues(preset.name, model::presetValuesOf(reading.document->values));
        else
            std::printf("    %-22s refused: %s\n", preset.name.c_str(), reading.refusal.c_str());
    }
    return 0;
}

// The factory presets as files, one folder per category, as hosts' browsers show them.
int writeFactoryPresets(const fs::path& folder) {
    const fs::path root = folder / plugin::kVendor / plugin::kProcessorName;
    int written = 0;
    for (const model::FactoryPreset& preset : model::kFactoryPresets) {
        plugin::PresetDocument document;
        document.name = preset.name;
        document.category = preset.category;
        document.values = model::normalizedValues(preset.values, 0.0);
        const plugin::PresetLibrary library(root / plugin::safeFileName(preset.category));
        if (const plugin::PresetFailure failure = library.save(document); !failure.empty())
            throw host::HostError(failure);
        ++written;
    }
    std::printf("tavimo presets: %d factory presets in %s\n", written, root.string().c_str());
    return 0;
}

// The values the options give (or their defaults) as a user preset in the user's folder.
int saveUserPreset(const std::string& name, const ParameterFlags& flags) {
    if (name.empty())
        throw host::HostError("a preset needs a name");
    model::PresetValues values;
    values.morph = std::stod(flags.morph);
    values.algorithm = flags.algorithm;
    values.mixPercent = std::stod(flags.mix);
    values.outputDb = std::stod(flags.gain);
    values.highQuality = flags.quality != 0;
    plugin::PresetDocument document;
    document.name = name;
    document.values = model::normalizedValues(values, 0.0);
    const plugin::PresetLibrary library;
    if (const plugin::PresetFailure failure = library.save(document); !failure.empty())
        throw host::HostError(failure);
    std::printf("tavimo presets: saved %s\n", library.fileFor(name).string().c_str());
    return 0;
}

} // namespace

void addPresetsCommand(CLI::App& app, std::function<int()>& action) {
    struct Options {
        std::string factoryFolder, saveName;
        ParameterFlags parameters;
    };
    auto options = std::make_shared<Options>();
    auto* presets = app.add_subcommand(
        "presets", "List the factory presets and your own, with their values; save one of yours");
    presets
        ->add_option("--save", options->saveName,
                     "Save the values the options below give as your preset of this name")
        ->type_name("NAME");
    options->parameters.add(*presets, ParameterFlags::Ramps::NotAllowed);
    presets
        ->add_option("--write-factory", options->factoryFolder,
                     "Write the factory presets as .vstpreset files into this folder")
        ->type_name("FOLDER");
    presets->callback([options, &action, presets] {
        action = [options, presets] {
            if (!options->factoryFolder.empty())
                return writeFactoryPresets(options->factoryFolder);
            if (presets->count("--save") == 0)
                return listPresets();
            options->parameters.applyPreset(*presets);
            return saveUserPreset(options->saveName, options->parameters);
        };
    });
}

} // namespace tav::tools
