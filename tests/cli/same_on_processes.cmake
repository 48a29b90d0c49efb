# Runs kcenter alone, then under mpirun on each process count, and checks
# that every job prints the same bytes and ends with the same status. Given
# as -D values ('|'-separated lists):
#   KCENTER   the program
#   LAUNCHER  the launcher line, @P@ standing for the process count
#   PROCS     the process counts
#   ARGS      kcenter's arguments
#   FILES     input files, each run in turn as the last argument (none: ARGS alone)
#   INPUT     a file for standard input (none: /dev/null)
#   OUT       a file the run writes (-o), compared byte for byte too
#   STATUS    the status the run must end with (the one-process run's)
# Standard error must be empty after a success. After a failure the launcher
# adds its notice there, which must not hold the line the program printed;
# the line itself appears once, on standard output.
include(${CMAKE_CURRENT_LIST_DIR}/launcher_notices.cmake)
foreach(list_var LAUNCHER PROCS ARGS FILES)
  string(REPLACE "|" ";" ${list_var} "${${list_var}}")
endforeach()
if(NOT DEFINED INPUT OR INPUT STREQUAL "")
  set(INPUT /dev/null)
endif()
set(ENV{OMPI_MCA_odls_base_sigkill_timeout} 0)
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(uid STREQUAL "0")
  set(ENV{OMPI_ALLOW_RUN_AS_ROOT} 1)
  set(ENV{OMPI_ALLOW_RUN_AS_ROOT_CONFIRM} 1)
endif()

function(written out)
  set(${out} "" PARENT_SCOPE)
  if(OUT AND EXISTS "${OUT}")
    file(READ "${OUT}" bytes HEX)
    file(REMOVE "${OUT}")
    set(${out} "${bytes}" PARENT_SCOPE)
  endif()
endfunction()

# Without FILES, one run of ARGS alone.
if(NOT FILES)
  set(FILES "<none>")
endif()
foreach(file ${FILES})
  if(file STREQUAL "<none>")
    set(file "")
  endif()
  if(OUT)
    file(REMOVE "${OUT}")
  endif()
  execute_process(COMMAND ${KCENTER} ${ARGS} ${file} INPUT_FILE "${INPUT}"
                  OUTPUT_VARIABLE want ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 60)
  written(want_file)
  # A sanitizer build reports a refused huge request itself (see run_case.cmake).
  string(REGEX REPLACE "==[0-9]+==WARNING: AddressSanitizer failed to allocate 0x[0-9a-f]+ bytes\n" "" err "${err}")
  if(NOT rc STREQUAL STATUS OR NOT err STREQUAL "")
    message(FATAL_ERROR "${file}: one process: exit ${rc} (want ${STATUS}), stderr [${err}]\n${want}")
  endif()

  foreach(p ${PROCS})
    string(REPLACE "@P@" "${p}" launch "${LAUNCHER}")
    execute_process(COMMAND ${launch} ${KCENTER} ${ARGS} ${file} INPUT_FILE "${INPUT}"
                    OUTPUT_VARIABLE got ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 60)
    written(got_file)
    set(ok_err TRUE)
    if(STATUS STREQUAL "0" AND NOT err STREQUAL "")
      set(ok_err FALSE)
    endif()
    no_line_repeated("${got}" "${err}" ok_err)
    if(NOT rc STREQUAL STATUS OR NOT got STREQUAL want OR NOT got_file STREQUAL want_file OR NOT ok_err)
      message(FATAL_ERROR "${file}: ${p} processes: exit ${rc} (want ${STATUS}), stderr [${err}]\n"
                          "--- got\n${got}--- want (one process)\n${want}"
                          "--- file got\n${got_file}\n--- file want\n${want_file}")
    endif()
  endforeach()
endforeach()
