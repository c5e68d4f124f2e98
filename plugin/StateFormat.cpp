#include "plugin/StateFormat.h"

#include "base/source/fstreamer.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tav::plugin {

using namespace Steinberg;

namespace {

// Every stream starts with its format version; anything below 1 was never written by us.
bool readFormatVersion(IBStreamer& in, int32& version) {
    return in.readInt32(version) && version >= 1;
}

// Little-endian bytes of a stream, built in memory so that it goes out in one write.
template <size_t Size>
class StateBytes {
public:
    void putInt32(int32 value) { putBits(static_cast<uint32_t>(value), 4); }
    void putDouble(double value) {
        uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof(bits));
        putBits(bits, 8);
    }
    // Whether the stream reports the whole state written; a refused or short write is not.
    bool writeTo(IBStream& stream) {
        int32 written = 0;
        const tresult result = stream.write(bytes.data(), static_cast<int32>(used), &written);
        return result == kResultOk && written == static_cast<int32>(used);
    }

private:
    void putBits(uint64_t bits, size_t count) {
        for (size_t i = 0; i < count && used < Size; ++i)
            bytes[used++] = static_cast<unsigned char>(bits >> (8 * i));
    }

    std::array<unsigned char, Size> bytes{};
    size_t used = 0;
};

// Every stored parameter as a double after the version; version 1 came before Quality.
constexpr size_t kProcessorStateBytes = 4 + 8 * model::kStoredParamCount;
constexpr int kVersion1ParamCount = model::kStoredParamCount - 1;
constexpr size_t kControllerStateBytes = 8;

} // namespace

bool readProcessorState(IBStream* stream, ParameterValues& values) {
    if (stream == nullptr)
        return false;
    IBStreamer in(stream, kLittleEndian);
    int32 version = 0;
    if (!readFormatVersion(in, version))
        return false;
    ParameterValues read{};
    const int count = version >= 2 ? model::kStoredParamCount : kVersion1ParamCount;
    for (int i = 0; i < count; ++i) {
        double& value = read[static_cast<size_t>(i)];
        // A NaN or infinity would be handed out to hosts and written back into projects.
        if (!in.readDouble(value) || !std::isfinite(value))
            return false;
    }
    if (version < 2)
        read[kQualityId] = 0.0;
    values = read;
    return true;
}

bool writeProcessorState(IBStream* stream, const ParameterValues& values) {
    if (stream == nullptr)
        return false;
    StateBytes<kProcessorStateBytes> out;
    out.putInt32(kProcessorStateVersion);
    for (double value : values)
        out.putDouble(value);
    return out.writeTo(*stream);
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

bool writeControllerState(IBStream* stream, bool darkTheme) {
    if (stream == nullptr)
        return false;
    StateBytes<kControllerStateBytes> out;
    out.putInt32(kControllerStateVersion);
    out.putInt32(darkTheme ? 1 : 0);
    return out.writeTo(*stream);
}

} // namespace tav::plugin
