# Warnings for our own code: every target built from this project's folders
# links project_warnings. Qt's headers come in as system headers, so they
# stay quiet and VANTREL_WERROR (on in CMakePresets.json) fails the build on
# our warnings alone.
option(VANTREL_WERROR "Treat warnings in this project's own code as errors" OFF)
add_library(project_warnings INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    # C++ only: the Windows program's resource script goes through windres.
    # A designated initializer names only the members that matter; GCC would
    # warn about the others, which keep their defaults.
    set(flags -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
    if(VANTREL_WERROR)
        list(APPEND flags -Werror)
    endif()
    target_compile_options(project_warnings INTERFACE "$<$<COMPILE_LANGUAGE:CXX>:${flags}>")
endif()

# Links project_warnings to the targets of FOLDER and the folders under it.
function(vantrel_warn_in folder)
    get_property(targets DIRECTORY "${folder}" PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
            target_link_libraries(${target} PRIVATE project_warnings)
        endif()
    endforeach()
    get_property(folders DIRECTORY "${folder}" PROPERTY SUBDIRECTORIES)
    foreach(sub IN LISTS folders)
        vantrel_warn_in("${sub}")
    endforeach()
endfunction()
