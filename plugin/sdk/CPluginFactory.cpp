#include "plugin/sdk/CPluginFactory.h"

#include <cstring>

namespace tav::sdk {

using namespace Steinberg;

CPluginFactory::CPluginFactory(const PFactoryInfo& info) : factoryInfo(info) {
    classes.reserve(4);
}

CPluginFactory::~CPluginFactory() {
    if (hostContext != nullptr)
        hostContext->release();
}

bool CPluginFactory::registerClass(const PClassInfo2& info, CreateFunction create, void* context) {
    if (create == nullptr || isClassRegistered(info.cid))
        return false;
    classes.push_back({info, create, context});
    return true;
}

bool CPluginFactory::isClassRegistered(const TUID cid) const {
    for (const ClassEntry& entry : classes) {
        if (FUnknownPrivate::iidEqual(entry.info.cid, cid))
            return true;
    }
    return false;
}

const CPluginFactory::ClassEntry* CPluginFactory::entryAt(int32 index) const {
    if (index < 0 || index >= static_cast<int32>(classes.size()))
        return nullptr;
    return &classes[static_cast<size_t>(index)];
}

bool CPluginFactory::tryAddRef() {
    uint32 count = refCount.load(std::memory_order_relaxed);
    while (count != 0) {
        if (refCount.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel))
            return true;
    }
    return false;
}

tresult PLUGIN_API CPluginFactory::getFactoryInfo(PFactoryInfo* info) {
    if (info == nullptr)
        return kInvalidArgument;
    std::memcpy(info, &factoryInfo, sizeof(PFactoryInfo));
    return kResultOk;
}

int32 PLUGIN_API CPluginFactory::countClasses() {
    return static_cast<int32>(classes.size());
}

tresult PLUGIN_API CPluginFactory::getClassInfo(int32 index, PClassInfo* info) {
    if (info == nullptr)
        return kInvalidArgument;
    const ClassEntry* entry = entryAt(index);
    if (entry == nullptr)
        return kInvalidArgument;
    *info = PClassInfo();
    std::memcpy(info->cid, entry->info.cid, sizeof(TUID));
    info->cardinality = entry->info.cardinality;
    std::memcpy(info->category, entry->info.category, sizeof(info->category));
    std::memcpy(info->name, entry->info.name, sizeof(info->name));
    return kResultOk;
}

tresult PLUGIN_API CPluginFactory::getClassInfo2(int32 index, PClassInfo2* info) {
    if (info == nullptr)
        return kInvalidArgument;
    const ClassEntry* entry = entryAt(index);
    if (entry == nullptr)
        return kInvalidArgument;
    std::memcpy(info, &entry->info, sizeof(PClassInfo2));
    return kResultOk;
}

tresult PLUGIN_API CPluginFactory::getClassInfoUnicode(int32 index, PClassInfoW* info) {
    if (info == nullptr)
        return kInvalidArgument;
    const ClassEntry* entry = entryAt(index);
    if (entry == nullptr)
        return kInvalidArgument;
    *info = PClassInfoW();
    info->fromAscii(entry->info);
    return kResultOk;
}

tresult PLUGIN_API CPluginFactory::setHostContext(FUnknown* context) {
    if (context != nullptr)
        context->addRef();
    if (hostContext != nullptr)
        hostContext->release();
    hostContext = context;
    return kResultOk;
}

tresult PLUGIN_API CPluginFactory::createInstance(FIDString cid, FIDString iid, void** obj) {
    if (obj == nullptr)
        return kInvalidArgument;
    *obj = nullptr;
    if (cid == nullptr || iid == nullptr)
        return kInvalidArgument;
    for (const ClassEntry& entry : classes) {
        if (!FUnknownPrivate::iidEqual(entry.info.cid, cid))
            continue;
        FUnknown* instance = entry.create(entry.context);
        if (instance == nullptr)
            return kOutOfMemory;
        const tresult result = instance->queryInterface(iid, obj);
        instance->release();
        if (result != kResultOk) {
            *obj = nullptr;
            return kNoInterface;
        }
        return kResultOk;
    }
    return kNoInterface;
}

tresult PLUGIN_API CPluginFactory::queryInterface(const TUID iid, void** obj) {
    if (obj == nullptr)
        return kInvalidArgument;
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) ||
        FUnknownPrivate::iidEqual(iid, IPluginFactory::iid) ||
        FUnknownPrivate::iidEqual(iid, IPluginFactory2::iid) ||
        FUnknownPrivate::iidEqual(iid, IPluginFactory3::iid)) {
        addRef();
        *obj = static_cast<IPluginFactory3*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API CPluginFactory::addRef() {
    return refCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32 PLUGIN_API CPluginFactory::release() {
    const uint32 count = refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0)
        delete this;
    return count;
}

} // namespace tav::sdk
