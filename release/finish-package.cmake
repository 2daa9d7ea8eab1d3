# Run by CPack on each finished zip, before its checksum is taken: fixes the
# times in the zip's headers that the staged files cannot carry.
foreach(EmpctlPackage IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND "${CPACK_EMPCTL_PYTHON3}"
                          "${CPACK_EMPCTL_SOURCE_DIR}/release/zip-fixed-times.py" "${EmpctlPackage}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
