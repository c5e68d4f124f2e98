#pragma once

#include "model/Parameters.h"
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

// The parameter table's ids, under the names the shell uses; every value travels normalized.
using model::kAlgorithmId;
using model::kBypassId;
using model::kDefaultValues;
using model::kMixId;
using model::kMorphId;
using model::kOutputId;
using model::kParamCount;
using model::kQualityId;
using model::ParamId;

// The controller-to-processor message telling of a Quality switch.
inline constexpr const char* kQualityMessageId = "TavimoQuality";
inline constexpr const char* kQualityAttribute = "quality";

} // namespace tav::plugin
