#pragma once

#include "plugin/StateFormat.h"

#include <optional>
#include <string>
#include <vector>

// One preset as a VST3 preset file (.vstpreset): the processor's state chunk, the controller's
// state chunk and the metadata chunk naming it, as hosts read and write them.
namespace tav::plugin {

struct PresetDocument {
    std::string name;         // UTF-8
    std::string category;     // UTF-8; empty for the user's own presets
    ParameterValues values{}; // normalized; Bypass is always stored off
};

// What reading a preset file gives: the document, or why it was refused.
struct PresetReading {
    std::optional<PresetDocument> document;
    std::string refusal; // one line, for the editor's status card and the host tool
};

// UI thread; allocates. When a host restores a state from a preset file (its own browser), the
// file's name without its extension; nothing for a project's state or when the host does not say.
std::optional<std::string> presetFileNameOf(Steinberg::IBStream* stream);

// Any thread; allocates. The file's bytes. Bypass is stored off whatever values holds.
std::vector<char> encodePreset(const PresetDocument& document);

// Any thread; allocates. Refuses the whole file when it is damaged or truncated, belongs to
// another plug-in, comes from a newer state version than this one understands, or holds a
// value that is not finite. The name comes from the metadata, else from fallbackName.
PresetReading decodePreset(const std::vector<char>& bytes, const std::string& fallbackName);

} // namespace tav::plugin
