#pragma once

// The data-exchange interfaces, which the installed SDK does not carry yet. A host that
// offers IDataExchangeHandler on its context carries blocks from the audio thread to the
// edit controller's IDataExchangeReceiver on its own.

// An SDK that carries them declares them itself; then its declarations are used and these
// stand aside (their IIDs, too, are then the SDK's to define).
#if __has_include("pluginterfaces/vst/ivstdataexchange.h")
#define TAVIMO_SDK_HAS_DATA_EXCHANGE 1
#include "pluginterfaces/vst/ivstdataexchange.h"
#else
#define TAVIMO_SDK_HAS_DATA_EXCHANGE 0

#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/vsttypes.h"

namespace Steinberg::Vst {

using DataExchangeQueueID = uint32;
using DataExchangeBlockID = uint32;
using DataExchangeUserContextID = uint32;

inline constexpr DataExchangeQueueID InvalidDataExchangeQueueID = kMaxInt32;
inline constexpr DataExchangeBlockID InvalidDataExchangeBlockID = kMaxInt32;

#include "pluginterfaces/base/falignpush.h"
struct DataExchangeBlock {
    void* data;
    uint32 size;
    DataExchangeBlockID blockID;
};
#include "pluginterfaces/base/falignpop.h"

// Host side: the queue between an audio processor and its controller.
class IDataExchangeHandler : public FUnknown {
public:
    virtual tresult PLUGIN_API openQueue(IAudioProcessor* processor, uint32 blockSize,
                                         uint32 numBlocks, uint32 alignment,
                                         DataExchangeUserContextID userContextID,
                                         DataExchangeQueueID* outID) = 0;
    virtual tresult PLUGIN_API closeQueue(DataExchangeQueueID queueID) = 0;
    virtual tresult PLUGIN_API lockBlock(DataExchangeQueueID queueId, DataExchangeBlock* block) = 0;
    virtual tresult PLUGIN_API freeBlock(DataExchangeQueueID queueId, DataExchangeBlockID blockID,
                                         TBool sendToController) = 0;

    static const FUID iid;
};

DECLARE_CLASS_IID(IDataExchangeHandler, 0x36D551BD, 0x6FF54F08, 0xB48E830D, 0x8BD5A03B)

// Controller side: receives the blocks the processor sent.
class IDataExchangeReceiver : public FUnknown {
public:
    virtual void PLUGIN_API queueOpened(DataExchangeUserContextID userContextID, uint32 blockSize,
                                        TBool& dispatchOnBackgroundThread) = 0;
    virtual void PLUGIN_API queueClosed(DataExchangeUserContextID userContextID) = 0;
    virtual void PLUGIN_API onDataExchangeBlocksReceived(DataExchangeUserContextID userContextID,
                                                         uint32 numBlocks,
                                                         DataExchangeBlock* blocks,
                                                         TBool onBackgroundThread) = 0;

    static const FUID iid;
};

DECLARE_CLASS_IID(IDataExchangeReceiver, 0x45A759DC, 0x84FA4907, 0xABCB6175, 0x2FC786B6)

} // namespace Steinberg::Vst

#endif
