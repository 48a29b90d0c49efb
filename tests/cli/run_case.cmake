# Runs one program case and checks it. Given as -D values:
#   PROGRAM       the executable; LAUNCHER, if set, is put before it ('|'-separated)
#   ARGS          its arguments, separated by '|'
#   INPUT         a file for standard input, or INPUT_TEXT, the text itself
#                 (neither: standard input is empty)
#   EXIT          the expected exit status
#   EXPECT        a file holding the exact expected standard output, or
#   LINE          the one expected line (without its newline), printed
#                 REPEAT times if that is given (once per process of a job), or
#   MATCH         a regular expression the whole standard output must match
#   TIMEOUT       seconds before the run counts as hung (default 60)
#   FULL_OUTPUT   if true, standard output goes to /dev/full and only the
#                 exit status is checked
#   LAUNCHER_NOTICES  if true, standard error may hold the launcher's notices
# Standard error must be empty: the programs never write to it. An MPI
# launcher, though, reports on standard error by itself whenever a process of
# its job ends with a non-zero status ("mpirun detected that one or more
# processes exited with non-zero status..."). Cases that expect a failure under
# a launcher set LAUNCHER_NOTICES, and then standard error may hold text, but
# none of the lines the program printed: its own message must be on standard
# output only.
include(${CMAKE_CURRENT_LIST_DIR}/launcher_notices.cmake)
foreach(list_var LAUNCHER ARGS)
  string(REPLACE "|" ";" ${list_var} "${${list_var}}")
endforeach()
if(DEFINED INPUT_TEXT)
  set(INPUT "${WORK_DIR}/input.txt")
  file(WRITE "${INPUT}" "${INPUT_TEXT}")
elseif(NOT DEFINED INPUT OR INPUT STREQUAL "")
  set(INPUT /dev/null)
endif()

if(NOT DEFINED TIMEOUT OR TIMEOUT STREQUAL "")
  set(TIMEOUT 60)
endif()
if(LAUNCHER)
  # When a process of a job ends with a non-zero status, mpirun waits a
  # second before it kills the rest, which already ended here: twice that
  # per failing case, for nothing.
  set(ENV{OMPI_MCA_odls_base_sigkill_timeout} 0)
  # Open MPI's mpirun refuses to start as root unless both are set; under any
  # other user they change nothing.
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(uid STREQUAL "0")
    set(ENV{OMPI_ALLOW_RUN_AS_ROOT} 1)
    set(ENV{OMPI_ALLOW_RUN_AS_ROOT_CONFIRM} 1)
  endif()
endif()

if(FULL_OUTPUT)
  execute_process(COMMAND ${LAUNCHER} ${PROGRAM} ${ARGS}
                  INPUT_FILE "${INPUT}" OUTPUT_FILE /dev/full
                  ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT ${TIMEOUT})
  set(out "")
  set(MATCH "")
else()
  execute_process(COMMAND ${LAUNCHER} ${PROGRAM} ${ARGS}
                  INPUT_FILE "${INPUT}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc
                  TIMEOUT ${TIMEOUT})
endif()

# In a sanitizer build a refused huge request is reported by the sanitizer
# itself before the program sees null and prints its own line; that one
# warning is the sanitizer's, not the program's, so it is not counted.
string(REGEX REPLACE "==[0-9]+==WARNING: AddressSanitizer failed to allocate 0x[0-9a-f]+ bytes\n" "" err "${err}")

if(DEFINED EXPECT)
  file(READ "${EXPECT}" want)
  set(ok_out FALSE)
  if(out STREQUAL want)
    set(ok_out TRUE)
  endif()
elseif(DEFINED LINE)
  if(NOT DEFINED REPEAT OR REPEAT STREQUAL "")
    set(REPEAT 1)
  endif()
  string(REPEAT "${LINE}\n" ${REPEAT} want)
  set(ok_out FALSE)
  if(out STREQUAL want)
    set(ok_out TRUE)
  endif()
else()
  set(want "(matching) ${MATCH}")
  set(ok_out FALSE)
  if(out MATCHES "^${MATCH}$")
    set(ok_out TRUE)
  endif()
endif()

set(ok_err TRUE)
if(LAUNCHER_NOTICES)
  no_line_repeated("${out}" "${err}" ok_err)
elseif(NOT err STREQUAL "")
  set(ok_err FALSE)
endif()

if(NOT rc STREQUAL EXIT OR NOT ok_err OR NOT ok_out)
  message(FATAL_ERROR "exit ${rc} (want ${EXIT}), stderr [${err}]\n--- got\n${out}--- want\n${want}")
endif()
