#pragma once

#include "tools/audio/MorphRamp.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/Renderer.h"

#include <string>

namespace CLI {
class App;
}

namespace tav::tools {

// The plug-in's parameters as every command that sets them offers them: the same names,
// ranges, words and checks in render, editor and play. Morph, Mix and Gain are kept as given
// (a value or a ramp); algorithm and quality as list indices.
struct ParameterFlags {
    // Whether Morph, Mix and Gain take seconds:value ramps (a render) or one value (live).
    enum class Ramps { Allowed, NotAllowed };

    std::string morph = "0.5";
    int algorithm = 0;
    std::string mix = "100"; // percent
    std::string gain = "0";  // dB, the plug-in's Output
    int quality = 0;
    int block = 512;    // the default shown is the value here when add is called
    std::string preset; // a factory preset's name or a .vstpreset file; empty for none

    // Main thread; allocates. Registers --morph, --algorithm, --mix, --gain (with its former
    // name --output kept, hidden, for old scripts), --quality and --block on command, bound to
    // this. A bad value is a usage error whose message gives the range or choices in the help's
    // words.
    void add(CLI::App& command, Ramps ramps);

    // Main thread; allocates. Takes the values of --preset for every parameter option not given
    // on the command line. Throws HostError when the preset is unknown or its file refused.
    void applyPreset(const CLI::App& command);

    // Main thread; allocates. The values as a render's settings (already checked when parsed).
    host::RenderSettings renderSettings() const;

    // Main thread; allocates. The values at the start as an instance's parameters.
    host::ParameterSet parameterSet() const;

    // Any thread. The ranges Morph, Mix and Gain are checked against.
    static host::RampLimits morphLimits();
    static host::RampLimits mixLimits();
    static host::RampLimits gainLimits();
};

} // namespace tav::tools
