#include "PluginHost.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tav::test {
namespace {

// A stream that takes at most capacity bytes, as a full disk or a host's fixed chunk would;
// with refuseAll every write reports failure.
class ShortStream : public IBStream {
public:
    explicit ShortStream(int32 capacity, bool refuseAll = false)
        : capacity(capacity), refuseAll(refuseAll) {}
    tresult PLUGIN_API read(void*, int32, int32* numBytesRead) override {
        if (numBytesRead != nullptr)
            *numBytesRead = 0;
        return kResultFalse;
    }
    tresult PLUGIN_API write(void*, int32 numBytes, int32* numBytesWritten) override {
        const int32 taken = refuseAll ? 0 : std::clamp(capacity - used, 0, numBytes);
        used += taken;
        if (numBytesWritten != nullptr)
            *numBytesWritten = refuseAll ? numBytes : taken;
        return refuseAll ? kResultFalse : kResultOk;
    }
    tresult PLUGIN_API seek(int64, int32, int64* result) override {
        if (result != nullptr)
            *result = used;
        return kResultOk;
    }
    tresult PLUGIN_API tell(int64* pos) override {
        if (pos != nullptr)
            *pos = used;
        return kResultOk;
    }
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        QUERY_INTERFACE(iid, obj, FUnknown::iid, IBStream)
        QUERY_INTERFACE(iid, obj, IBStream::iid, IBStream)
        *obj = nullptr;
        return kNoInterface;
    }
    TAVIMO_TEST_NO_REFCOUNT

private:
    int32 capacity;
    bool refuseAll;
    int32 used = 0;
};

TEST(StateWrites, ShortOrFailedWritesAreReportedOnBothSides) {
    PluginInstance plugin;
    ASSERT_TRUE(plugin.ok());
    for (int32 capacity : {0, 4, 51}) {
        ShortStream stream(capacity);
        EXPECT_EQ(plugin.component->getState(&stream), kResultFalse) << capacity;
    }
    // The controller's state: version, theme, edited flag, name length and "Init".
    for (int32 capacity : {0, 4, 19}) {
        ShortStream stream(capacity);
        EXPECT_EQ(plugin.controller->getState(&stream), kResultFalse) << capacity;
    }
    ShortStream refusing(1000, true);
    EXPECT_EQ(plugin.component->getState(&refusing), kResultFalse);
    EXPECT_EQ(plugin.controller->getState(&refusing), kResultFalse);

    ShortStream roomy(52);
    EXPECT_EQ(plugin.component->getState(&roomy), kResultOk);
    ShortStream exact(20);
    EXPECT_EQ(plugin.controller->getState(&exact), kResultOk);
}

} // namespace
} // namespace tav::test
