# Applies the project's warning and sanitizer flags to one of its own targets,
# so that a parent build pulling Lumetra in keeps its own flags untouched.
function(lumetra_target_options target)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
        if(LUMETRA_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
        if(LUMETRA_SANITIZE)
            target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                                   -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
            target_link_options(${target} PRIVATE -fsanitize=address,undefined)
        endif()
    elseif(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${LUMETRA_WARNINGS_AS_ERRORS}>:/WX>)
    endif()
endfunction()
