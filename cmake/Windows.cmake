# The Windows program as an operator gets it: the program with the Qt and
# compiler run-time libraries it loads, nothing else, staged by
# `cmake --install`, then packed as an installer (makensis) and a portable zip
# by the `installer` target.
find_package(Qt6 REQUIRED COMPONENTS Gui)

# The program file's own icon, for Explorer and the Start menu: the same
# design as the window's, rendered from the SVG at the sizes Windows shows.
set(VANTREL_ICO "${PROJECT_BINARY_DIR}/vantrel-filter.ico")
set(_pngs "")
foreach(size 16 32 48 256)
    vantrel_render_icon("${PROJECT_BINARY_DIR}/ico/${size}.png" ${size})
    list(APPEND _pngs "${PROJECT_BINARY_DIR}/ico/${size}.png")
endforeach()
add_custom_command(OUTPUT "${VANTREL_ICO}" COMMAND ${MAGICK_CONVERT} ${_pngs} "${VANTREL_ICO}"
    DEPENDS ${_pngs} VERBATIM)
file(WRITE "${PROJECT_BINARY_DIR}/vantrel-filter.rc" "1 ICON \"${VANTREL_ICO}\"\n")
set_source_files_properties("${PROJECT_BINARY_DIR}/vantrel-filter.rc" PROPERTIES OBJECT_DEPENDS "${VANTREL_ICO}")
target_sources(vantrel-filter PRIVATE "${PROJECT_BINARY_DIR}/vantrel-filter.rc")

# The compiler's own run-time libraries, found where the compiler looks.
set(VANTREL_RUNTIME_DLLS "")
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
        OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${found}")
        find_file(found_${dll} ${dll} PATHS /usr/x86_64-w64-mingw32/lib NO_DEFAULT_PATH REQUIRED)
        set(found "${found_${dll}}")
    endif()
    list(APPEND VANTREL_RUNTIME_DLLS "${found}")
endforeach()

install(TARGETS vantrel-filter RUNTIME DESTINATION .)
install(FILES data/inject.txt DESTINATION .)
install(FILES ${VANTREL_RUNTIME_DLLS}
    $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
    DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
# Qt's own texts (a text box's context menu) in Chinese: the same file as
# Debian's, which is platform-neutral.
find_file(VANTREL_QT_ZH qtbase_zh_CN.qm PATHS /usr/share/qt6/translations NO_CMAKE_FIND_ROOT_PATH)
if(VANTREL_QT_ZH)
    install(FILES "${VANTREL_QT_ZH}" DESTINATION translations)
endif()
install(FILES cmake/windows/qt.conf LICENSE DESTINATION .)

# The tests and the program in the build folder load the same libraries.
add_custom_command(TARGET vantrel-filter POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VANTREL_RUNTIME_DLLS}
        $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
        $<TARGET_FILE_DIR:vantrel-filter>
    COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:vantrel-filter>/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
        $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin> $<TARGET_FILE_DIR:vantrel-filter>/platforms
    VERBATIM)

set(VANTREL_STAGE "${PROJECT_BINARY_DIR}/stage")
set(VANTREL_SETUP "${PROJECT_BINARY_DIR}/vantrel-filter-${PROJECT_VERSION}-setup.exe")
set(VANTREL_ZIP "${PROJECT_BINARY_DIR}/vantrel-filter-${PROJECT_VERSION}-windows.zip")
configure_file(cmake/windows/installer.nsi.in installer.nsi @ONLY)
find_program(MAKENSIS makensis REQUIRED)
find_program(ZIP zip REQUIRED)
add_custom_command(OUTPUT "${VANTREL_SETUP}" "${VANTREL_ZIP}"
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${VANTREL_STAGE}" "${VANTREL_ZIP}"
    COMMAND ${CMAKE_COMMAND} --install "${PROJECT_BINARY_DIR}" --prefix "${VANTREL_STAGE}" --strip
    COMMAND ${MAKENSIS} -V2 -INPUTCHARSET UTF8 "${PROJECT_BINARY_DIR}/installer.nsi"
    COMMAND ${CMAKE_COMMAND} -E chdir "${VANTREL_STAGE}" ${ZIP} -qrX "${VANTREL_ZIP}" .
    DEPENDS vantrel-filter "${PROJECT_BINARY_DIR}/installer.nsi" data/inject.txt
    WORKING_DIRECTORY "${PROJECT_BINARY_DIR}"
    VERBATIM)
add_custom_target(installer ALL DEPENDS "${VANTREL_SETUP}" "${VANTREL_ZIP}")
