#include "tools/host/PluginInfo.h"

#include "tools/host/PluginInstance.h"

#include <cstdio>
#include <iomanip>
#include <string>

namespace tav::host {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

std::string narrow(const TChar* text) {
    std::string result;
    for (int i = 0; i < 128 && text[i] != 0; ++i)
        result += text[i] < 128 ? static_cast<char>(text[i]) : '?';
    return result;
}

std::string uidText(const TUID id) {
    std::string text;
    char digits[3];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(id[i]));
        text += digits;
    }
    return text;
}

std::string displayString(IEditController* controller, ParamID id, double value) {
    String128 text{};
    if (controller->getParamStringByValue(id, value, text) != kResultOk)
        return "?";
    return narrow(text);
}

std::string flagText(int32 flags) {
    std::string text;
    auto add = [&](int32 bit, const char* name) {
        if (flags & bit)
            text += text.empty() ? name : std::string(", ") + name;
    };
    add(ParameterInfo::kCanAutomate, "automatable");
    add(ParameterInfo::kIsReadOnly, "read-only");
    add(ParameterInfo::kIsList, "list");
    add(ParameterInfo::kIsBypass, "bypass");
    add(ParameterInfo::kIsHidden, "hidden");
    return text.empty() ? "none" : text;
}

void printClasses(const PluginModule& module, std::ostream& out) {
    out << "Module: " << module.libraryPath().string() << "\n";
    out << "  vendor \"" << module.vendor() << "\", url \"" << module.url() << "\"\n";
    out << "Classes:\n";
    for (const auto& entry : module.classes()) {
        out << "  \"" << entry.name << "\"  " << entry.category;
        if (!entry.subCategories.empty())
            out << " / " << entry.subCategories;
        out << "\n    id " << uidText(entry.cid) << ", version " << entry.version << ", "
            << entry.sdkVersion << ", flags " << entry.classFlags << "\n";
    }
}

void printParameters(IEditController* controller, std::ostream& out) {
    const int32 count = controller->getParameterCount();
    out << "Parameters (" << count << "):\n";
    for (int32 i = 0; i < count; ++i) {
        ParameterInfo info{};
        if (controller->getParameterInfo(i, info) != kResultOk)
            continue;
        const std::string units = narrow(info.units);
        out << "  " << info.id << " \"" << narrow(info.title) << "\"";
        if (!units.empty())
            out << " [" << units << "]";
        out << "  default " << displayString(controller, info.id, info.defaultNormalizedValue)
            << " (normalized " << info.defaultNormalizedValue << ")";
        out << ", steps " << info.stepCount << ", " << flagText(info.flags) << "\n";
        out << "    ";
        if (info.stepCount > 0) {
            for (int32 step = 0; step <= info.stepCount; ++step)
                out << (step ? ", " : "values: ")
                    << displayString(controller, info.id, double(step) / info.stepCount);
        } else {
            out << "0 -> " << displayString(controller, info.id, 0.0) << ", 0.5 -> "
                << displayString(controller, info.id, 0.5) << ", 1 -> "
                << displayString(controller, info.id, 1.0);
        }
        out << "\n";
    }
}

void printBuses(IComponent* component, std::ostream& out) {
    out << "Buses:\n";
    for (BusDirection direction : {kInput, kOutput}) {
        const int32 count = component->getBusCount(kAudio, direction);
        for (int32 i = 0; i < count; ++i) {
            BusInfo info{};
            if (component->getBusInfo(kAudio, direction, i, info) != kResultOk)
                continue;
            out << "  " << (direction == kInput ? "input " : "output ") << i << " \""
                << narrow(info.name) << "\"  " << (info.busType == kMain ? "main" : "aux") << ", "
                << info.channelCount << " channels by default, "
                << ((info.flags & BusInfo::kDefaultActive) ? "active" : "inactive until routed")
                << "\n";
        }
    }
}

void printLatencies(const PluginModule& module, std::ostream& out) {
    PluginInstance instance(module);
    out << "Latency (samples / ms):\n";
    out << "  rate        Standard           High\n";
    for (double rate : {44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0}) {
        out << "  " << std::setw(6) << static_cast<int>(rate) << " Hz";
        for (int quality = 0; quality < 2; ++quality) {
            ParameterSet values;
            values.quality = quality;
            instance.restoreParameters(values);
            ProcessingSetup setup;
            setup.sampleRate = rate;
            instance.setupProcessing(setup);
            const int samples = instance.latencySamples();
            char text[48];
            std::snprintf(text, sizeof text, "  %6d / %6.2f", samples, samples * 1000.0 / rate);
            out << text;
        }
        out << "\n";
    }
}

} // namespace

void PluginInfo::print(const PluginModule& module, std::ostream& out) {
    printClasses(module, out);
    PluginInstance instance(module);
    printParameters(instance.controller(), out);
    printBuses(instance.component(), out);
    printLatencies(module, out);
}

} // namespace tav::host
