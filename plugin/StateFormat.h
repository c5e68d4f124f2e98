#pragma once

#include "plugin/TavimoIds.h"

#include "pluginterfaces/base/ibstream.h"

#include <array>
#include <string>

// The two saved streams, little-endian, each starting with its int32 format version.
// Processor: version 2, the six normalized values as float64 in id order (52 bytes);
// version 1 lacks Quality (44 bytes). Controller: version 2, darkTheme and the preset's edited
// flag as int32, then its name as an int32 byte count and that many UTF-8 bytes (at most
// kMaxPresetNameBytes); version 1 holds darkTheme alone (8 bytes).
namespace tav::plugin {

using ParameterValues = std::array<double, kParamCount>;

inline constexpr Steinberg::int32 kProcessorStateVersion = 2;
inline constexpr Steinberg::int32 kControllerStateVersion = 2;
inline constexpr size_t kMaxPresetNameBytes = 255;

// What the controller keeps besides the parameters.
struct ControllerSettings {
    bool darkTheme = false;
    std::string presetName = "Init";
    bool presetEdited = false;
};

// UI thread; never allocates. Reads all or nothing: on false, values is unchanged. A
// non-finite value refuses the whole stream. Newer versions are read as version 2 and their
// extra bytes ignored.
bool readProcessorState(Steinberg::IBStream* stream, ParameterValues& values);
// UI thread; never allocates. False when the stream took less than the whole state.
bool writeProcessorState(Steinberg::IBStream* stream, const ParameterValues& values);

// UI thread; allocates. All or nothing, as above; version 1 leaves the preset as it is.
bool readControllerState(Steinberg::IBStream* stream, ControllerSettings& settings);
// UI thread; allocates. A name longer than kMaxPresetNameBytes is cut at a character boundary.
bool writeControllerState(Steinberg::IBStream* stream, const ControllerSettings& settings);

// UI thread; never allocates. The format version a stream starts with, the stream then
// standing after it; 0 when it has none.
Steinberg::int32 peekStateVersion(Steinberg::IBStream* stream);

} // namespace tav::plugin
