include(GNUInstallDirs)

# The program and its working copy live side by side in one folder.
set(VANTREL_PROGRAM_DIR "/opt/vantrel-filter" CACHE PATH
    "Folder that holds the program and its working copy inject.txt")
if(NOT IS_ABSOLUTE "${VANTREL_PROGRAM_DIR}")
    message(FATAL_ERROR "VANTREL_PROGRAM_DIR must be an absolute path: ${VANTREL_PROGRAM_DIR}")
endif()

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

# Desktop menu entry; Exec needs the program's full path, taken as it is.
set(VANTREL_DESKTOP_EXEC "${VANTREL_PROGRAM_DIR}/vantrel-filter")
if(NOT VANTREL_DESKTOP_EXEC MATCHES "^[A-Za-z0-9_./+-]+$")
    message(FATAL_ERROR "VANTREL_PROGRAM_DIR becomes the menu entry's command line: "
        "use letters, digits and _ . / + - only: ${VANTREL_PROGRAM_DIR}")
endif()
configure_file(data/vantrel-filter.desktop.in vantrel-filter.desktop @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/vantrel-filter.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")

# data/vantrel-filter.png is ui/vantrel-filter.xpm as PNG, which every icon
# theme loader reads: convert ui/vantrel-filter.xpm -strip data/vantrel-filter.png
install(FILES data/vantrel-filter.png
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps")
install(FILES ui/vantrel-filter.xpm DESTINATION "${CMAKE_INSTALL_DATADIR}/pixmaps")
