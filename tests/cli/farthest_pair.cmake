# farthest_pair end to end. The item is "(T,seconds)," with four decimals and
# no newline; the seconds vary, so it is matched by pattern. The search itself
# is checked by the unit tests.
set(FP_SECONDS "[0-9]+[.][0-9][0-9][0-9][0-9][)],")
set(FP_POINTS farthest_pair/points_6x3.in)
foreach(t 1 2 7 4096)
  cli_case(farthest_pair.item_t${t} PROGRAM farthest_pair ARGS ${t} EXIT 0 INPUT ${FP_POINTS}
           MATCH "[(]${t},${FP_SECONDS}")
endforeach()
# With no argument, or more than one, T is 1 whatever they say; one is read as atoi reads it.
cli_case(farthest_pair.no_argument PROGRAM farthest_pair EXIT 0 INPUT ${FP_POINTS}
         MATCH "[(]1,${FP_SECONDS}")
cli_case(farthest_pair.two_arguments PROGRAM farthest_pair ARGS 4 0 EXIT 0 INPUT ${FP_POINTS}
         MATCH "[(]1,${FP_SECONDS}")
cli_case(farthest_pair.t_with_trailing_text PROGRAM farthest_pair ARGS 3threads EXIT 0
         INPUT ${FP_POINTS} MATCH "[(]3,${FP_SECONDS}")
# No pair to search, or no coordinates to tell rows apart, or NaN and
# infinities: the item all the same. 2^31 - 1 rows of no columns must not
# start 2^61 comparisons.
set(i 0)
foreach(matrix "0 3" "1 3 1 2 3" "4 0" "2147483647 0" "2 2 1 2 3 4 and then text" "3 2 0 nan inf 1 -inf 2")
  math(EXPR i "${i} + 1")
  cli_case(farthest_pair.small_matrix_${i} PROGRAM farthest_pair ARGS 2 EXIT 0
           INPUT_TEXT "${matrix}" MATCH "[(]2,${FP_SECONDS}")
endforeach()
cli_case(farthest_pair.help PROGRAM farthest_pair ARGS -h EXIT 0 INPUT ${FP_POINTS}
         MATCH "usage : farthest_pair \\[T\\] < matrix\n\n[^\n]+\n(.|\n)*exits\nwith 1.\n")
cli_case(farthest_pair.help_to_a_full_disk PROGRAM farthest_pair ARGS --help EXIT 1 FULL_OUTPUT)
cli_case(farthest_pair.item_to_a_full_disk PROGRAM farthest_pair ARGS 2 EXIT 1 FULL_OUTPUT INPUT ${FP_POINTS})

# Bad input: one line on standard output, status 1, nothing on standard error.
set(T_ERROR "error : the thread count must be a whole number from 1 to 4096")
set(SHAPE_ERROR "error reading the shape of the matrix")
set(BODY_ERROR "error reading the elements of the matrix")
foreach(t 0 -3 abc 4097 2147483648 99999999999999999999)
  cli_case(farthest_pair.t_invalid_${t} PROGRAM farthest_pair ARGS ${t} EXIT 1
           INPUT ${FP_POINTS} LINE ${T_ERROR})
endforeach()
set(i 0)
foreach(shape "" "   \n" "3" "x 2" "3 x" "rows cols 1 2" "4294967297 1" "1 -2147483649")
  math(EXPR i "${i} + 1")
  cli_case(farthest_pair.shape_unreadable_${i} PROGRAM farthest_pair ARGS 2 EXIT 1
           INPUT_TEXT "${shape}" LINE ${SHAPE_ERROR})
endforeach()
cli_case(farthest_pair.rows_negative PROGRAM farthest_pair ARGS 2 EXIT 1 INPUT_TEXT "-2 3 1 2 3"
         LINE "error : a matrix needs no negative row or column count, not -2 x 3")
cli_case(farthest_pair.cols_negative PROGRAM farthest_pair ARGS 2 EXIT 1 INPUT_TEXT "2 -1 1 2"
         LINE "error : a matrix needs no negative row or column count, not 2 x -1")
set(i 0)
foreach(body "2 2 1 2 3" "2 2 1 2 x 4" "3 2\n" "2 1 5 five")
  math(EXPR i "${i} + 1")
  cli_case(farthest_pair.body_unreadable_${i} PROGRAM farthest_pair ARGS 2 EXIT 1
           INPUT_TEXT "${body}" LINE ${BODY_ERROR})
endforeach()
cli_case(farthest_pair.shape_beyond_memory PROGRAM farthest_pair ARGS 2 EXIT 1
         INPUT_TEXT "2147483647 2147483647 1 2"
         LINE "error : not enough memory for a 2147483647 x 2147483647 matrix")
cli_case(farthest_pair.shape_huge_without_body PROGRAM farthest_pair ARGS 2 EXIT 1 TIMEOUT 10
         INPUT_TEXT "65536 32769"
         MATCH "error (reading the elements of the matrix|: not enough memory for a 65536 x 32769 matrix)\n")
# Threads the system cannot start (no address space for 200 stacks): one line
# of ours, not the OpenMP runtime's message. (Sanitizers reserve more address
# space than the limit allows.)
if(NOT ENABLE_SANITIZERS)
  cli_case(farthest_pair.threads_refused PROGRAM farthest_pair ARGS 200 EXIT 1 INPUT ${FP_POINTS}
           LAUNCHER sh ${CMAKE_CURRENT_LIST_DIR}/with_memory_limit.sh 300000
           LINE "error : the system cannot start 200 threads")
endif()
