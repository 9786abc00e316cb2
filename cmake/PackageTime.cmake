# Read by cpack: unless SOURCE_DATE_EPOCH is set, the package's times are the
# last commit's, so that two builds of one commit give the same bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C "${CPACK_VANTREL_SOURCE_DIR}" log -1 --format=%ct
        OUTPUT_VARIABLE _epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _failed
        ERROR_QUIET)
    if(NOT _failed AND _epoch)
        set(ENV{SOURCE_DATE_EPOCH} "${_epoch}")
    endif()
endif()
