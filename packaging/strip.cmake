# Run by cpack on the staged files before it builds the package: the programs lose the sections that
# stripping keeps and nothing reads (.comment, .note), as Debian's own packages do.
file(GLOB programs ${CPACK_TEMPORARY_DIRECTORY}/usr/bin/* ${CPACK_TEMPORARY_DIRECTORY}/usr/sbin/*)
foreach(program IN LISTS programs)
  execute_process(COMMAND ${CPACK_DHCPFTR_STRIP} --remove-section=.comment --remove-section=.note ${program}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
