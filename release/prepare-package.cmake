# Run by CPack on the staged release files, before they are zipped: strips
# the program, signs it when a certificate is configured, and gives every
# file one fixed time, so that the same source always gives the same zip.
#
# The time is SOURCE_DATE_EPOCH when it is set, else the time of the
# source's last git commit, else 2026-01-01 00:00:00 UTC.

set(EmpctlEpoch "$ENV{SOURCE_DATE_EPOCH}")
if(EmpctlEpoch STREQUAL "")
  execute_process(COMMAND git -C "${CPACK_EMPCTL_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE EmpctlEpoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE EmpctlGitStatus ERROR_QUIET)
  if(NOT EmpctlGitStatus EQUAL 0)
    set(EmpctlEpoch "")
  endif()
endif()
if(EmpctlEpoch STREQUAL "")
  set(EmpctlEpoch 1767225600)
endif()
if(NOT EmpctlEpoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH '${EmpctlEpoch}' is not a number of seconds")
endif()
message(STATUS "release file time: ${EmpctlEpoch} (seconds since 1970)")

set(EmpctlStaged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(EmpctlProgram "${EmpctlStaged}/empctl.exe")
if(NOT EXISTS "${EmpctlProgram}")
  message(FATAL_ERROR "no staged program at ${EmpctlProgram}")
endif()

# strip writes the PE time stamp, from SOURCE_DATE_EPOCH when it is set.
execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${EmpctlEpoch}
                        "${CPACK_EMPCTL_STRIP}" --strip-all "${EmpctlProgram}"
                COMMAND_ERROR_IS_FATAL ANY)

# Signed after stripping: stripping would break the signature.
if(CPACK_EMPCTL_SIGN_PKCS12 AND CPACK_EMPCTL_SIGN_PASSWORD_FILE)
  set(EmpctlTimestamp "")
  if(CPACK_EMPCTL_SIGN_TIMESTAMP_URL)
    set(EmpctlTimestamp -ts "${CPACK_EMPCTL_SIGN_TIMESTAMP_URL}")
  endif()
  file(REMOVE "${EmpctlProgram}.signed")
  execute_process(COMMAND "${CPACK_EMPCTL_OSSLSIGNCODE}" sign
                          -pkcs12 "${CPACK_EMPCTL_SIGN_PKCS12}"
                          -readpass "${CPACK_EMPCTL_SIGN_PASSWORD_FILE}"
                          -h sha256 -n empctl ${EmpctlTimestamp}
                          -in "${EmpctlProgram}" -out "${EmpctlProgram}.signed"
                  COMMAND_ERROR_IS_FATAL ANY)
  file(RENAME "${EmpctlProgram}.signed" "${EmpctlProgram}")
  message(STATUS "signed ${EmpctlProgram}")
endif()

file(GLOB_RECURSE EmpctlFiles LIST_DIRECTORIES true "${EmpctlStaged}/*")
execute_process(COMMAND touch -h -d "@${EmpctlEpoch}" "${EmpctlStaged}" ${EmpctlFiles}
                COMMAND_ERROR_IS_FATAL ANY)
