#pragma once

// A host's component handler and the processor's side of the connection, as spies: every edit,
// restart request and Quality message the controller sends is kept.

#include "plugin/TavimoController.h"
#include "plugin/TavimoIds.h"
#include "support/NoRefCount.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tav::plugin {

using namespace Steinberg;
using namespace Steinberg::Vst;

struct Edit {
    char kind; // 'b'egin, 'p'erform, 'e'nd
    ParamID id;
    ParamValue value;
};

class HandlerSpy : public IComponentHandler {
public:
    tresult PLUGIN_API beginEdit(ParamID id) override {
        edits.push_back({'b', id, 0.0});
        return kResultOk;
    }
    tresult PLUGIN_API performEdit(ParamID id, ParamValue value) override {
        edits.push_back({'p', id, value});
        return kResultOk;
    }
    tresult PLUGIN_API endEdit(ParamID id) override {
        edits.push_back({'e', id, 0.0});
        return kResultOk;
    }
    tresult PLUGIN_API restartComponent(int32 flags) override {
        restarts.push_back(flags);
        return kResultOk;
    }
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        QUERY_INTERFACE(iid, obj, FUnknown::iid, IComponentHandler)
        QUERY_INTERFACE(iid, obj, IComponentHandler::iid, IComponentHandler)
        *obj = nullptr;
        return kNoInterface;
    }
    TAVIMO_TEST_NO_REFCOUNT

    std::vector<Edit> edits;
    std::vector<int32> restarts;
};

class MessageSpy : public IConnectionPoint {
public:
    tresult PLUGIN_API connect(IConnectionPoint*) override { return kResultOk; }
    tresult PLUGIN_API disconnect(IConnectionPoint*) override { return kResultOk; }
    tresult PLUGIN_API notify(IMessage* message) override {
        if (message != nullptr && std::string(message->getMessageID()) == kQualityMessageId)
            ++qualityMessages;
        return kResultOk;
    }
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        QUERY_INTERFACE(iid, obj, FUnknown::iid, IConnectionPoint)
        QUERY_INTERFACE(iid, obj, IConnectionPoint::iid, IConnectionPoint)
        *obj = nullptr;
        return kNoInterface;
    }
    TAVIMO_TEST_NO_REFCOUNT

    int qualityMessages = 0;
};

// A controller made, initialised and connected as a host does, with the spies on its two sides.
class ControllerHost : public ::testing::Test {
protected:
    void SetUp() override {
        controller = owned(new TavimoController());
        ASSERT_EQ(controller->initialize(&host), kResultOk);
        controller->setComponentHandler(&handler);
        controller->connect(&peer);
    }
    void TearDown() override {
        if (controller) {
            controller->disconnect(&peer);
            controller->terminate();
        }
    }

    HostApplication host;
    HandlerSpy handler;
    MessageSpy peer;
    IPtr<TavimoController> controller;
};

} // namespace tav::plugin
