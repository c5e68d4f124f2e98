# Contents/Resources/moduleinfo.json, written by the tavimo host from what the built module's
# factory reports. The Windows module's factory data is the same, so its bundle gets the file
# that the native build wrote (when a native build sits beside the Windows one).
if(NOT TARGET tavimo OR NOT TARGET tavimo_vst3)
    return()
endif()

set(_moduleinfo "${TAVIMO_BUNDLE_DIR}/Contents/Resources/moduleinfo.json")
if(WIN32)
    set(TAVIMO_NATIVE_BUILD_DIR "${PROJECT_SOURCE_DIR}/build/debug" CACHE PATH
        "A native build whose tavimo and bundle write the module-info file")
    add_custom_target(tavimo_moduleinfo ALL
        COMMAND ${CMAKE_COMMAND} -DNATIVE_BUILD=${TAVIMO_NATIVE_BUILD_DIR} -DOUTPUT=${_moduleinfo}
                -P "${CMAKE_CURRENT_LIST_DIR}/NativeModuleInfo.cmake"
        DEPENDS tavimo_vst3
        VERBATIM)
else()
    add_custom_command(OUTPUT "${_moduleinfo}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${TAVIMO_BUNDLE_DIR}/Contents/Resources"
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
                $<TARGET_FILE:tavimo> moduleinfo --plugin "${TAVIMO_BUNDLE_DIR}" -o "${_moduleinfo}"
        DEPENDS tavimo tavimo_vst3
        COMMENT "Writing moduleinfo.json from the module's factory"
        VERBATIM)
    add_custom_target(tavimo_moduleinfo ALL DEPENDS "${_moduleinfo}")
endif()
