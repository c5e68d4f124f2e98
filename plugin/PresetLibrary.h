#pragma once

#include "plugin/PresetDocument.h"

#include <filesystem>
#include <string>
#include <vector>

// The user's own presets: .vstpreset files in the per-user VST3 preset folder, where hosts'
// preset browsers find them too ("~/.vst3/presets/Tavimo Audio/Tavimo" on Linux,
// "Documents\VST3 Presets\Tavimo Audio\Tavimo" on Windows). Every operation runs on the UI
// thread (or the host tool's main thread) and allocates; none throws.
namespace tav::plugin {

// One user preset as the menu lists it.
struct UserPreset {
    std::string name; // from the file's metadata, else its file name
    std::filesystem::path file;
};

// What a change to the folder did: empty when it worked, else one line saying why not.
using PresetFailure = std::string;

class PresetLibrary {
public:
    // The per-user folder of this platform; empty when the home folder is unknown.
    static std::filesystem::path userFolder();

    // A library over a folder (tests and the host tool pass their own).
    explicit PresetLibrary(std::filesystem::path folder = userFolder());

    const std::filesystem::path& folder() const { return root; }

    // The presets in the folder and its subfolders, sorted by name; a file that cannot be read
    // is listed under its file name (and refused when loaded).
    std::vector<UserPreset> list() const;

    // The file a preset of that name is saved as: the name with what file systems cannot
    // hold replaced.
    std::filesystem::path fileFor(const std::string& name) const;

    // Writes a preset, replacing one of the same name; through a temporary file renamed into
    // place, so that a failure never leaves a half-written preset.
    PresetFailure save(const PresetDocument& document) const;
    // Gives a saved preset a new name (its file is rewritten under the new name).
    PresetFailure rename(const UserPreset& preset, const std::string& newName) const;
    PresetFailure remove(const UserPreset& preset) const;

    // Reads any preset file, refusing it whole as decodePreset does.
    static PresetReading read(const std::filesystem::path& file);

private:
    std::filesystem::path root;
};

// Any thread; allocates. A name as a file name: characters no file system holds (and control
// characters) become "_", trailing dots and spaces go, reserved Windows names get a "_".
std::string safeFileName(const std::string& name);

} // namespace tav::plugin
