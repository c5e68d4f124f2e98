#include "tools/commands/ModuleInfoCommand.h"

#include "tools/commands/PluginPath.h"
#include "tools/host/ModuleInfo.h"
#include "tools/host/PluginModule.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

namespace tav::tools {
namespace {

using host::HostError;
using host::ModuleInfo;

struct ModuleInfoOptions {
    std::string plugin, output;
};

int runModuleInfo(const ModuleInfoOptions& options) {
    const std::filesystem::path bundle = pluginPath(options.plugin);
    const host::PluginModule module(bundle);
    if (options.output.empty()) {
        ModuleInfo::write(module, bundle.stem().string(), std::cout);
        return 0;
    }
    // Written beside the target and renamed, so that no half file is ever read.
    std::filesystem::path temporary = options.output;
    temporary += ".partial";
    {
        std::ofstream file(temporary, std::ios::trunc);
        ModuleInfo::write(module, bundle.stem().string(), file);
        if (!file.flush())
            throw HostError("cannot write \"" + temporary.string() + "\"");
    }
    std::filesystem::rename(temporary, options.output);
    return 0;
}

} // namespace

void addModuleInfoCommand(CLI::App& app, std::function<int()>& action) {
    auto options = std::make_shared<ModuleInfoOptions>();
    auto* moduleInfo = app.add_subcommand(
        "moduleinfo", "Write the bundle's moduleinfo.json from what its factory reports");
    moduleInfo
        ->add_option("--plugin", options->plugin, "Tavimo.vst3 bundle (default: beside tavimo)")
        ->type_name("PATH");
    moduleInfo->add_option("-o,--output", options->output, "File to write (default: print)")
        ->type_name("FILE");
    moduleInfo->callback(
        [options, &action] { action = [options] { return runModuleInfo(*options); }; });
}

} // namespace tav::tools
