# Run as a script: writes OUTPUT with the native build's tavimo from its own bundle.
set(_tavimo "${NATIVE_BUILD}/tavimo")
if(NOT EXISTS "${_tavimo}" OR NOT EXISTS "${NATIVE_BUILD}/Tavimo.vst3")
    message(WARNING "No native build in ${NATIVE_BUILD}: the bundle gets no moduleinfo.json")
    return()
endif()
get_filename_component(_folder "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${_folder}")
execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env ASAN_OPTIONS=detect_leaks=0
            "${_tavimo}" moduleinfo --plugin "${NATIVE_BUILD}/Tavimo.vst3" -o "${OUTPUT}"
    RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
    message(FATAL_ERROR "Writing ${OUTPUT} failed")
endif()
