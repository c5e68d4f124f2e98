#include "tools/commands/SnapshotCommand.h"

#include "model/Presets.h"
#include "tools/commands/OptionChecks.h"
#include "tools/host/ParameterOptions.h"

#include "ui/NativeWindowCommon.h"
#include "ui/SnapshotScene.h"
#include "ui/Window.h"
#ifdef _WIN32
#include "ui/win32/GraphicsResources.h"
#include "ui/win32/WicSnapshotRenderer.h"
#include <windows.h>
#else
#include "ui/linux/CairoResources.h"
#include "ui/linux/SnapshotRenderer.h"
#endif

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tav::tools {
namespace {

// The user's presets a snapshot's menu shows beside the factory ones.
constexpr const char* kSampleUserPresets[] = {"Bass Smear", "Late Night Vocal",
                                              "My Favourite Texture"};

namespace fs = std::filesystem;
using ui::ElementId;
using ui::Overlay;

struct SnapshotOptions {
    std::string file;
    std::string fonts;
    float scale = 1.0f;
    int theme = 0;
    float morph = 0.5f;
    int algorithm = 0;
    float mixPercent = 100.0f;
    float outputDb = 0.0f;
    bool bypass = false;
    int quality = 0;
    bool automated = false;
    std::string inputs = "both";
    float levelA = 0.74f;
    float levelB = 0.62f;
    int overlay = 0;
    int hover = 0;
    std::vector<float> hoverAt;
    int focus = 0;
    std::string preset = "Init";
    bool edited = false;
    std::string typed;
    bool typedGiven = false;
    std::string notice;
};

bool holdsFonts(const fs::path& folder) {
    std::error_code error;
    return fs::is_regular_file(folder / ui::kFontFiles[0], error);
}

// The file of the running program; empty when it cannot be found.
fs::path executablePath() {
#ifdef _WIN32
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? fs::path(path) : fs::path();
#else
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : exe;
#endif
}

// The bundle's fonts beside tavimo, else the nearest resources/Fonts above tavimo or the
// current folder (a build tree inside the source tree).
fs::path findFonts(const std::string& given) {
    if (!given.empty())
        return given;
    std::error_code error;
    const fs::path exe = executablePath();
    std::vector<fs::path> starts;
    if (!exe.empty())
        starts.push_back(exe.parent_path());
    starts.push_back(fs::current_path(error));
    if (!starts.empty() && holdsFonts(starts[0] / "Tavimo.vst3/Contents/Resources/Fonts"))
        return starts[0] / "Tavimo.vst3/Contents/Resources/Fonts";
    for (const fs::path& start : starts) {
        for (fs::path at = start; !at.empty(); at = at.parent_path()) {
            if (holdsFonts(at / "resources/Fonts"))
                return at / "resources/Fonts";
            if (at == at.parent_path())
                break;
        }
    }
    return "resources/Fonts";
}

ui::SnapshotState stateFrom(const SnapshotOptions& o) {
    ui::SnapshotState state;
    state.theme = o.theme;
    state.morph = o.morph;
    state.algorithm = o.algorithm;
    state.mix = o.mixPercent / 100.0f;
    state.outputDb = o.outputDb;
    state.bypass = o.bypass;
    state.highQuality = o.quality != 0;
    state.morphAutomated = o.automated;
    state.playingA = o.inputs == "both" || o.inputs == "a";
    state.playingB = o.inputs == "both" || o.inputs == "b";
    state.levelA = o.levelA;
    state.levelB = o.levelB;
    state.overlay = static_cast<Overlay>(o.overlay);
    state.hover = static_cast<ElementId>(o.hover);
    if (o.hoverAt.size() == 2)
        state.hoverAt = ui::Point{o.hoverAt[0], o.hoverAt[1]};
    state.focus = static_cast<ElementId>(o.focus);
    for (const model::FactoryPreset& preset : model::kFactoryPresets)
        state.presets.push_back({preset.name, preset.category});
    for (const char* name : kSampleUserPresets)
        state.presets.push_back({name, ""});
    state.presetName = o.preset;
    state.presetEdited = o.edited;
    for (size_t i = 0; i < state.presets.size(); ++i)
        if (state.presets[i].name == o.preset)
            state.loadedPreset = static_cast<int32_t>(i);
    if (o.typedGiven)
        state.typedName = o.typed;
    state.notice = o.notice;
    return state;
}

[[noreturn]] void fontsMissing(const fs::path& fonts) {
    throw CLI::ParseError(
        "the editor's fonts are missing in " + fonts.string() + " (scripts/setup fetches them)", 1);
}

void runSnapshot(const SnapshotOptions& options) {
    const fs::path fonts = findFonts(options.fonts);
#ifdef _WIN32
    ui::GraphicsResources resources;
    if (!resources.initialise(fonts))
        fontsMissing(fonts);
#else
    const std::unique_ptr<ui::CairoResources> resources = ui::CairoResources::create(fonts);
    if (!resources)
        fontsMissing(fonts);
#endif
    ui::Window window;
    // Show the product's own version, as the editor inside a host does.
    window.setVersionText(TAVIMO_VERSION);
    ui::SnapshotScene::prepare(window, stateFrom(options));
#ifdef _WIN32
    const bool written =
        ui::WicSnapshotRenderer::writePng(window, resources, options.scale, options.file);
#else
    const ui::SurfacePtr image = ui::SnapshotRenderer::render(window, *resources, options.scale);
    const bool written = ui::SnapshotRenderer::writePng(image.get(), options.file);
#endif
    if (!written)
        throw CLI::ParseError("cannot write " + options.file, 1);
    std::printf("%s\n", options.file.c_str());
}

} // namespace

void addSnapshotCommand(CLI::App& app) {
    auto options = std::make_shared<SnapshotOptions>();
    SnapshotOptions& o = *options;
    auto* command = app.add_subcommand("snapshot", "Draw the editor in a chosen state into a PNG");
    command->add_option("-o,--output-file", o.file, "PNG file to write")
        ->type_name("FILE")
        ->required();
    command->add_option("--scale", o.scale, "Pixels per view unit, 0.8 to 2 (1 is 760 x 500)")
        ->type_name("NUMBER")
        ->check(numberFrom(0.8, 2.0, ""))
        ->capture_default_str();
    command
        ->add_option("--fonts", o.fonts, "Fonts folder (default: the bundle's, or resources/Fonts)")
        ->type_name("FOLDER");
    const std::map<std::string, int> themes{{"paper", 0}, {"ink", 1}};
    command->add_option("--theme", o.theme, "Theme: " + inWords(namesOf(themes)))
        ->type_name("NAME")
        ->transform(choiceOf(themes))
        ->default_str("paper");
    const model::ParamInfo& morph = model::param(model::kMorphId);
    const model::ParamInfo& mix = model::param(model::kMixId);
    const model::ParamInfo& gain = model::param(model::kOutputId);
    command->add_option("--morph", o.morph, "Morph, 0 to 1")
        ->type_name("VALUE")
        ->check(numberFrom(morph.minimum, morph.maximum, ""))
        ->capture_default_str();
    const auto algorithms = host::listChoices(model::kAlgorithmId);
    command
        ->add_option("--algorithm", o.algorithm, "Morph algorithm: " + inWords(namesOf(algorithms)))
        ->type_name("NAME")
        ->transform(choiceOf(algorithms))
        ->default_str("transport");
    command->add_option("--mix", o.mixPercent, "Mix, 0 to 100 percent")
        ->type_name("PERCENT")
        ->check(numberFrom(mix.minimum, mix.maximum, "percent"))
        ->capture_default_str();
    command->add_option("--gain", o.outputDb, "Output gain, -24 to 12 dB")
        ->type_name("DB")
        ->check(numberFrom(gain.minimum, gain.maximum, "dB"))
        ->capture_default_str();
    // The gain's former name, kept hidden for old scripts.
    command->add_option("--output", o.outputDb, "Output gain, -24 to 12 dB")
        ->check(numberFrom(gain.minimum, gain.maximum, "dB"))
        ->group("");
    command->add_flag("--bypass", o.bypass, "Bypass on");
    const auto qualities = host::listChoices(model::kQualityId);
    command->add_option("--quality", o.quality, "Quality: " + inWords(namesOf(qualities)))
        ->type_name("NAME")
        ->transform(choiceOf(qualities))
        ->default_str("standard");
    command->add_flag("--automated", o.automated, "The host automates Morph");
    command
        ->add_option("--inputs", o.inputs,
                     "Inputs that play: both, a, b or none (silent ones bring up the status card)")
        ->type_name("WHICH")
        ->check(oneOf({"both", "a", "b", "none"}))
        ->capture_default_str();
    command->add_option("--level-a", o.levelA, "Meter level of A, 0 to 1")
        ->type_name("VALUE")
        ->check(numberFrom(0.0, 1.0, ""));
    command->add_option("--level-b", o.levelB, "Meter level of B, 0 to 1")
        ->type_name("VALUE")
        ->check(numberFrom(0.0, 1.0, ""));
    const std::map<std::string, int> overlays{{"none", 0},  {"menu", 1},    {"settings", 2},
                                              {"about", 3}, {"presets", 4}, {"name", 5}};
    command
        ->add_option("--overlay", o.overlay,
                     "Overlay: " + inWords(namesOf(overlays)) +
                         " (presets: the preset menu; name: the preset pill as the \"Save as\" "
                         "field)")
        ->type_name("NAME")
        ->transform(choiceOf(overlays))
        ->default_str("none");
    command->add_option("--preset", o.preset, "Name on the preset pill")
        ->type_name("NAME")
        ->capture_default_str();
    command->add_flag("--edited", o.edited, "The preset's values were edited (\"*\" on the pill)");
    command->add_option("--typed", o.typed, "With --overlay name: the text typed into the field")
        ->type_name("WORDS")
        ->each([&o](const std::string&) { o.typedGiven = true; });
    command->add_option("--notice", o.notice, "A notice on the status card")->type_name("WORDS");
    const std::map<std::string, int> elements{
        {"none", 0},  {"wordmark", 1},  {"preset", 2}, {"settings", 3}, {"bypass", 4},
        {"morph", 5}, {"algorithm", 6}, {"mix", 7},    {"output", 8},   {"route", 11}};
    command
        ->add_option("--hover", o.hover, "Element under the pointer: " + inWords(namesOf(elements)))
        ->type_name("NAME")
        ->transform(choiceOf(elements));
    command
        ->add_option("--hover-at", o.hoverAt,
                     "Pointer position X Y in view units (the view is 760 x 500)")
        ->type_name("NUMBER")
        ->check(numberFrom(0.0, 760.0, ""))
        ->expected(2);
    std::map<std::string, int> focusable = elements;
    focusable.erase("route");
    command
        ->add_option("--focus", o.focus,
                     "Keyboard focus: " + inWords(namesOf(focusable)) +
                         " (with --overlay, naming its opener opens it by keyboard)")
        ->type_name("NAME")
        ->transform(choiceOf(focusable));
    command->callback([options] { runSnapshot(*options); });
}

} // namespace tav::tools

#ifdef __SANITIZE_ADDRESS__
// Fontconfig, Cairo and Pango keep font patterns and faces in caches for the life of the
// process, some behind offset-encoded pointers the leak checker cannot follow.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libcairo.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\n";
}

extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
#endif
