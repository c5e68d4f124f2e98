#pragma once

// Module-wide initialisation and termination hooks, run when the host enters the module for
// the first time (InitDll, ModuleEntry) and leaves it for the last time (ExitDll, ModuleExit).
namespace tav::sdk {

using ModuleHook = void (*)();

// Any thread (usually static initialisation); allocates. Lower priorities run first.
void addModuleInitHook(ModuleHook hook, int priority = 0);
void addModuleTerminateHook(ModuleHook hook, int priority = 0);

// Any thread. Counts an entry; the first runs the initialisation hooks. Always true.
bool enterModule();
// Any thread. Counts an exit; the last runs the termination hooks. An exit without a
// matching entry is refused (false) and leaves the count at zero.
bool exitModule();
// Any thread. The number of entries not yet matched by an exit.
int moduleEntryCount();

// Registers a hook during static initialisation.
struct ModuleInitHook {
    explicit ModuleInitHook(ModuleHook hook, int priority = 0) {
        addModuleInitHook(hook, priority);
    }
};
struct ModuleTerminateHook {
    explicit ModuleTerminateHook(ModuleHook hook, int priority = 0) {
        addModuleTerminateHook(hook, priority);
    }
};

} // namespace tav::sdk
