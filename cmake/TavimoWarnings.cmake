# Warnings and sanitizers shared by every target of the project.
function(tavimo_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

if(TAVIMO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
