# kcenter's order against greedy_centers: the rows of `kcenter order -k K`,
# printed as greedy_centers prints centres, must be the first lines of
# greedy_centers' answer for k = K; where the order ends early because every
# row lies on a chosen row, greedy_centers repeats its last centre to the end.
# greedy_centers also repeats a row holding NaN, which it chooses again and
# again, where kcenter goes on over the other rows: there the two agree up to
# the first repeat.
# Given as -D values: KCENTER, PRINT_ROWS, MATRIX, K, EXPECT (greedy's output).
execute_process(COMMAND ${KCENTER} order -k ${K} ${MATRIX} OUTPUT_VARIABLE csv RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "kcenter order -k ${K} ${MATRIX}: exit ${rc}\n${csv}")
endif()
string(REGEX MATCHALL "\n[0-9]+,[0-9]+," steps "${csv}")
set(rows "")
foreach(s ${steps})
  string(REGEX REPLACE "\n[0-9]+,([0-9]+)," "\\1" row "${s}")
  list(APPEND rows ${row})
endforeach()
list(LENGTH rows used)
if(used EQUAL 0 OR used GREATER K)
  message(FATAL_ERROR "${used} steps for k = ${K}:\n${csv}")
endif()
execute_process(COMMAND ${PRINT_ROWS} ${MATRIX} ${rows} OUTPUT_VARIABLE got RESULT_VARIABLE rc)
string(REGEX MATCH "[^\n]*\n$" last "${got}")
math(EXPR repeats "${K} - ${used}")
string(REPEAT "${last}" ${repeats} tail)
file(READ ${EXPECT} want)
# The lines of greedy_centers' answer up to its first repeat.
string(REGEX MATCHALL "[^\n]*\n" want_lines "${want}")
set(first "")
set(before "")
foreach(line ${want_lines})
  if(line STREQUAL before)
    break()
  endif()
  string(APPEND first "${line}")
  set(before "${line}")
endforeach()
string(LENGTH "${first}" first_len)
string(LENGTH "${got}" got_len)
if(got_len GREATER first_len)
  string(SUBSTRING "${got}" 0 ${first_len} got_first)
  if(NOT rc EQUAL 0 OR NOT got_first STREQUAL first)
    message(FATAL_ERROR "rows ${rows}\n--- got\n${got}--- want, up to its first repeat\n${first}")
  endif()
elseif(NOT rc EQUAL 0 OR NOT "${got}${tail}" STREQUAL want)
  message(FATAL_ERROR "rows ${rows}\n--- got, then its last line ${repeats} times\n${got}--- want\n${want}")
endif()
