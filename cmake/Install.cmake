# The program and its working copy live side by side in one folder.
set(VANTREL_PROGRAM_DIR "/opt/vantrel-filter" CACHE PATH
    "Folder that holds the program and its working copy inject.txt")

install(TARGETS vantrel-filter RUNTIME DESTINATION "${VANTREL_PROGRAM_DIR}")

# An installed working copy is the operator's list: an install over an
# existing one must not replace it with the defaults.
install(CODE "
    set(_dest \"\$ENV{DESTDIR}${VANTREL_PROGRAM_DIR}/inject.txt\")
    execute_process(COMMAND \"${CMAKE_COMMAND}\"
        -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}/data/inject.txt
        -DDESTINATION=\${_dest}
        -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/CopyIfAbsent.cmake)
")
