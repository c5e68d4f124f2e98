#include "plugin/PresetDocument.h"

#include "model/Utf8.h"
#include "plugin/TavimoIds.h"

#include "pluginterfaces/base/ustring.h"
#include "pluginterfaces/vst/ivstattributes.h"
#include "public.sdk/source/common/memorystream.h"
#include "public.sdk/source/vst/vstpresetfile.h"

#include <cstring>

namespace tav::plugin {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// The documented metadata keys of VST3 preset files; hosts show them in their browsers.
constexpr const char* kMetaName = "Name";
constexpr const char* kMetaPlugInName = "PlugInName";
constexpr const char* kMetaPlugInCategory = "PlugInCategory";
constexpr const char* kMetaMediaType = "MediaType";
constexpr const char* kMetaCategory = "MusicalCategory";

std::string xmlEscaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string xmlUnescaped(const std::string& text) {
    static constexpr std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string plain;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [entity, c] : kEntities) {
            const size_t length = std::strlen(entity);
            if (text.compare(i, length, entity) == 0) {
                plain += c;
                i += length;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            plain += text[i++];
    }
    return plain;
}

void addAttribute(std::string& xml, const char* id, const std::string& value) {
    xml += "  <Attr id=\"";
    xml += id;
    xml += "\" value=\"" + xmlEscaped(value) + "\" type=\"string\" flags=\"writeProtected\"/>\n";
}

std::string metaInfo(const PresetDocument& document) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<MetaInfo>\n";
    addAttribute(xml, kMetaMediaType, "VstPreset");
    addAttribute(xml, kMetaPlugInName, kProcessorName);
    addAttribute(xml, kMetaPlugInCategory, kSubCategories);
    addAttribute(xml, kMetaName, document.name);
    if (!document.category.empty())
        addAttribute(xml, kMetaCategory, document.category);
    return xml + "</MetaInfo>\n";
}

// The value of one attribute of the metadata, or nothing.
std::optional<std::string> attributeOf(const std::string& xml, const char* id) {
    const std::string key = std::string("id=\"") + id + "\"";
    const size_t at = xml.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    const size_t end = xml.find('>', at);
    const size_t value = xml.find("value=\"", at);
    if (value == std::string::npos || value > end)
        return std::nullopt;
    const size_t from = value + 7;
    const size_t to = xml.find('"', from);
    if (to == std::string::npos)
        return std::nullopt;
    return xmlUnescaped(xml.substr(from, to - from));
}

std::vector<char> bytesOf(MemoryStream& stream) {
    const auto size = static_cast<size_t>(stream.getSize());
    return {stream.getData(), stream.getData() + size};
}

std::optional<std::vector<char>> chunkOf(PresetFile& file, ChunkType which) {
    const PresetFile::Entry* entry = file.getEntry(which);
    if (entry == nullptr || entry->size < 0 || entry->size > (1 << 20))
        return std::nullopt;
    std::vector<char> bytes(static_cast<size_t>(entry->size));
    int64 at = 0;
    int32 read = 0;
    IBStream* stream = file.getStream();
    if (stream->seek(entry->offset, IBStream::kIBSeekSet, &at) != kResultOk ||
        at != entry->offset ||
        stream->read(bytes.data(), static_cast<int32>(bytes.size()), &read) != kResultOk ||
        read != static_cast<int32>(bytes.size()))
        return std::nullopt;
    return bytes;
}

PresetReading refused(std::string why) {
    return {std::nullopt, std::move(why)};
}

} // namespace

std::optional<std::string> presetFileNameOf(IBStream* stream) {
    FUnknownPtr<IStreamAttributes> attributes(stream);
    if (!attributes)
        return std::nullopt;
    // Hosts mark a project's own state; a state with a file name and without that mark came
    // from a preset file.
    if (IAttributeList* list = attributes->getAttributes()) {
        String128 type{};
        if (list->getString("StateType", type, sizeof(type)) == kResultTrue &&
            model::utf8FromUtf16(reinterpret_cast<const char16_t*>(type)) == "Project")
            return std::nullopt;
    }
    String128 name{};
    if (attributes->getFileName(name) != kResultTrue || name[0] == 0)
        return std::nullopt;
    std::string file = model::utf8FromUtf16(reinterpret_cast<const char16_t*>(name));
    if (const size_t slash = file.find_last_of("/\\"); slash != std::string::npos)
        file.erase(0, slash + 1);
    if (file.size() > 10 && file.ends_with(".vstpreset"))
        file.resize(file.size() - 10);
    return file.empty() ? std::nullopt : std::optional(file);
}

std::vector<char> encodePreset(const PresetDocument& document) {
    ParameterValues values = document.values;
    values[kBypassId] = 0.0;
    MemoryStream processorState;
    MemoryStream controllerState;
    writeProcessorState(&processorState, values);
    writeControllerState(&controllerState, {false, document.name, false});

    MemoryStream out;
    PresetFile file(&out);
    file.setClassID(kProcessorUID);
    const std::string xml = metaInfo(document);
    const bool written =
        file.writeHeader() &&
        file.writeChunk(processorState.getData(), static_cast<int32>(processorState.getSize()),
                        kComponentState) &&
        file.writeChunk(controllerState.getData(), static_cast<int32>(controllerState.getSize()),
                        kControllerState) &&
        file.writeMetaInfo(xml.c_str(), static_cast<int32>(xml.size())) && file.writeChunkList();
    return written ? bytesOf(out) : std::vector<char>{};
}

PresetReading decodePreset(const std::vector<char>& bytes, const std::string& fallbackName) {
    MemoryStream in(const_cast<char*>(bytes.data()), static_cast<TSize>(bytes.size()));
    PresetFile file(&in);
    if (bytes.empty() || !file.readChunkList())
        return refused("not a VST3 preset file, or a damaged one");
    if (file.getClassID() != kProcessorUID)
        return refused("a preset for another plug-in");
    const auto processorChunk = chunkOf(file, kComponentState);
    if (!processorChunk)
        return refused("the preset file is truncated or damaged");
    MemoryStream processorState(const_cast<char*>(processorChunk->data()),
                                static_cast<TSize>(processorChunk->size()));
    if (peekStateVersion(&processorState) > kProcessorStateVersion)
        return refused("the preset comes from a newer version of Tavimo");
    processorState.seek(0, IBStream::kIBSeekSet, nullptr);
    PresetDocument document;
    if (!readProcessorState(&processorState, document.values))
        return refused("the preset's values are damaged or not finite");
    document.values[kBypassId] = 0.0;

    if (const auto controllerChunk = chunkOf(file, kControllerState)) {
        MemoryStream controllerState(const_cast<char*>(controllerChunk->data()),
                                     static_cast<TSize>(controllerChunk->size()));
        if (peekStateVersion(&controllerState) > kControllerStateVersion)
            return refused("the preset comes from a newer version of Tavimo");
    } else if (file.contains(kControllerState)) {
        return refused("the preset file is truncated or damaged");
    }

    document.name = fallbackName;
    if (const auto xml = chunkOf(file, kMetaInfo)) {
        const std::string text(xml->begin(), xml->end());
        if (const auto name = attributeOf(text, kMetaName); name && !name->empty())
            document.name = *name;
        document.category = attributeOf(text, kMetaCategory).value_or("");
    }
    return {std::move(document), {}};
}

} // namespace tav::plugin
