// tavimo: renders, demonstrates and describes the Tavimo plug-in by loading its built bundle
// through the VST3 interfaces, exactly as a DAW does. Each command is a file of commands/; this
// one sets up the command line and runs the command chosen.
#include "tools/HostError.h"
#include "tools/commands/BundleSnapshotsCommand.h"
#include "tools/commands/DemoCommand.h"
#include "tools/commands/DevicesCommand.h"
#include "tools/commands/EditorCommand.h"
#include "tools/commands/InfoCommand.h"
#include "tools/commands/ModuleInfoCommand.h"
#include "tools/commands/PlayCommand.h"
#include "tools/commands/PresetsCommand.h"
#include "tools/commands/RenderCommand.h"
#include "tools/commands/SnapshotCommand.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace {

// Exit statuses, as --help states them.
constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;

constexpr const char* kExitStatusText =
    "Exit status: 0 on success, 2 for a usage error (an unknown command or option, a value out "
    "of range), 1 for any other failure.";

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
    interrupted = true;
}

std::string commandNames(const CLI::App& app) {
    std::string names;
    for (const CLI::App* command : app.get_subcommands({}))
        names += (names.empty() ? "" : ", ") + command->get_name();
    return names;
}

// A first word that names no command is answered before parsing, naming the word: the parser
// would only say that a command is required.
bool namesACommand(const CLI::App& app, const std::string& word) {
    for (const CLI::App* command : app.get_subcommands({}))
        if (command->check_name(word))
            return true;
    return false;
}

// `tavimo help [COMMAND]`: the help of the tool or of one command.
void addHelpCommand(CLI::App& app, std::function<int()>& action) {
    auto topic = std::make_shared<std::string>();
    CLI::App* help = app.add_subcommand("help", "Show this help, or a command's");
    help->add_option("COMMAND", *topic, "The command to explain")->type_name("NAME");
    help->callback([&app, &action, topic] {
        action = [&app, topic] {
            if (topic->empty()) {
                std::fputs(app.help().c_str(), stdout);
                return kSuccess;
            }
            for (CLI::App* command : app.get_subcommands({}))
                if (command->check_name(*topic)) {
                    std::fputs(command->help().c_str(), stdout);
                    return kSuccess;
                }
            std::fprintf(stderr, "tavimo: error: unknown command \"%s\"; the commands are %s\n",
                         topic->c_str(), commandNames(app).c_str());
            return kUsageError;
        };
    });
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"tavimo: the Tavimo morph plug-in outside a DAW"};
    app.require_subcommand(1);
    app.footer(kExitStatusText);
    app.set_version_flag("--version", std::string("tavimo ") + TAVIMO_VERSION);
    std::function<int()> action;

    tav::tools::addRenderCommand(app, action, interrupted);
    tav::tools::addDemoCommand(app, action, interrupted);
    tav::tools::addInfoCommand(app, action);
    tav::tools::addModuleInfoCommand(app, action);
    tav::tools::addPresetsCommand(app, action);
#ifdef TAVIMO_HAVE_SNAPSHOT_COMMAND
    tav::tools::addSnapshotCommand(app);
#endif
#ifndef _WIN32
#ifdef TAVIMO_HAVE_SNAPSHOT_COMMAND
    tav::tools::addBundleSnapshotsCommand(app, action);
#endif
    tav::tools::addEditorCommand(app, action, interrupted);
#endif
#ifdef TAVIMO_HAVE_LIVE_AUDIO
    tav::tools::addPlayCommand(app, action, interrupted);
    tav::tools::addDevicesCommand(app, action);
#else
    app.footer(std::string(kExitStatusText) +
               "\nThis build has no live audio (tavimo play, tavimo devices and the editor's "
               "sound are in the Linux build only).");
#endif

    addHelpCommand(app, action);

    if (argc > 1 && argv[1][0] != '-' && !namesACommand(app, argv[1])) {
        std::fprintf(stderr, "tavimo: error: unknown command \"%s\"; the commands are %s\n",
                     argv[1], commandNames(app).c_str());
        return kUsageError;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ArgumentMismatch& e) {
        // The parser's own words name its value types and counts; say what is missing instead.
        const std::string text = e.what();
        std::fprintf(stderr, "tavimo: error: %s: a value is missing\n",
                     text.substr(0, text.find(':')).c_str());
        return kUsageError;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "tavimo: error: %s\n", e.what());
        return kUsageError;
    }

    std::signal(SIGINT, onInterrupt);
    try {
        return action ? action() : 0;
    } catch (const tav::host::HostError& e) {
        std::fprintf(stderr, "tavimo: error: %s\n", e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavimo: error: %s\n", e.what());
    }
    return kFailure;
}
