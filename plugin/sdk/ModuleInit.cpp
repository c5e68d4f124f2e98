#include "plugin/sdk/ModuleInit.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tav::sdk {

namespace {

struct Hook {
    ModuleHook function;
    int priority;
};

struct Registry {
    std::mutex lock;
    std::vector<Hook> initHooks;
    std::vector<Hook> terminateHooks;
    int32_t entries = 0;
};

// Built on first use, so hooks registered during static initialisation find it.
Registry& registry() {
    static Registry instance;
    return instance;
}

void addSorted(std::vector<Hook>& hooks, ModuleHook hook, int priority) {
    const auto at = std::upper_bound(hooks.begin(), hooks.end(), priority,
                                     [](int p, const Hook& h) { return p < h.priority; });
    hooks.insert(at, Hook{hook, priority});
}

void runHooks(const std::vector<Hook>& hooks) {
    for (const Hook& hook : hooks)
        hook.function();
}

} // namespace

void addModuleInitHook(ModuleHook hook, int priority) {
    if (hook == nullptr)
        return;
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    addSorted(r.initHooks, hook, priority);
}

void addModuleTerminateHook(ModuleHook hook, int priority) {
    if (hook == nullptr)
        return;
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    addSorted(r.terminateHooks, hook, priority);
}

bool enterModule() {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    if (++r.entries == 1)
        runHooks(r.initHooks);
    return true;
}

bool exitModule() {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    if (r.entries <= 0)
        return false;
    if (--r.entries == 0)
        runHooks(r.terminateHooks);
    return true;
}

int moduleEntryCount() {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    return r.entries;
}

} // namespace tav::sdk
