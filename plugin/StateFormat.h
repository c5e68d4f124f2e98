#pragma once

#include "plugin/TavimoIds.h"

#include "pluginterfaces/base/ibstream.h"

#include <array>

// The two saved streams, little-endian, each starting with its int32 format version.
// Processor: version 2, the six normalized values as float64 in id order (52 bytes);
// version 1 lacks Quality (44 bytes). Controller: version 1, darkTheme as int32 (8 bytes).
namespace tav::plugin {

using ParameterValues = std::array<double, kParamCount>;

inline constexpr Steinberg::int32 kProcessorStateVersion = 2;
inline constexpr Steinberg::int32 kControllerStateVersion = 1;

// UI thread; never allocates. Reads all or nothing: on false, values is unchanged. A
// non-finite value refuses the whole stream. Newer versions are read as version 2 and their
// extra bytes ignored.
bool readProcessorState(Steinberg::IBStream* stream, ParameterValues& values);
// UI thread; never allocates. False when the stream took less than the whole state.
bool writeProcessorState(Steinberg::IBStream* stream, const ParameterValues& values);

// UI thread; never allocates. All or nothing, as above.
bool readControllerState(Steinberg::IBStream* stream, bool& darkTheme);
bool writeControllerState(Steinberg::IBStream* stream, bool darkTheme);

} // namespace tav::plugin
