# The Windows build's tests run under Wine (the build's crossing emulator) in
# a private prefix in the build folder, made once by the first test, with the
# Qt and compiler libraries found through WINEPATH.
get_target_property(qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT qt_core_dll)
    get_target_property(qt_core_dll Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(qt_bin "${qt_core_dll}" DIRECTORY)
# The compiler's libraries, where cmake/Windows.cmake found them to ship.
set(wine_path "Z:${qt_bin}")
foreach(dll ${VANTREL_RUNTIME_DLLS})
    get_filename_component(folder "${dll}" DIRECTORY)
    list(APPEND wine_path "Z:${folder}")
endforeach()
list(REMOVE_DUPLICATES wine_path)
list(JOIN wine_path "\\;" wine_path)

set(wine_prefix "${CMAKE_CURRENT_BINARY_DIR}/wine")
set(wine_env
    "WINEPREFIX=${wine_prefix}"
    "WINEDEBUG=-all"
    # No Mono or Gecko installer dialogs while the prefix is made.
    "WINEDLLOVERRIDES=mscoree,mshtml="
    # One variable: its separators must not split the list.
    "WINEPATH=${wine_path}")
# Wine hands no QT_ variable to its programs: the plugins are found beside the
# test programs, and the platform is chosen by argument.

add_test(NAME wine_prefix COMMAND sh -c [[rm -rf "$WINEPREFIX" && wineboot -i && wineserver -w]])
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${wine_env}" TIMEOUT 300)

set(wine_tests ${store_tests} tst_form1)
set_tests_properties(${wine_tests} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${wine_env}")

# What an administrator sees of the built files: their version information,
# the program's manifest and message table, nothing shipped unstripped.
add_test(NAME windows_files
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows-files.sh ${PROJECT_BINARY_DIR} ${PROJECT_VERSION})

# The installer installed silently, the program started from its shortcut's
# target on a virtual screen with the windows platform, driven with real
# input; then upgraded, repaired, uninstalled and installed again. And the
# installer's care with the folders it writes in. Both install into the
# prefix's C: drive, one at a time.
set(setup ${PROJECT_BINARY_DIR}/vantrel-filter-${PROJECT_VERSION}-setup.exe)
add_test(NAME e2e_windows COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/windows.sh ${setup})
add_test(NAME e2e_windows_folders COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/windows-folders.sh ${setup})
set_tests_properties(e2e_windows e2e_windows_folders PROPERTIES FIXTURES_REQUIRED wine LABELS e2e TIMEOUT 600
    SKIP_RETURN_CODE 77 RESOURCE_LOCK wine_drive_c ENVIRONMENT "${wine_env};E2E_OUT=${CMAKE_CURRENT_BINARY_DIR}/e2e")
