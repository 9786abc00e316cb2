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

# What Explorer, Programs and Features and the Event Viewer show of the
# program and its installer, made from the project's name and version.
set(VANTREL_PRODUCT "Vantrel 通用防注入过滤器")
set(VANTREL_COMPANY "Vantrel")
file(STRINGS LICENSE VANTREL_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)
set(VANTREL_VERSION4 "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
string(REPLACE "." "," VANTREL_VERSION_COMMAS "${VANTREL_VERSION4}")
set(VANTREL_MANIFEST "${PROJECT_BINARY_DIR}/vantrel-filter.manifest")
configure_file(cmake/windows/vantrel-filter.manifest.in "${VANTREL_MANIFEST}" @ONLY)
configure_file(cmake/windows/vantrel-filter.rc.in vantrel-filter.rc @ONLY)
# The message table for the events: windmc writes messages.rc, which the
# program's .rc includes, and the table beside it.
find_program(VANTREL_WINDMC NAMES x86_64-w64-mingw32-windmc windmc REQUIRED)
add_custom_command(OUTPUT "${PROJECT_BINARY_DIR}/messages.rc"
    COMMAND ${VANTREL_WINDMC} -U -b -h "${PROJECT_BINARY_DIR}" -r "${PROJECT_BINARY_DIR}"
        "${PROJECT_SOURCE_DIR}/cmake/windows/messages.mc"
    DEPENDS cmake/windows/messages.mc VERBATIM)
set_source_files_properties("${PROJECT_BINARY_DIR}/vantrel-filter.rc" PROPERTIES
    OBJECT_DEPENDS "${VANTREL_ICO};${VANTREL_MANIFEST};${PROJECT_BINARY_DIR}/messages.rc")
target_sources(vantrel-filter PRIVATE "${PROJECT_BINARY_DIR}/vantrel-filter.rc")
# Symbols for crash analysis, kept out of what ships (see the installer target).
target_compile_options(vantrel-filter PRIVATE -g)
foreach(library keywords ui)
    target_compile_options(${library} PRIVATE -g)
endforeach()

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
set(VANTREL_SYMBOLS "${PROJECT_BINARY_DIR}/symbols")
set(VANTREL_SETUP "${PROJECT_BINARY_DIR}/vantrel-filter-${PROJECT_VERSION}-setup.exe")
set(VANTREL_ZIP "${PROJECT_BINARY_DIR}/vantrel-filter-${PROJECT_VERSION}-windows.zip")
set(VANTREL_SYMBOLS_ZIP "${PROJECT_BINARY_DIR}/vantrel-filter-${PROJECT_VERSION}-windows-symbols.zip")
configure_file(cmake/windows/installer.nsi.in installer.nsi @ONLY)
find_program(MAKENSIS makensis REQUIRED)
find_program(ZIP zip REQUIRED)
# The stage holds what ships, stripped; symbols/ the same files as built, with
# their debug sections, zipped apart for whoever analyses a crash.
add_custom_command(OUTPUT "${VANTREL_SETUP}" "${VANTREL_ZIP}" "${VANTREL_SYMBOLS_ZIP}"
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${VANTREL_STAGE}" "${VANTREL_SYMBOLS}" "${VANTREL_ZIP}" "${VANTREL_SYMBOLS_ZIP}"
    COMMAND ${CMAKE_COMMAND} --install "${PROJECT_BINARY_DIR}" --prefix "${VANTREL_STAGE}"
    COMMAND ${CMAKE_COMMAND} -DSTAGE=${VANTREL_STAGE} -DSYMBOLS=${VANTREL_SYMBOLS} -DSTRIP=${CMAKE_STRIP}
        -P "${PROJECT_SOURCE_DIR}/cmake/windows/Strip.cmake"
    COMMAND ${MAKENSIS} -V2 -INPUTCHARSET UTF8 "${PROJECT_BINARY_DIR}/installer.nsi"
    COMMAND ${CMAKE_COMMAND} -E chdir "${VANTREL_STAGE}" ${ZIP} -qrX "${VANTREL_ZIP}" .
    COMMAND ${CMAKE_COMMAND} -E chdir "${VANTREL_SYMBOLS}" ${ZIP} -qrX "${VANTREL_SYMBOLS_ZIP}" .
    DEPENDS vantrel-filter "${PROJECT_BINARY_DIR}/installer.nsi" data/inject.txt cmake/windows/Strip.cmake
    WORKING_DIRECTORY "${PROJECT_BINARY_DIR}"
    VERBATIM)
add_custom_target(installer ALL DEPENDS "${VANTREL_SETUP}" "${VANTREL_ZIP}" "${VANTREL_SYMBOLS_ZIP}")
