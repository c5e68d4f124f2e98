#include "plugin/sdk/DataExchangeInterfaces.h"

#if !TAVIMO_SDK_HAS_DATA_EXCHANGE
namespace Steinberg::Vst {

DEF_CLASS_IID(IDataExchangeHandler)
DEF_CLASS_IID(IDataExchangeReceiver)

} // namespace Steinberg::Vst
#endif
