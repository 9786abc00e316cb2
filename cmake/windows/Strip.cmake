# cmake -DSTAGE=DIR -DSYMBOLS=DIR -DSTRIP=PROGRAM -P Strip.cmake
# Moves every program and library of the stage, as built, to SYMBOLS (same
# layout) and puts it back without its symbols and debug sections: the
# compiler's and Qt's libraries come with them, and would more than double
# what ships.
if(NOT STRIP)
    message(FATAL_ERROR "no strip program for the Windows files")
endif()
file(GLOB_RECURSE binaries RELATIVE "${STAGE}" "${STAGE}/*.exe" "${STAGE}/*.dll")
foreach(binary IN LISTS binaries)
    get_filename_component(folder "${SYMBOLS}/${binary}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    file(RENAME "${STAGE}/${binary}" "${SYMBOLS}/${binary}")
    execute_process(COMMAND "${STRIP}" --strip-all -o "${STAGE}/${binary}" "${SYMBOLS}/${binary}"
        RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "${STRIP} could not strip ${binary}")
    endif()
endforeach()
