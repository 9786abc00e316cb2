# cmake -DBUILD=<build folder> -DPREFIX=<install prefix> -DDATADIR=<datadir>
#       -DSOURCE=<source folder> -P InstallTree.cmake
# `cmake --install` right after `cmake --build` puts exactly the files the
# package ships in place. Staged with DESTDIR into a scratch folder in the
# build folder, which is left for a look when a check fails.
set(stage "${BUILD}/install-tree")
file(REMOVE_RECURSE "${stage}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${stage} ${CMAKE_COMMAND} --install "${BUILD}"
    RESULT_VARIABLE failed OUTPUT_QUIET)
if(failed)
    message(FATAL_ERROR "DESTDIR=${stage} cmake --install ${BUILD} failed: ${failed}")
endif()

set(share "${PREFIX}/${DATADIR}")
set(expected
    /opt/vantrel-filter/vantrel-filter
    /opt/vantrel-filter/inject.txt
    ${share}/vantrel-filter/inject.txt
    ${share}/applications/com.vantrel.filter.desktop
    ${share}/metainfo/com.vantrel.filter.metainfo.xml
    ${share}/icons/hicolor/scalable/apps/vantrel-filter.svg
    ${share}/doc/vantrel-filter/copyright
    ${share}/doc/vantrel-filter/changelog.gz
    ${share}/lintian/overrides/vantrel-filter)
set(sizes 16 24 32 48 64 128 256)
foreach(size IN LISTS sizes)
    list(APPEND expected ${share}/icons/hicolor/${size}x${size}/apps/vantrel-filter.png)
endforeach()
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE "${stage}" "${stage}/*")
list(TRANSFORM found PREPEND /)
set(missing ${expected})
list(REMOVE_ITEM missing ${found})
set(unexpected ${found})
list(REMOVE_ITEM unexpected ${expected})
if(missing OR unexpected)
    message(FATAL_ERROR "In ${stage}, missing: ${missing}; not expected: ${unexpected}")
endif()

# The program reads and saves the list through the link beside it.
file(READ_SYMLINK "${stage}/opt/vantrel-filter/inject.txt" link)
if(NOT link STREQUAL "/var/opt/vantrel-filter/inject.txt")
    message(FATAL_ERROR "/opt/vantrel-filter/inject.txt links to \"${link}\", not the list in /var/opt")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${SOURCE}/data/inject.txt"
    "${stage}${share}/vantrel-filter/inject.txt" RESULT_VARIABLE differ)
if(differ)
    message(FATAL_ERROR "${share}/vantrel-filter/inject.txt is not the twelve defaults")
endif()
# The menu starts the installed program.
file(STRINGS "${stage}${share}/applications/com.vantrel.filter.desktop" exec REGEX "^Exec=")
string(REGEX REPLACE "^Exec=([^ ]*).*" "\\1" exec "${exec}")
if(NOT exec STREQUAL "/opt/vantrel-filter/vantrel-filter")
    message(FATAL_ERROR "the menu entry starts \"${exec}\", not the installed program")
endif()
# Each icon is a PNG of the size its folder names.
foreach(size IN LISTS sizes)
    set(png "${share}/icons/hicolor/${size}x${size}/apps/vantrel-filter.png")
    execute_process(COMMAND identify -format "%m %wx%h" "${stage}${png}" OUTPUT_VARIABLE is)
    if(NOT is STREQUAL "PNG ${size}x${size}")
        message(FATAL_ERROR "${png} is \"${is}\", not a ${size}x${size} PNG")
    endif()
endforeach()
file(REMOVE_RECURSE "${stage}")
