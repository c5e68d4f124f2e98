#pragma once

// Test doubles of VST3 interfaces live on the stack or in a fixture; their reference counts are
// ignored.
#define TAVIMO_TEST_NO_REFCOUNT                                                                    \
    Steinberg::uint32 PLUGIN_API addRef() override {                                               \
        return 1000;                                                                               \
    }                                                                                              \
    Steinberg::uint32 PLUGIN_API release() override {                                              \
        return 1000;                                                                               \
    }
