#include "plugin/IAnalysisSource.h"

namespace tav::plugin {

DEF_CLASS_IID(IAnalysisSource)

} // namespace tav::plugin
