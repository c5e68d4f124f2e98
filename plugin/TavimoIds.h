#pragma once

#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/vst/vsttypes.h"

// Identities shared by the factory, the processor and the controller. The class IDs are
// fixed forever: hosts store them in projects.
namespace tav::plugin {

inline const Steinberg::FUID kProcessorUID(0xABEDB2EC, 0xC6A941AA, 0xBBB9BB85, 0x00A6E8E3);
inline const Steinberg::FUID kControllerUID(0xDE47A3EE, 0xA45A46CC, 0xA22EAAF8, 0xC50230C8);

inline constexpr const char* kVendor = "Tavimo Audio";
inline constexpr const char* kUrl = "https://tavimo.audio/work/tavimo";
// The online page that shows how to route B to the sidechain in each host.
inline constexpr const char* kSetupPageUrl = "https://tavimo.audio/work/tavimo/#setup";
inline constexpr const char* kVersion = "0.2.2";
inline constexpr const char* kSdkVersion = "VST 3.8.1";
inline constexpr const char* kProcessorName = "Tavimo";
inline constexpr const char* kControllerName = "Tavimo Controller";
inline constexpr const char* kSubCategories = "Fx";

// Parameter ids; every value travels normalized 0..1.
enum ParamId : Steinberg::Vst::ParamID {
    kMorphId = 0,
    kAlgorithmId = 1,
    kMixId = 2,
    kOutputId = 3,
    kBypassId = 4,
    kQualityId = 5,
};
inline constexpr int kParamCount = 6;

// Normalized defaults in id order; Output 2/3 is 0 dB.
inline constexpr double kDefaultValues[kParamCount] = {0.5, 0.0, 1.0, 2.0 / 3.0, 0.0, 0.0};

// The controller-to-processor message telling of a Quality switch.
inline constexpr const char* kQualityMessageId = "TavimoQuality";
inline constexpr const char* kQualityAttribute = "quality";

} // namespace tav::plugin
