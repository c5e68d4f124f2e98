// Interface IDs of the view interfaces, which the installed SDK declares but defines nowhere.
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"

namespace Steinberg {

DEF_CLASS_IID(IPlugView)
DEF_CLASS_IID(IPlugFrame)
DEF_CLASS_IID(IPlugViewContentScaleSupport)

} // namespace Steinberg

#if SMTG_OS_LINUX
namespace Steinberg::Linux {

DEF_CLASS_IID(IEventHandler)
DEF_CLASS_IID(ITimerHandler)
DEF_CLASS_IID(IRunLoop)

} // namespace Steinberg::Linux
#endif
