# cli_case(<test name> PROGRAM <target> [ARGS a b ...] [INPUT file | INPUT_TEXT text]
#          EXIT <status> EXPECT file | LINE text [REPEAT n] | MATCH regex | FULL_OUTPUT
#          [LAUNCHER cmd ...] [LAUNCHER_NOTICES] [TIMEOUT seconds])
# Files are relative to tests/cli/data. See run_case.cmake for the checks.
# FULL_OUTPUT runs the program with standard output on /dev/full, where the
# first write fails: only the exit status is checked.
set(CLI_RUNNER ${CMAKE_CURRENT_LIST_DIR}/run_case.cmake)
set(CLI_DATA ${CMAKE_CURRENT_LIST_DIR}/data)
# The sanitizer build runs everything several times slower.
if(ENABLE_SANITIZERS)
  set(CLI_SLOWDOWN 4)
else()
  set(CLI_SLOWDOWN 1)
endif()

# A program with a twin target <program>_plain (the same program built on its
# plain path) gets each case that prints an answer (status 0) twice: <name> on
# the program, <name>.plain on the twin; refusals do not depend on the path.
# In LAUNCHER, @PROGRAM@ stands for the program of the variant, for launcher
# lines that start it more than once (an MPI job of several parts). Cases run
# under the MPI launcher hold the lock "mpi" and count as 2 processors, so
# that a parallel ctest never runs two jobs at once on a small machine.
function(cli_case name)
  cmake_parse_arguments(C "LAUNCHER_NOTICES;FULL_OUTPUT"
                        "PROGRAM;INPUT;INPUT_TEXT;EXIT;EXPECT;LINE;REPEAT;MATCH;TIMEOUT"
                        "ARGS;LAUNCHER" ${ARGN})
  string(REPLACE ";" "|" args "${C_ARGS}")
  string(REPLACE ";" "|" launcher_line "${C_LAUNCHER}")
  set(variants "${name}=${C_PROGRAM}")
  if(TARGET ${C_PROGRAM}_plain AND C_EXIT STREQUAL "0")
    list(APPEND variants "${name}.plain=${C_PROGRAM}_plain")
  endif()
  if(NOT C_TIMEOUT)
    set(C_TIMEOUT 60)
  endif()
  math(EXPR run_timeout "${C_TIMEOUT} * ${CLI_SLOWDOWN}")
  math(EXPR test_timeout "${run_timeout} + 30")
  foreach(variant ${variants})
    string(REPLACE "=" ";" parts "${variant}")
    list(GET parts 0 test_name)
    list(GET parts 1 program)
    string(REPLACE "@PROGRAM@" "$<TARGET_FILE:${program}>" launcher "${launcher_line}")
    set(work ${CMAKE_CURRENT_BINARY_DIR}/cases/${test_name})
    file(MAKE_DIRECTORY ${work})
    set(defs -DPROGRAM=$<TARGET_FILE:${program}> "-DARGS=${args}" "-DLAUNCHER=${launcher}"
             -DEXIT=${C_EXIT} -DWORK_DIR=${work} -DLAUNCHER_NOTICES=${C_LAUNCHER_NOTICES}
             "-DREPEAT=${C_REPEAT}" "-DTIMEOUT=${run_timeout}" -DFULL_OUTPUT=${C_FULL_OUTPUT})
    if(DEFINED C_INPUT)
      list(APPEND defs -DINPUT=${CLI_DATA}/${C_INPUT})
    elseif(DEFINED C_INPUT_TEXT)
      list(APPEND defs "-DINPUT_TEXT=${C_INPUT_TEXT}")
    endif()
    if(DEFINED C_EXPECT)
      list(APPEND defs -DEXPECT=${CLI_DATA}/${C_EXPECT})
    elseif(DEFINED C_LINE)
      list(APPEND defs "-DLINE=${C_LINE}")
    elseif(DEFINED C_MATCH)
      list(APPEND defs "-DMATCH=${C_MATCH}")
    endif()
    add_test(NAME ${test_name} COMMAND ${CMAKE_COMMAND} ${defs} -P ${CLI_RUNNER})
    set_tests_properties(${test_name} PROPERTIES TIMEOUT ${test_timeout} LABELS cli
                         ENVIRONMENT OMP_WAIT_POLICY=passive)
    if(MPIEXEC_EXECUTABLE AND "${C_LAUNCHER}" MATCHES "${MPIEXEC_EXECUTABLE}")
      set_tests_properties(${test_name} PROPERTIES RESOURCE_LOCK mpi PROCESSORS 2)
    endif()
  endforeach()
endfunction()
