#include "tools/commands/PresetsCommand.h"

#include "model/Presets.h"
#include "plugin/PresetLibrary.h"
#include "tools/HostError.h"

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

} // namespace

void addPresetsCommand(CLI::App& app, std::function<int()>& action) {
    auto folder = std::make_shared<std::string>();
    auto* presets =
        app.add_subcommand("presets", "List the factory presets and your own, with their values");
    presets->add_option("--write-factory", *folder,
                        "Write the factory presets as .vstpreset files into this folder");
    presets->callback([folder, &action] {
        action = [folder] {
            return folder->empty() ? listPresets() : writeFactoryPresets(*folder);
        };
    });
}

} // namespace tav::tools
