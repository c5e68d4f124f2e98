#include "plugin/sdk/DataExchangeInterfaces.h"

namespace Steinberg::Vst {

DEF_CLASS_IID(IDataExchangeHandler)
DEF_CLASS_IID(IDataExchangeReceiver)

} // namespace Steinberg::Vst
