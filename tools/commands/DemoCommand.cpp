#include "tools/commands/DemoCommand.h"

#include "tools/commands/PluginPath.h"
#include "tools/demo/Demo.h"
#include "tools/host/PluginModule.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace tav::tools {
namespace {

struct DemoOptions {
    std::string folder = "demo", plugin;
};

int runDemo(const DemoOptions& options, const std::atomic<bool>& interrupted) {
    const host::PluginModule module(pluginPath(options.plugin));
    host::Demo::run(module, options.folder, std::cout, &interrupted);
    std::cout << "Demo files are in " << std::filesystem::absolute(options.folder).string() << "\n";
    return 0;
}

} // namespace

void addDemoCommand(CLI::App& app, std::function<int()>& action,
                    const std::atomic<bool>& interrupted) {
    auto options = std::make_shared<DemoOptions>();
    auto* demo = app.add_subcommand("demo", "Render built-in inputs with every algorithm");
    demo->add_option("DIR", options->folder, "Folder for the files")
        ->type_name("FOLDER")
        ->capture_default_str();
    demo->add_option("--plugin", options->plugin, "Tavimo.vst3 bundle (default: beside tavimo)")
        ->type_name("PATH");
    demo->callback([options, &action, &interrupted] {
        action = [options, &interrupted] { return runDemo(*options, interrupted); };
    });
}

} // namespace tav::tools
