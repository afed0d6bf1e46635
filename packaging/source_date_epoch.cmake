# Read by CPack before it packs the Windows zip (CPACK_PROJECT_CONFIG_FILE):
# the build's time is the commit's, so that every build of one commit gives
# the same zip. strip stamps it into wavwiden.exe's PE header, CPack and
# normalize_zip.cmake into the members. A SOURCE_DATE_EPOCH set by the caller
# wins; without git (a source tarball), the date of debian/changelog's latest
# entry.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  # safe.directory: a clone owned by another user is still read, not skipped.
  execute_process(COMMAND git -c safe.directory=* -C ${CPACK_WAVWIDEN_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0)
    file(STRINGS ${CPACK_WAVWIDEN_SOURCE_DIR}/debian/changelog trailer REGEX "^ -- " LIMIT_COUNT 1)
    string(REGEX REPLACE "^ -- .*>  " "" date "${trailer}")
    execute_process(COMMAND date -u -d "${date}" +%s
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
