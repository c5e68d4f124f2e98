// tavimo: renders, demonstrates and describes the Tavimo plug-in by loading its built bundle
// through the VST3 interfaces, exactly as a DAW does. Each command is a file of commands/; this
// one sets up the command line and runs the command chosen.
#include "tools/HostError.h"
#include "tools/commands/BundleSnapshotsCommand.h"
#include "tools/commands/DemoCommand.h"
#include "tools/commands/EditorCommand.h"
#include "tools/commands/InfoCommand.h"
#include "tools/commands/ModuleInfoCommand.h"
#include "tools/commands/RenderCommand.h"
#include "tools/commands/SnapshotCommand.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
    interrupted = true;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"tavimo: the Tavimo morph plug-in outside a DAW"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("tavimo ") + TAVIMO_VERSION);
    std::function<int()> action;

    tav::tools::addRenderCommand(app, action, interrupted);
    tav::tools::addDemoCommand(app, action, interrupted);
    tav::tools::addInfoCommand(app, action);
    tav::tools::addModuleInfoCommand(app, action);
#ifdef TAVIMO_HAVE_SNAPSHOT_COMMAND
    tav::tools::addSnapshotCommand(app);
#endif
#ifndef _WIN32
#ifdef TAVIMO_HAVE_SNAPSHOT_COMMAND
    tav::tools::addBundleSnapshotsCommand(app, action);
#endif
    tav::tools::addEditorCommand(app, action, interrupted);
#endif

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "tavimo: error: %s\n", e.what());
        return e.get_exit_code() != 0 ? e.get_exit_code() : 2;
    }

    std::signal(SIGINT, onInterrupt);
    try {
        return action ? action() : 0;
    } catch (const tav::host::HostError& e) {
        std::fprintf(stderr, "tavimo: error: %s\n", e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavimo: error: %s\n", e.what());
    }
    return 1;
}
