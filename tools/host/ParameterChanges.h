#pragma once

#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <vector>

namespace tav::host {

using namespace Steinberg;

// One parameter's points for one block. Capacity is fixed when constructed.
class ParamValueQueue : public Vst::IParamValueQueue {
public:
    explicit ParamValueQueue(Vst::ParamID id, int capacity = 16);
    virtual ~ParamValueQueue() = default;

    // Main thread; never allocates once constructed.
    void clear() { count = 0; }

    Vst::ParamID PLUGIN_API getParameterId() override { return paramId; }
    int32 PLUGIN_API getPointCount() override { return count; }
    tresult PLUGIN_API getPoint(int32 index, int32& sampleOffset, Vst::ParamValue& value) override;
    tresult PLUGIN_API addPoint(int32 sampleOffset, Vst::ParamValue value, int32& index) override;

    DECLARE_FUNKNOWN_METHODS

private:
    struct Point {
        int32 offset;
        Vst::ParamValue value;
    };
    Vst::ParamID paramId;
    std::vector<Point> points;
    int32 count = 0;
};

// The parameter changes of one block: one queue per parameter touched in it.
class ParameterChanges : public Vst::IParameterChanges {
public:
    ParameterChanges();
    virtual ~ParameterChanges();

    // Main thread. Empties every queue; the queues themselves are kept for the next block.
    void clear();
    // Main thread. Adds one point for id at offset (a new queue on first use of id).
    void add(Vst::ParamID id, int32 sampleOffset, Vst::ParamValue value);

    int32 PLUGIN_API getParameterCount() override { return used; }
    Vst::IParamValueQueue* PLUGIN_API getParameterData(int32 index) override;
    Vst::IParamValueQueue* PLUGIN_API addParameterData(const Vst::ParamID& id,
                                                       int32& index) override;

    DECLARE_FUNKNOWN_METHODS

private:
    std::vector<ParamValueQueue*> queues;
    int32 used = 0;
};

} // namespace tav::host
