#include "plugin/PresetLibrary.h"

#include "plugin/TavimoIds.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#ifdef _WIN32
#include <shlobj.h>
#include <windows.h>
#endif

namespace tav::plugin {

namespace fs = std::filesystem;

namespace {

constexpr const char* kExtension = ".vstpreset";

#ifdef _WIN32
fs::path documentsFolder() {
    PWSTR path = nullptr;
    fs::path folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &path)))
        folder = fs::path(path);
    CoTaskMemFree(path);
    return folder;
}
#endif

std::string fileNameOf(const fs::path& file) {
    const auto text = file.stem().u8string();
    return {text.begin(), text.end()};
}

fs::path pathOfUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

bool isReservedOnWindows(std::string stem) {
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    static constexpr std::array<const char*, 4> kDevices{"CON", "PRN", "AUX", "NUL"};
    if (std::find_if(kDevices.begin(), kDevices.end(), [&](const char* d) { return stem == d; }) !=
        kDevices.end())
        return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

} // namespace

std::string safeFileName(const std::string& name) {
    std::string safe;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool forbidden = byte < 0x20 || byte == 0x7F ||
                               std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos;
        safe += forbidden ? '_' : c;
    }
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' '))
        safe.pop_back();
    if (safe.empty() || isReservedOnWindows(safe))
        safe += '_';
    return safe;
}

fs::path PresetLibrary::userFolder() {
#ifdef _WIN32
    const fs::path documents = documentsFolder();
    return documents.empty() ? fs::path() : documents / "VST3 Presets" / kVendor / kProcessorName;
#else
    const char* home = std::getenv("HOME");
    return home == nullptr || *home == 0
               ? fs::path()
               : fs::path(home) / ".vst3" / "presets" / kVendor / kProcessorName;
#endif
}

PresetLibrary::PresetLibrary(fs::path folder) : root(std::move(folder)) {}

std::vector<UserPreset> PresetLibrary::list() const {
    std::vector<UserPreset> presets;
    std::error_code error;
    if (root.empty() || !fs::is_directory(root, error))
        return presets;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        if (!it->is_regular_file(error) || it->path().extension() != kExtension)
            continue;
        // A file that cannot be read is listed under its file name and refused when loaded, so
        // that the user hears why rather than missing it.
        const PresetReading reading = read(it->path());
        presets.push_back(
            {reading.document ? reading.document->name : fileNameOf(it->path()), it->path()});
    }
    std::sort(presets.begin(), presets.end(),
              [](const UserPreset& a, const UserPreset& b) { return a.name < b.name; });
    return presets;
}

fs::path PresetLibrary::fileFor(const std::string& name) const {
    return root / pathOfUtf8(safeFileName(name) + kExtension);
}

PresetFailure PresetLibrary::save(const PresetDocument& document) const {
    if (root.empty())
        return "no folder for your presets: the home folder is unknown";
    std::error_code error;
    fs::create_directories(root, error);
    if (error)
        return "cannot create the preset folder " + root.string() + ": " + error.message();
    const std::vector<char> bytes = encodePreset(document);
    if (bytes.empty())
        return "the preset could not be encoded";
    const fs::path target = fileFor(document.name);
    fs::path temporary = target;
    temporary += ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            fs::remove(temporary, error);
            return "cannot write the preset in " + root.string();
        }
    }
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        return "cannot write the preset in " + root.string();
    }
    return {};
}

PresetFailure PresetLibrary::rename(const UserPreset& preset, const std::string& newName) const {
    PresetReading reading = read(preset.file);
    if (!reading.document)
        return reading.refusal;
    reading.document->name = newName;
    if (PresetFailure failure = save(*reading.document); !failure.empty())
        return failure;
    std::error_code error;
    if (!fs::equivalent(preset.file, fileFor(newName), error))
        fs::remove(preset.file, error);
    return {};
}

PresetFailure PresetLibrary::remove(const UserPreset& preset) const {
    std::error_code error;
    if (!fs::remove(preset.file, error) || error)
        return "cannot delete " + preset.file.string();
    return {};
}

PresetReading PresetLibrary::read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {std::nullopt, "cannot open " + file.string()};
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    return decodePreset(bytes, fileNameOf(file));
}

} // namespace tav::plugin
