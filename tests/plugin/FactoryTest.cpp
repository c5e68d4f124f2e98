#include "PluginHost.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>

namespace tav::test {
namespace {

TEST(Factory, RegistersProcessorThenControllerWithTheirRecords) {
    Module module;
    ASSERT_TRUE(module.loaded()) << dlerror();
    auto factory = owned(module.getFactory());
    ASSERT_TRUE(factory);

    PFactoryInfo info;
    ASSERT_EQ(factory->getFactoryInfo(&info), kResultOk);
    EXPECT_EQ(info.flags, PFactoryInfo::kUnicode);
    EXPECT_STREQ(info.email, "");
    EXPECT_NE(std::strstr(info.url, "/work/tavimo"), nullptr);
    EXPECT_GT(std::strlen(info.vendor), 0u);

    ASSERT_EQ(factory->countClasses(), 2);
    FUnknownPtr<IPluginFactory2> factory2(factory);
    ASSERT_TRUE(factory2);
    PClassInfo2 processor, controller;
    ASSERT_EQ(factory2->getClassInfo2(0, &processor), kResultOk);
    ASSERT_EQ(factory2->getClassInfo2(1, &controller), kResultOk);
    EXPECT_NE(factory2->getClassInfo2(2, &controller), kResultOk);

    EXPECT_STREQ(processor.category, "Audio Module Class");
    EXPECT_STREQ(processor.name, "Tavimo");
    EXPECT_EQ(processor.classFlags, 1u); // kDistributable
    EXPECT_STREQ(processor.subCategories, "Fx");
    EXPECT_EQ(processor.cardinality, 0x7FFFFFFF);
    EXPECT_STREQ(processor.version, "0.2.2");
    EXPECT_STREQ(processor.sdkVersion, "VST 3.8.1");
    EXPECT_STREQ(processor.vendor, "");

    EXPECT_STREQ(controller.category, "Component Controller Class");
    EXPECT_STREQ(controller.name, "Tavimo Controller");
    EXPECT_EQ(controller.classFlags, 0u);
    EXPECT_STREQ(controller.subCategories, "");
    EXPECT_EQ(controller.cardinality, 0x7FFFFFFF);
    EXPECT_STREQ(controller.version, "0.2.2");
    EXPECT_NE(std::memcmp(processor.cid, controller.cid, sizeof(TUID)), 0);

    FUnknownPtr<IPluginFactory3> factory3(factory);
    ASSERT_TRUE(factory3);
    PClassInfoW wide;
    ASSERT_EQ(factory3->getClassInfoUnicode(1, &wide), kResultOk);
    EXPECT_EQ(wide.name[0], u'T');
    EXPECT_EQ(std::memcmp(wide.cid, controller.cid, sizeof(TUID)), 0);
}

TEST(Factory, IsTheSameObjectOnEveryCallAndCountsReferences) {
    Module module;
    ASSERT_TRUE(module.loaded());
    IPluginFactory* first = module.getFactory();
    IPluginFactory* second = module.getFactory();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    // Two references handed out; one more makes three.
    EXPECT_EQ(first->addRef(), 3u);
    EXPECT_EQ(first->release(), 2u);
    EXPECT_EQ(second->release(), 1u);
    EXPECT_EQ(first->release(), 0u);
    // After the last release a new factory serves the next caller.
    auto again = owned(module.getFactory());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->countClasses(), 2);
}

TEST(Factory, CreatesInstancesOnlyForItsClassesAndInterfaces) {
    Module module;
    auto factory = owned(module.getFactory());
    ASSERT_TRUE(factory);
    PClassInfo info;
    ASSERT_EQ(factory->getClassInfo(0, &info), kResultOk);
    void* object = nullptr;
    ASSERT_EQ(factory->createInstance(info.cid, IAudioProcessor::iid, &object), kResultOk);
    ASSERT_NE(object, nullptr);
    static_cast<IAudioProcessor*>(object)->release();

    EXPECT_NE(factory->createInstance(info.cid, IEditController::iid, &object), kResultOk);
    EXPECT_EQ(object, nullptr);
    const TUID unknown = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_NE(factory->createInstance(unknown, IAudioProcessor::iid, &object), kResultOk);
    EXPECT_EQ(factory->createInstance(nullptr, IAudioProcessor::iid, &object), kInvalidArgument);
}

TEST(Factory, NewProcessorNamesTheControllerClass) {
    Module module;
    auto factory = owned(module.getFactory());
    ASSERT_TRUE(factory);
    PClassInfo processorInfo, controllerInfo;
    factory->getClassInfo(0, &processorInfo);
    factory->getClassInfo(1, &controllerInfo);
    void* object = nullptr;
    ASSERT_EQ(factory->createInstance(processorInfo.cid, IComponent::iid, &object), kResultOk);
    auto component = owned(static_cast<IComponent*>(object));
    TUID controllerId;
    ASSERT_EQ(component->getControllerClassId(controllerId), kResultOk);
    EXPECT_EQ(std::memcmp(controllerId, controllerInfo.cid, sizeof(TUID)), 0);
}

TEST(ModuleEntry, CountsEntriesAndRefusesAnUnmatchedExit) {
    Module module; // entered once by the loader
    ASSERT_TRUE(module.loaded());
    EXPECT_TRUE(module.entry(module.handle));
    EXPECT_TRUE(module.exit());
    EXPECT_TRUE(module.exit());               // the loader's entry
    EXPECT_FALSE(module.exit());              // nothing left to leave
    EXPECT_TRUE(module.entry(module.handle)); // balanced again for the loader's exit
}

TEST(ModuleEntry, ExportsOnlyTheEntryPoints) {
    Module module;
    ASSERT_TRUE(module.loaded());
    EXPECT_NE(module.getFactory, nullptr);
    EXPECT_NE(module.entry, nullptr);
    EXPECT_NE(module.exit, nullptr);
    EXPECT_EQ(dlsym(module.handle, "InitDll"), nullptr);
    EXPECT_EQ(dlsym(module.handle,
                    "_ZN3tav6plugin15TavimoProcessor7processERN9Steinberg3Vst11ProcessDataE"),
              nullptr);
}

} // namespace
} // namespace tav::test
