# greedy_centers end to end: exact standard output, exit status, empty standard error.
# points_2000x2 (ties, duplicate rows) and grid27_1500x3 (27 distinct rows, so
# the last centre repeats) are large enough for the bucketed search;
# clusters_300x12 and clusters_200x40 (gen_points clusters) take the rows
# grouped by nearest centre.
set(GC_OK corner_3x2:2 corner_3x2:1 tie_3x1:2 two_distinct:4 all_equal:3 one_row:2
          nan_row1:3 nan_row0:3 infinity:3 number_forms:2 sum_order:2 unfused:2 no_columns:3
          trailing_text:2 points_2000x2:150 grid27_1500x3:40 clusters_300x12:90 clusters_200x40:60)
foreach(case ${GC_OK})
  string(REPLACE ":" ";" parts ${case})
  list(GET parts 0 input)
  list(GET parts 1 k)
  cli_case(greedy_centers.${input}_k${k} PROGRAM greedy_centers ARGS ${k} EXIT 0
           INPUT greedy_centers/${input}.in EXPECT greedy_centers/${input}_k${k}.out)
endforeach()
# Arguments after k are ignored; k is read as strtol reads it.
cli_case(greedy_centers.extra_arguments_ignored PROGRAM greedy_centers ARGS 2abc 7 x EXIT 0
         INPUT greedy_centers/corner_3x2.in EXPECT greedy_centers/corner_3x2_k2.out)
# 2^31 - 1 rows of no columns: k empty lines at once.
cli_case(greedy_centers.many_rows_no_columns PROGRAM greedy_centers ARGS 2 EXIT 0
         INPUT_TEXT "2147483647 0" MATCH "\n\n")
# k far beyond the rows: the centres that repeat are not stored first.
cli_case(greedy_centers.k_beyond_every_row PROGRAM greedy_centers ARGS 2147483647 EXIT 1
         INPUT greedy_centers/two_distinct.in FULL_OUTPUT TIMEOUT 20)
cli_case(greedy_centers.help PROGRAM greedy_centers ARGS --help EXIT 0
         MATCH "usage : greedy_centers k < matrix\n\n[^\n]+\n(.|\n)*exits with 1.\n")
cli_case(greedy_centers.help_to_a_full_disk PROGRAM greedy_centers ARGS -h EXIT 1 FULL_OUTPUT)

# Bad input: one line on standard output, status 1, nothing on standard error.
set(K_ERROR "error : k must be a whole number from 1 to 2147483647")
set(SHAPE_ERROR "error reading the shape of the matrix")
set(BODY_ERROR "error reading the elements of the matrix")
set(NEG_SHAPE "error : a matrix needs at least 1 row and no negative column count, not")
cli_case(greedy_centers.no_arguments PROGRAM greedy_centers EXIT 1
         INPUT greedy_centers/corner_3x2.in MATCH "Command usage : [^\n]*greedy_centers k\n")
foreach(k 0 -3 abc 2147483648 99999999999999999999)
  cli_case(greedy_centers.k_invalid_${k} PROGRAM greedy_centers ARGS ${k} EXIT 1
           INPUT greedy_centers/corner_3x2.in LINE ${K_ERROR})
endforeach()
set(i 0)
foreach(shape "" "   \n" "3" "x 2" "3 x" "rows cols 1 2" "4294967297 1" "1 -2147483649")
  math(EXPR i "${i} + 1")
  cli_case(greedy_centers.shape_unreadable_${i} PROGRAM greedy_centers ARGS 2 EXIT 1
           INPUT_TEXT "${shape}" LINE ${SHAPE_ERROR})
endforeach()
cli_case(greedy_centers.rows_zero PROGRAM greedy_centers ARGS 1 EXIT 1 INPUT_TEXT "0 3" LINE "${NEG_SHAPE} 0 x 3")
cli_case(greedy_centers.rows_negative PROGRAM greedy_centers ARGS 1 EXIT 1 INPUT_TEXT "-2 3 1 2 3"
         LINE "${NEG_SHAPE} -2 x 3")
cli_case(greedy_centers.cols_negative PROGRAM greedy_centers ARGS 1 EXIT 1 INPUT_TEXT "2 -1 1 2"
         LINE "${NEG_SHAPE} 2 x -1")
set(i 0)
foreach(body "2 2 1 2 3" "2 2 1 2 x 4" "1 2 nx 5" "3 2\n")
  math(EXPR i "${i} + 1")
  cli_case(greedy_centers.body_unreadable_${i} PROGRAM greedy_centers ARGS 2 EXIT 1
           INPUT_TEXT "${body}" LINE ${BODY_ERROR})
endforeach()
# 2^31 - 1 rows by 2^31 - 1 columns: more bytes than any address space holds.
cli_case(greedy_centers.shape_beyond_memory PROGRAM greedy_centers ARGS 2 EXIT 1
         INPUT_TEXT "2147483647 2147483647 1 2"
         LINE "error : not enough memory for a 2147483647 x 2147483647 matrix")
# Over 2^31 elements with no body: refused at once, whether or not the storage
# is granted, and no memory is touched.
cli_case(greedy_centers.shape_huge_without_body PROGRAM greedy_centers ARGS 2 EXIT 1 TIMEOUT 10
         INPUT_TEXT "65536 32769"
         MATCH "error (reading the elements of the matrix|: not enough memory for a 65536 x 32769 matrix)\n")
