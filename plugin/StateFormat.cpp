#include "plugin/StateFormat.h"

#include "base/source/fstreamer.h"

namespace tav::plugin {

using namespace Steinberg;

namespace {

// Every stream starts with its format version; anything below 1 was never written by us.
bool readFormatVersion(IBStreamer& in, int32& version) {
    return in.readInt32(version) && version >= 1;
}

} // namespace

bool readProcessorState(IBStream* stream, ParameterValues& values) {
    if (stream == nullptr)
        return false;
    IBStreamer in(stream, kLittleEndian);
    int32 version = 0;
    if (!readFormatVersion(in, version))
        return false;
    ParameterValues read{};
    const int count = version >= 2 ? kParamCount : kParamCount - 1;
    for (int i = 0; i < count; ++i) {
        if (!in.readDouble(read[static_cast<size_t>(i)]))
            return false;
    }
    if (version < 2)
        read[kQualityId] = 0.0;
    values = read;
    return true;
}

void writeProcessorState(IBStream* stream, const ParameterValues& values) {
    if (stream == nullptr)
        return;
    IBStreamer out(stream, kLittleEndian);
    out.writeInt32(kProcessorStateVersion);
    for (double value : values)
        out.writeDouble(value);
}

bool readControllerState(IBStream* stream, bool& darkTheme) {
    if (stream == nullptr)
        return false;
    IBStreamer in(stream, kLittleEndian);
    int32 version = 0;
    if (!readFormatVersion(in, version))
        return false;
    int32 flag = 0;
    if (!in.readInt32(flag))
        return false;
    darkTheme = flag != 0;
    return true;
}

void writeControllerState(IBStream* stream, bool darkTheme) {
    if (stream == nullptr)
        return;
    IBStreamer out(stream, kLittleEndian);
    out.writeInt32(kControllerStateVersion);
    out.writeInt32(darkTheme ? 1 : 0);
}

} // namespace tav::plugin
