include(GNUInstallDirs)

# The program reads and saves its working copy beside itself. The package
# keeps the list itself in /var/opt, where members of the vantrel-filter
# group may replace it, and links to it from the program's folder, which
# only root may write.
set(VANTREL_PROGRAM_DIR /opt/vantrel-filter)
set(VANTREL_DATA_DIR /var/opt/vantrel-filter)

install(TARGETS vantrel-filter RUNTIME DESTINATION "${VANTREL_PROGRAM_DIR}")
# A stripped program needs no compiler notes either.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
            \"\$ENV{DESTDIR}${VANTREL_PROGRAM_DIR}/vantrel-filter\" COMMAND_ERROR_IS_FATAL ANY)
    endif()
")
file(CREATE_LINK "${VANTREL_DATA_DIR}/inject.txt" "${CMAKE_CURRENT_BINARY_DIR}/inject.txt.link"
    SYMBOLIC)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/inject.txt.link"
    DESTINATION "${VANTREL_PROGRAM_DIR}" RENAME inject.txt)
# The defaults that postinst puts in place when no list is there.
install(FILES data/inject.txt DESTINATION "${CMAKE_INSTALL_DATADIR}/vantrel-filter")

set(VANTREL_DESKTOP_EXEC "${VANTREL_PROGRAM_DIR}/vantrel-filter")
configure_file(data/com.vantrel.filter.desktop.in com.vantrel.filter.desktop @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/com.vantrel.filter.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES data/com.vantrel.filter.metainfo.xml DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

# Every size is rendered by the plain build, as is the changelog, so that
# `cmake --build` and then `cmake --install` puts every file in place.
set(_icons "")
foreach(size 16 24 32 48 64 128 256)
    set(_png "${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}/vantrel-filter.png")
    vantrel_render_icon("${_png}" ${size})
    install(FILES "${_png}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
    list(APPEND _icons "${_png}")
endforeach()
install(FILES data/vantrel-filter.svg DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")

set(_docs "${CMAKE_INSTALL_DATADIR}/doc/vantrel-filter")
# A native package: its one changelog goes in as changelog.gz.
set(_changelog "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz")
add_custom_command(OUTPUT "${_changelog}"
    COMMAND ${CMAKE_COMMAND} -E copy "${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/changelog" changelog
    COMMAND gzip -9nf changelog
    DEPENDS cmake/debian/changelog VERBATIM)
add_custom_target(package-files ALL DEPENDS ${_icons} "${_changelog}")
install(FILES cmake/debian/copyright "${_changelog}" DESTINATION "${_docs}")
install(FILES cmake/debian/lintian-overrides
    DESTINATION "${CMAKE_INSTALL_DATADIR}/lintian/overrides" RENAME vantrel-filter)
