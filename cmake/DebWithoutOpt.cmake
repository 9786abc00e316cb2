# Run by cpack after it made the package. CPack puts every parent folder in
# data.tar, /opt included, and dpkg would then count /opt as the package's
# and try to remove it on purge. This rebuilds data.tar without that entry,
# keeping every other one as it was.
function(run)
    execute_process(COMMAND ${ARGV} WORKING_DIRECTORY "${work}" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "${ARGV}: ${failed}")
    endif()
endfunction()

set(mtime "")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(mtime "--mtime=@$ENV{SOURCE_DATE_EPOCH}")
endif()
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    set(work "${CPACK_TOPLEVEL_DIRECTORY}/without-opt")
    file(REMOVE_RECURSE "${work}")
    file(MAKE_DIRECTORY "${work}/data")
    run(ar x "${deb}")
    run(tar -xpzf data.tar.gz -C data)
    execute_process(COMMAND tar -tzf data.tar.gz WORKING_DIRECTORY "${work}" OUTPUT_VARIABLE entries)
    string(REGEX REPLACE "(^|\n)\\./opt/\n" "\\1" entries "${entries}")
    file(WRITE "${work}/entries" "${entries}")
    file(REMOVE "${work}/data.tar.gz" "${deb}")
    run(tar -C data --no-recursion --owner=0 --group=0 --numeric-owner ${mtime} --format=gnu
        -cf data.tar -T entries)
    run(gzip -9n data.tar)
    run(ar rcD "${deb}" debian-binary control.tar.gz data.tar.gz)
    file(REMOVE_RECURSE "${work}")
endforeach()
