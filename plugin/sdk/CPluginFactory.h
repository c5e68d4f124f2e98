#pragma once

#include "pluginterfaces/base/ipluginbase.h"

#include <atomic>
#include <vector>

namespace tav::sdk {

// The module's plug-in factory: the factory information, the class records in registration
// order and their creation functions. Reference counted; the host owns its references.
class CPluginFactory : public Steinberg::IPluginFactory3 {
public:
    // Makes one instance; returns null when it cannot be allocated. context is the value
    // given at registration.
    using CreateFunction = Steinberg::FUnknown* (*)(void* context);

    // Any thread; allocates. Starts with one reference, owned by the creator.
    explicit CPluginFactory(const Steinberg::PFactoryInfo& info);
    virtual ~CPluginFactory();

    CPluginFactory(const CPluginFactory&) = delete;
    CPluginFactory& operator=(const CPluginFactory&) = delete;

    // Any thread, serialised with the host's use; allocates. False for a null creation
    // function or a class ID that is already registered.
    bool registerClass(const Steinberg::PClassInfo2& info, CreateFunction create,
                       void* context = nullptr);
    // Any thread. Whether the class ID is registered.
    bool isClassRegistered(const Steinberg::TUID cid) const;

    // Any thread. Adds a reference unless the last one is already gone.
    bool tryAddRef();

    // IPluginFactory
    Steinberg::tresult PLUGIN_API getFactoryInfo(Steinberg::PFactoryInfo* info) override;
    Steinberg::int32 PLUGIN_API countClasses() override;
    Steinberg::tresult PLUGIN_API getClassInfo(Steinberg::int32 index,
                                               Steinberg::PClassInfo* info) override;
    Steinberg::tresult PLUGIN_API createInstance(Steinberg::FIDString cid, Steinberg::FIDString iid,
                                                 void** obj) override;
    // IPluginFactory2
    Steinberg::tresult PLUGIN_API getClassInfo2(Steinberg::int32 index,
                                                Steinberg::PClassInfo2* info) override;
    // IPluginFactory3
    Steinberg::tresult PLUGIN_API getClassInfoUnicode(Steinberg::int32 index,
                                                      Steinberg::PClassInfoW* info) override;
    Steinberg::tresult PLUGIN_API setHostContext(Steinberg::FUnknown* context) override;

    // FUnknown
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

private:
    struct ClassEntry {
        Steinberg::PClassInfo2 info;
        CreateFunction create;
        void* context;
    };

    const ClassEntry* entryAt(Steinberg::int32 index) const;

    std::atomic<Steinberg::uint32> refCount{1};
    Steinberg::PFactoryInfo factoryInfo;
    std::vector<ClassEntry> classes;
    Steinberg::FUnknown* hostContext = nullptr;
};

} // namespace tav::sdk
