# Installs the build into a scratch prefix as the README says, stripped, and
# checks what a user gets: both programs in bin/, running, its manual pages where
# man finds them, the license beside the READMEs.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}" --strip
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
foreach(installed bin/wavwiden bin/wavwiden-en share/man/man1/wavwiden.1
                  share/man/man1/wavwiden-en.1 share/man/ja/man1/wavwiden.1
                  share/doc/wavwiden/LICENSE share/doc/wavwiden/README.md)
  if(NOT EXISTS "${PREFIX}/${installed}")
    message(FATAL_ERROR "${installed} is not installed")
  endif()
endforeach()
# Without arguments each program prints its usage and fails with -1.
foreach(program wavwiden wavwiden-en)
  execute_process(COMMAND "${PREFIX}/bin/${program}" RESULT_VARIABLE status
                  OUTPUT_QUIET ERROR_VARIABLE usage)
  if(NOT status EQUAL 255 OR usage STREQUAL "")
    message(FATAL_ERROR "the installed ${program} does not run: status ${status}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
