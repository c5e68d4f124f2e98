#pragma once

#include "public.sdk/source/vst/hosting/hostclasses.h"

namespace tav::host {

using namespace Steinberg;

// The host context passed to initialize: the SDK's application object under this host's name.
class HostContext : public Vst::HostApplication {
public:
    // Main thread. Writes "tavimo" into name.
    tresult PLUGIN_API getName(Vst::String128 name) override;
};

} // namespace tav::host
