#include "plugin/StateFormat.h"

#include "base/source/fstreamer.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

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
    void putBytes(const char* data, size_t count) {
        for (size_t i = 0; i < count && used < Size; ++i)
            bytes[used++] = static_cast<unsigned char>(data[i]);
    }
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
constexpr size_t kControllerStateBytes = 16 + kMaxPresetNameBytes;

// The longest prefix of a UTF-8 text within a byte count that does not split a character.
size_t utf8Prefix(const std::string& text, size_t limit) {
    if (text.size() <= limit)
        return text.size();
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
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

bool readControllerState(IBStream* stream, ControllerSettings& settings) {
    if (stream == nullptr)
        return false;
    IBStreamer in(stream, kLittleEndian);
    int32 version = 0;
    if (!readFormatVersion(in, version))
        return false;
    ControllerSettings read = settings;
    int32 flag = 0;
    if (!in.readInt32(flag))
        return false;
    read.darkTheme = flag != 0;
    if (version >= 2) {
        int32 edited = 0, length = 0;
        if (!in.readInt32(edited) || !in.readInt32(length) || length < 0 ||
            length > static_cast<int32>(kMaxPresetNameBytes))
            return false;
        std::array<char, kMaxPresetNameBytes> name{};
        if (in.readRaw(name.data(), length) != length)
            return false;
        read.presetEdited = edited != 0;
        read.presetName.assign(name.data(), static_cast<size_t>(length));
    }
    settings = std::move(read);
    return true;
}

bool writeControllerState(IBStream* stream, const ControllerSettings& settings) {
    if (stream == nullptr)
        return false;
    const size_t length = utf8Prefix(settings.presetName, kMaxPresetNameBytes);
    StateBytes<kControllerStateBytes> out;
    out.putInt32(kControllerStateVersion);
    out.putInt32(settings.darkTheme ? 1 : 0);
    out.putInt32(settings.presetEdited ? 1 : 0);
    out.putInt32(static_cast<int32>(length));
    out.putBytes(settings.presetName.data(), length);
    return out.writeTo(*stream);
}

int32 peekStateVersion(IBStream* stream) {
    if (stream == nullptr)
        return 0;
    IBStreamer in(stream, kLittleEndian);
    int32 version = 0;
    return in.readInt32(version) ? version : 0;
}

} // namespace tav::plugin
