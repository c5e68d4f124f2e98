# The VST3 SDK, compiled from Debian's installed sources in place (never copied).
# vst3_sdk: what a plug-in needs; vst3_sdk_hosting: the host-side helper classes.
set(VST3_SDK_ROOT "/usr/share/juce/modules/juce_audio_processors/format_types/VST3_SDK"
    CACHE PATH "Root of the VST3 SDK sources")

if(NOT EXISTS "${VST3_SDK_ROOT}/pluginterfaces/base/funknown.h")
    message(FATAL_ERROR "VST3 SDK not found at ${VST3_SDK_ROOT} (Debian package juce-modules-source-data)")
endif()

set(_vst3_sources
    pluginterfaces/base/conststringtable.cpp
    pluginterfaces/base/coreiids.cpp
    pluginterfaces/base/funknown.cpp
    pluginterfaces/base/ustring.cpp
    base/source/baseiids.cpp
    base/source/fbuffer.cpp
    base/source/fdebug.cpp
    base/source/fobject.cpp
    base/source/fstreamer.cpp
    base/source/fstring.cpp
    base/source/updatehandler.cpp
    base/thread/source/flock.cpp
    public.sdk/source/common/memorystream.cpp
    public.sdk/source/common/pluginview.cpp
    public.sdk/source/vst/vstbus.cpp
    public.sdk/source/vst/vstcomponent.cpp
    public.sdk/source/vst/vstcomponentbase.cpp
    public.sdk/source/vst/vsteditcontroller.cpp
    public.sdk/source/vst/vstinitiids.cpp
    public.sdk/source/vst/vstparameters.cpp
    public.sdk/source/vst/vstpresetfile.cpp)
list(TRANSFORM _vst3_sources PREPEND "${VST3_SDK_ROOT}/")

set(_vst3_hosting_sources
    public.sdk/source/vst/hosting/hostclasses.cpp
    public.sdk/source/vst/hosting/pluginterfacesupport.cpp)
list(TRANSFORM _vst3_hosting_sources PREPEND "${VST3_SDK_ROOT}/")

# The SDK is not ours: its warnings are silenced, and its headers come in as system
# headers so that they do not raise warnings in our own files either.
function(_vst3_sdk_configure target)
    target_include_directories(${target} SYSTEM PUBLIC "${VST3_SDK_ROOT}")
    target_compile_definitions(${target} PUBLIC $<IF:$<CONFIG:Debug>,DEVELOPMENT=1,RELEASE=1>)
    target_compile_options(${target} PRIVATE -w)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# The installed SDK declares the view interfaces' IDs but defines them nowhere.
add_library(vst3_sdk STATIC ${_vst3_sources}
    "${CMAKE_CURRENT_LIST_DIR}/../plugin/sdk/GuiInterfaceIds.cpp")
_vst3_sdk_configure(vst3_sdk)
if(NOT WIN32)
    find_package(Threads REQUIRED)
    target_link_libraries(vst3_sdk PUBLIC Threads::Threads)
endif()

add_library(vst3_sdk_hosting STATIC ${_vst3_hosting_sources})
_vst3_sdk_configure(vst3_sdk_hosting)
target_link_libraries(vst3_sdk_hosting PUBLIC vst3_sdk)
