#include "tools/host/ParameterChanges.h"

namespace tav::host {

ParamValueQueue::ParamValueQueue(Vst::ParamID id, int capacity)
    : paramId(id), points(static_cast<size_t>(capacity)){FUNKNOWN_CTOR}

      IMPLEMENT_FUNKNOWN_METHODS(ParamValueQueue, Vst::IParamValueQueue, Vst::IParamValueQueue::iid)

          tresult PLUGIN_API ParamValueQueue::getPoint(int32 index, int32 & sampleOffset,
                                                       Vst::ParamValue & value) {
    if (index < 0 || index >= count)
        return kResultFalse;
    sampleOffset = points[static_cast<size_t>(index)].offset;
    value = points[static_cast<size_t>(index)].value;
    return kResultOk;
}

tresult PLUGIN_API ParamValueQueue::addPoint(int32 sampleOffset, Vst::ParamValue value,
                                             int32& index) {
    // Points arrive in time order; a second point at the same offset replaces the first.
    if (count > 0 && points[static_cast<size_t>(count - 1)].offset == sampleOffset) {
        points[static_cast<size_t>(count - 1)].value = value;
        index = count - 1;
        return kResultOk;
    }
    if (count >= static_cast<int32>(points.size()))
        return kResultFalse;
    points[static_cast<size_t>(count)] = {sampleOffset, value};
    index = count++;
    return kResultOk;
}

ParameterChanges::ParameterChanges(){FUNKNOWN_CTOR}

ParameterChanges::~ParameterChanges() {
    for (auto* queue : queues)
        queue->release();
}

IMPLEMENT_FUNKNOWN_METHODS(ParameterChanges, Vst::IParameterChanges, Vst::IParameterChanges::iid)

void ParameterChanges::clear() {
    for (auto* queue : queues)
        queue->clear();
    used = 0;
}

void ParameterChanges::add(Vst::ParamID id, int32 sampleOffset, Vst::ParamValue value) {
    int32 index = 0;
    if (auto* queue = addParameterData(id, index))
        queue->addPoint(sampleOffset, value, index);
}

Vst::IParamValueQueue* PLUGIN_API ParameterChanges::getParameterData(int32 index) {
    if (index < 0 || index >= used)
        return nullptr;
    return queues[static_cast<size_t>(index)];
}

Vst::IParamValueQueue* PLUGIN_API ParameterChanges::addParameterData(const Vst::ParamID& id,
                                                                     int32& index) {
    for (int32 i = 0; i < used; ++i) {
        if (queues[static_cast<size_t>(i)]->getParameterId() == id) {
            index = i;
            return queues[static_cast<size_t>(i)];
        }
    }
    // Reuse a queue of an earlier block when one with this id is parked past `used`.
    for (size_t i = static_cast<size_t>(used); i < queues.size(); ++i) {
        if (queues[i]->getParameterId() == id) {
            std::swap(queues[i], queues[static_cast<size_t>(used)]);
            queues[static_cast<size_t>(used)]->clear();
            index = used++;
            return queues[static_cast<size_t>(index)];
        }
    }
    queues.push_back(new ParamValueQueue(id));
    std::swap(queues.back(), queues[static_cast<size_t>(used)]);
    index = used++;
    return queues[static_cast<size_t>(index)];
}

} // namespace tav::host
