#pragma once

#include "model/Presets.h"
#include "plugin/PresetLibrary.h"
#include "ui/WindowTypes.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tav::plugin {

// The rows of the editor's preset menu and what each stands for: the factory presets in table
// order, then the user's preset files sorted by name. Runs on the UI thread; allocates.
class PresetMenu {
public:
    // UI thread; allocates. Over the user's folder (tests pass their own); empty until the
    // first refresh.
    explicit PresetMenu(PresetLibrary library = PresetLibrary());

    // UI thread; allocates. Reads the user's folder again; true when its presets changed.
    bool refresh();
    // UI thread; allocates. Reads the folder again only when it was written since the last look.
    bool refreshIfChanged();

    // UI thread; allocates. The rows as the view shows them.
    std::vector<ui::PresetEntry> entries() const;
    // UI thread. The row of the preset of that name: a user preset first, then a factory one.
    int32_t entryNamed(const std::string& name) const;

    // What a row loads: the name shown and the values, or why the file was refused.
    struct Loaded {
        std::string name;
        model::PresetValues values;
        std::string refusal;
    };
    // UI thread; allocates. The row's preset; -1 or a row out of range gives Init.
    Loaded load(int32_t entry) const;

    // UI thread; allocates. The user preset of a row, if it is one.
    std::optional<UserPreset> userPreset(int32_t entry) const;
    const PresetLibrary& library() const { return folder; }

private:
    PresetLibrary folder;
    std::vector<UserPreset> user;
    std::filesystem::file_time_type seen{};
};

} // namespace tav::plugin
