# Run by CPack after it writes the Windows zip (CPACK_POST_BUILD_SCRIPTS),
# before it copies it into the build folder. CPack takes the members' order,
# modes and owners from the build; strip-nondeterminism sorts the members and
# sets every time to SOURCE_DATE_EPOCH, owner and group to 0 and modes to 0644
# or 0755. Then SHA256SUMS, as sha256sum writes it, goes beside the zip: the
# zip's sum, and each program's as the zip holds it (under the folder it
# unpacks into), so that an unpacked program can be checked too.
set(sums "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${CPACK_WAVWIDEN_STRIP_NONDETERMINISM} --type zip
                          --timestamp $ENV{SOURCE_DATE_EPOCH} ${package}
                  COMMAND_ERROR_IS_FATAL ANY)
  file(SHA256 ${package} sum)
  get_filename_component(name ${package} NAME)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
foreach(program wavwiden wavwiden-en)
  set(member ${CPACK_PACKAGE_FILE_NAME}/${program}.exe)
  file(SHA256 ${CPACK_TOPLEVEL_DIRECTORY}/${member} sum)
  string(APPEND sums "${sum}  ${member}\n")
endforeach()
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${sums}")
