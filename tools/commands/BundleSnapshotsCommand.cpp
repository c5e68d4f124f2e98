#include "tools/commands/BundleSnapshotsCommand.h"

#include "tools/host/PluginModule.h"
#include "ui/Window.h"
#include "ui/linux/CairoResources.h"
#include "ui/linux/SnapshotRenderer.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace tav::tools {
namespace {

namespace fs = std::filesystem;
using host::HostError;

// The processor's class id as hosts spell it in file names: 32 uppercase hex digits.
std::string processorClassId(const fs::path& bundle) {
    const host::PluginModule module(bundle);
    const Steinberg::FUID uid =
        Steinberg::FUID::fromTUID(module.findClass(kVstAudioEffectClass).cid);
    Steinberg::char8 text[33] = {};
    uid.toString(text);
    return text;
}

void writePicture(ui::CairoResources& resources, float scale, const fs::path& file) {
    ui::Window window;
    ui::SnapshotScene::prepare(window, ui::SnapshotState{});
    const ui::SurfacePtr image = ui::SnapshotRenderer::render(window, resources, scale);
    if (!image || !ui::SnapshotRenderer::writePng(image.get(), file.string()))
        throw HostError("could not write \"" + file.string() + "\"");
}

int run(const fs::path& bundle) {
    const std::string id = processorClassId(bundle);
    const fs::path resourcesFolder = bundle / "Contents" / "Resources";
    std::unique_ptr<ui::CairoResources> resources =
        ui::CairoResources::create(resourcesFolder / "Fonts");
    if (!resources)
        throw HostError("the bundle's fonts are missing from \"" +
                        (resourcesFolder / "Fonts").string() + "\"");
    const fs::path folder = resourcesFolder / "Snapshots";
    fs::create_directories(folder);
    writePicture(*resources, 1.0f, folder / (id + "_snapshot.png"));
    writePicture(*resources, 2.0f, folder / (id + "_snapshot_2.0x.png"));
    return 0;
}

} // namespace

void addBundleSnapshotsCommand(CLI::App& app, std::function<int()>& action) {
    auto bundle = std::make_shared<std::string>();
    auto* command = app.add_subcommand(
        "bundle-snapshots", "Draw the editor pictures hosts show into a bundle's resources");
    command->add_option("BUNDLE", *bundle, "The Tavimo.vst3 bundle")->type_name("PATH")->required();
    command->callback([bundle, &action] { action = [bundle] { return run(*bundle); }; });
}

} // namespace tav::tools
