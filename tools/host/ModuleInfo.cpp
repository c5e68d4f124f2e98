#include "tools/host/ModuleInfo.h"

#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/base/ipluginbase.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tav::host {

using namespace Steinberg;

namespace {

constexpr const char* kAudioEffectCategory = "Audio Module Class";
constexpr const char* kSnapshotFolder = "Contents/Resources/Snapshots/";

std::string fixedText(const char8* text, size_t size) {
    return std::string(text, strnlen(text, size));
}

// A JSON string literal: quotes, backslashes and control characters escaped.
std::string quoted(const std::string& text) {
    std::string result = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            result += '\\';
            result += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            result += escaped;
        } else {
            result += c;
        }
    }
    return result + "\"";
}

std::string boolText(bool value) {
    return value ? "true" : "false";
}

std::vector<std::string> splitSubCategories(const std::string& text) {
    std::vector<std::string> parts;
    size_t begin = 0;
    while (begin <= text.size() && !text.empty()) {
        const size_t end = std::min(text.find('|', begin), text.size());
        if (end > begin)
            parts.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return parts;
}

void writeFactoryInfo(IPluginFactory& factory, std::ostream& out) {
    PFactoryInfo info{};
    factory.getFactoryInfo(&info);
    out << "  \"Factory Info\": {\n"
        << "    \"Vendor\": " << quoted(fixedText(info.vendor, PFactoryInfo::kNameSize)) << ",\n"
        << "    \"URL\": " << quoted(fixedText(info.url, PFactoryInfo::kURLSize)) << ",\n"
        << "    \"E-Mail\": " << quoted(fixedText(info.email, PFactoryInfo::kEmailSize)) << ",\n"
        << "    \"Flags\": {\n"
        << "      \"Unicode\": " << boolText(info.flags & PFactoryInfo::kUnicode) << ",\n"
        << "      \"Classes Discardable\": "
        << boolText(info.flags & PFactoryInfo::kClassesDiscardable) << ",\n"
        << "      \"Component Non Discardable\": "
        << boolText(info.flags & PFactoryInfo::kComponentNonDiscardable) << "\n"
        << "    }\n"
        << "  },\n";
}

// The editor's pictures at scale 1 and 2, named after the processor's class id.
void writeSnapshots(const std::string& cid, std::ostream& out) {
    const std::string base = kSnapshotFolder + cid + "_snapshot";
    out << ",\n      \"Snapshots\": [\n"
        << "        {\n          \"Scale Factor\": 1,\n          \"Path\": "
        << quoted(base + ".png") << "\n        },\n"
        << "        {\n          \"Scale Factor\": 2,\n          \"Path\": "
        << quoted(base + "_2.0x.png") << "\n        }\n"
        << "      ]";
}

void writeClass(const PClassInfo2& info, const std::string& factoryVendor, std::ostream& out) {
    const std::string cid = ModuleInfo::classIdText(info.cid);
    const std::string category = fixedText(info.category, PClassInfo::kCategorySize);
    std::string vendor = fixedText(info.vendor, PClassInfo2::kVendorSize);
    if (vendor.empty())
        vendor = factoryVendor;
    out << "    {\n"
        << "      \"CID\": " << quoted(cid) << ",\n"
        << "      \"Category\": " << quoted(category) << ",\n"
        << "      \"Name\": " << quoted(fixedText(info.name, PClassInfo::kNameSize)) << ",\n"
        << "      \"Vendor\": " << quoted(vendor) << ",\n"
        << "      \"Version\": " << quoted(fixedText(info.version, PClassInfo2::kVersionSize))
        << ",\n"
        << "      \"SDKVersion\": " << quoted(fixedText(info.sdkVersion, PClassInfo2::kVersionSize))
        << ",\n";
    const auto subCategories =
        splitSubCategories(fixedText(info.subCategories, PClassInfo2::kSubCategoriesSize));
    if (!subCategories.empty()) {
        out << "      \"Sub Categories\": [\n";
        for (size_t i = 0; i < subCategories.size(); ++i)
            out << "        " << quoted(subCategories[i])
                << (i + 1 < subCategories.size() ? ",\n" : "\n");
        out << "      ],\n";
    }
    out << "      \"Class Flags\": " << info.classFlags << ",\n"
        << "      \"Cardinality\": " << info.cardinality;
    if (category == kAudioEffectCategory)
        writeSnapshots(cid, out);
    out << "\n    }";
}

} // namespace

std::string ModuleInfo::classIdText(const TUID cid) {
    char8 text[33] = {};
    FUID::fromTUID(cid).toString(text);
    return std::string(text, 32);
}

void ModuleInfo::write(const PluginModule& module, const std::string& moduleName,
                       std::ostream& out) {
    IPluginFactory* factory = module.factory();
    IPluginFactory2* factory2 = nullptr;
    factory->queryInterface(IPluginFactory2::iid, reinterpret_cast<void**>(&factory2));
    if (factory2 == nullptr)
        throw HostError("the plug-in's factory describes no class versions (IPluginFactory2)");

    std::string version;
    std::vector<PClassInfo2> classes;
    for (int32 i = 0; i < factory2->countClasses(); ++i) {
        PClassInfo2 info{};
        if (factory2->getClassInfo2(i, &info) != kResultOk)
            continue;
        if (version.empty() &&
            fixedText(info.category, PClassInfo::kCategorySize) == kAudioEffectCategory)
            version = fixedText(info.version, PClassInfo2::kVersionSize);
        classes.push_back(info);
    }
    factory2->release();

    out << "{\n"
        << "  \"Name\": " << quoted(moduleName) << ",\n"
        << "  \"Version\": " << quoted(version) << ",\n";
    writeFactoryInfo(*factory, out);
    out << "  \"Classes\": [\n";
    for (size_t i = 0; i < classes.size(); ++i) {
        writeClass(classes[i], module.vendor(), out);
        out << (i + 1 < classes.size() ? ",\n" : "\n");
    }
    out << "  ]\n}\n";
}

} // namespace tav::host
