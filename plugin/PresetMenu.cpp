#include "plugin/PresetMenu.h"

#include <system_error>

namespace tav::plugin {

namespace {

constexpr auto kFactoryCount = static_cast<int32_t>(model::kFactoryPresets.size());

} // namespace

PresetMenu::PresetMenu(PresetLibrary library) : folder(std::move(library)) {}

bool PresetMenu::refresh() {
    std::error_code error;
    seen = std::filesystem::last_write_time(folder.folder(), error);
    std::vector<UserPreset> fresh = folder.list();
    const bool changed =
        fresh.size() != user.size() || !std::equal(fresh.begin(), fresh.end(), user.begin(),
                                                   [](const UserPreset& a, const UserPreset& b) {
                                                       return a.name == b.name && a.file == b.file;
                                                   });
    user = std::move(fresh);
    return changed;
}

bool PresetMenu::refreshIfChanged() {
    std::error_code error;
    const auto stamp = std::filesystem::last_write_time(folder.folder(), error);
    if (!error && stamp == seen)
        return false;
    return refresh();
}

std::vector<ui::PresetEntry> PresetMenu::entries() const {
    std::vector<ui::PresetEntry> rows;
    for (const model::FactoryPreset& preset : model::kFactoryPresets)
        rows.push_back({preset.name, preset.category});
    for (const UserPreset& preset : user)
        rows.push_back({preset.name, ""});
    return rows;
}

int32_t PresetMenu::entryNamed(const std::string& name) const {
    for (size_t i = 0; i < user.size(); ++i)
        if (user[i].name == name)
            return kFactoryCount + static_cast<int32_t>(i);
    for (int32_t i = 0; i < kFactoryCount; ++i)
        if (name == model::kFactoryPresets[static_cast<size_t>(i)].name)
            return i;
    return -1;
}

PresetMenu::Loaded PresetMenu::load(int32_t entry) const {
    if (entry >= 0 && entry < kFactoryCount) {
        const model::FactoryPreset& preset = model::kFactoryPresets[static_cast<size_t>(entry)];
        return {preset.name, preset.values, {}};
    }
    if (const std::optional<UserPreset> preset = userPreset(entry)) {
        const PresetReading reading = PresetLibrary::read(preset->file);
        if (!reading.document)
            return {{}, {}, "Preset refused: " + reading.refusal};
        return {preset->name, model::presetValuesOf(reading.document->values), {}};
    }
    return {model::kInitPresetName, model::initPresetValues(), {}};
}

std::optional<UserPreset> PresetMenu::userPreset(int32_t entry) const {
    const int32_t index = entry - kFactoryCount;
    if (index < 0 || index >= static_cast<int32_t>(user.size()))
        return std::nullopt;
    return user[static_cast<size_t>(index)];
}

} // namespace tav::plugin
