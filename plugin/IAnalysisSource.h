#pragma once

#include "dsp/AnalysisRecord.h"

#include "pluginterfaces/base/funknown.h"

namespace tav::plugin {

// The controller's hand-over of the newest analysis record to its editor (queried like any
// VST3 interface, so that the editor and tests reach it through the controller object).
class IAnalysisSource : public Steinberg::FUnknown {
public:
    // UI thread; never allocates. Copies the newest record into out and returns true if it
    // arrived since the last call; otherwise false and out is untouched.
    virtual Steinberg::TBool PLUGIN_API takeLatestAnalysis(AnalysisRecord& out) = 0;

    static const Steinberg::FUID iid;
};

DECLARE_CLASS_IID(IAnalysisSource, 0x5F0C2B7A, 0x8E3D4A19, 0x9C61D4E2, 0x37B8A0F5)

} // namespace tav::plugin
