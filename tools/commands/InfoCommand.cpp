#include "tools/commands/InfoCommand.h"

#include "tools/commands/PluginPath.h"
#include "tools/host/PluginInfo.h"
#include "tools/host/PluginModule.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>

namespace tav::tools {

void addInfoCommand(CLI::App& app, std::function<int()>& action) {
    auto plugin = std::make_shared<std::string>();
    auto* info = app.add_subcommand("info", "Describe the plug-in's classes, parameters, buses");
    info->add_option("--plugin", *plugin, "Tavimo.vst3 bundle (default: beside tavimo)")
        ->type_name("PATH");
    info->callback([plugin, &action] {
        action = [plugin] {
            const host::PluginModule module(pluginPath(*plugin));
            host::PluginInfo::print(module, std::cout);
            return 0;
        };
    });
}

} // namespace tav::tools
