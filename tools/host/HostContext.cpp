#include "tools/host/HostContext.h"

namespace tav::host {

tresult PLUGIN_API HostContext::getName(Vst::String128 name) {
    const char* text = "tavimo";
    int i = 0;
    for (; text[i] != 0; ++i)
        name[i] = static_cast<Vst::TChar>(text[i]);
    name[i] = 0;
    return kResultOk;
}

} // namespace tav::host
