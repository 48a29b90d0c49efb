# Runs one program case and checks it. Given as -D values:
#   PROGRAM       the executable; LAUNCHER, if set, is put before it ('|'-separated)
#   ARGS          its arguments, separated by '|'
#   INPUT         a file for standard input, or INPUT_TEXT, the text itself
#                 (neither: standard input is empty)
#   EXIT          the expected exit status
#   EXPECT        a file holding the exact expected standard output, or
#   LINE          the one expected line (without its newline), or
#   MATCH         a regular expression the whole standard output must match
# Standard error must always be empty.

foreach(list_var LAUNCHER ARGS)
  string(REPLACE "|" ";" ${list_var} "${${list_var}}")
endforeach()
if(DEFINED INPUT_TEXT)
  set(INPUT "${WORK_DIR}/input.txt")
  file(WRITE "${INPUT}" "${INPUT_TEXT}")
elseif(NOT DEFINED INPUT OR INPUT STREQUAL "")
  set(INPUT /dev/null)
endif()

execute_process(COMMAND ${LAUNCHER} ${PROGRAM} ${ARGS}
                INPUT_FILE "${INPUT}"
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc
                TIMEOUT 60)

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
  set(want "${LINE}\n")
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

if(NOT rc STREQUAL EXIT OR NOT err STREQUAL "" OR NOT ok_out)
  message(FATAL_ERROR "exit ${rc} (want ${EXIT}), stderr [${err}]\n--- got\n${out}--- want\n${want}")
endif()
