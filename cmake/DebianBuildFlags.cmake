# Included before project(): with VANTREL_DEBIAN_FLAGS (on in the Linux
# presets) a build folder starts with the flags dpkg-buildflags gives, with
# every hardening feature: fortify, stack protector, full RELRO, bind-now.
# It runs in the source folder, so source paths are mapped to "." and two
# clones build the same bytes. They only seed CMAKE_CXX_FLAGS and the linker
# flags when a build folder is first configured; the cache keeps them after.
option(VANTREL_DEBIAN_FLAGS "Start a new build folder with Debian's hardening flags" OFF)
if(VANTREL_DEBIAN_FLAGS)
    find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${DPKG_BUILDFLAGS} --get ${kind}
            WORKING_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
            OUTPUT_VARIABLE debian_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE
            COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    set(CMAKE_CXX_FLAGS_INIT "${debian_CPPFLAGS} ${debian_CXXFLAGS}")
    foreach(kind EXE SHARED MODULE)
        set(CMAKE_${kind}_LINKER_FLAGS_INIT "${debian_LDFLAGS}")
    endforeach()
endif()
