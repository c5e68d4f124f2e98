# cmake -DFROM=<folder> -DTO=<folder> -P CopyIfPresent.cmake: copies FROM's files into TO when
# FROM exists, and does nothing otherwise.
if(IS_DIRECTORY "${FROM}")
    file(GLOB _files "${FROM}/*")
    file(MAKE_DIRECTORY "${TO}")
    file(COPY ${_files} DESTINATION "${TO}")
endif()
