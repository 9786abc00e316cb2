# cmake -DSOURCE=... -DDESTINATION=... -P CopyIfAbsent.cmake
# Copies SOURCE to DESTINATION only when nothing exists there yet.
if(NOT EXISTS "${DESTINATION}" AND NOT IS_SYMLINK "${DESTINATION}")
    get_filename_component(_dir "${DESTINATION}" DIRECTORY)
    file(MAKE_DIRECTORY "${_dir}")
    file(COPY_FILE "${SOURCE}" "${DESTINATION}")
    message(STATUS "Default working copy written: ${DESTINATION}")
endif()
