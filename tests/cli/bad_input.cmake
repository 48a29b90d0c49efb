# The bad-input table of the README, one case per row and program: exit
# status 1 with exactly one line on standard output (0 where the input is
# valid after all), nothing on standard error, and never longer than
# BAD_INPUT_SECONDS: a huge shape with no body fails at once.
set(BAD_INPUT_SECONDS 10)
set(GC_DATA greedy_centers)
set(SC_FILES ${CLI_DATA}/sampled_centers)
set(FP_ITEM "\\([0-9]+,[0-9]+\\.[0-9][0-9][0-9][0-9]\\),")
set(SC_REPORT_NO_COST "number of [0-9]+-tuples checked = [0-9]+\nwall time used = [0-9.]+ sec\napproximate optimal cost = 1\\.79769e\\+308\napprox optimal centers : ([0-9]+ )*\n")
set(K_ERROR "error : k must be a whole number from 1 to 2147483647")
set(T_ERROR "error : the thread count must be a whole number from 1 to 4096")
set(SC_K_ERROR "error : k must be a whole number from 0 to 2147483647")
set(SC_M_ERROR "error : m must be a whole number from 1 to 2147483647")
set(SHAPE_ERROR "error reading the shape of the matrix")
set(BODY_ERROR "error reading the elements of the matrix")

# bad_input(<row> <program> <cli_case arguments>...)
function(bad_input row program)
  cli_case(bad_input.${row}.${program} PROGRAM ${program} TIMEOUT ${BAD_INPUT_SECONDS} ${ARGN})
endfunction()

# Argument count.
bad_input(argument_count greedy_centers EXIT 1 MATCH "Command usage : [^\n]*greedy_centers[_a-z]* k\n")
bad_input(argument_count farthest_pair ARGS 3 7 EXIT 0 INPUT_TEXT "2 1 0 5" MATCH "\\(1,[0-9.]+\\),")
bad_input(argument_count sampled_centers ARGS ${SC_FILES}/four_points.txt 2 5 EXIT 1
          MATCH "Command usage : [^\n]*sampled_centers[_a-z]* filename k m s\n")

# Numbers that are not numbers: counts read as 0, elements fail to convert.
bad_input(count_not_a_number greedy_centers ARGS many EXIT 1 INPUT_TEXT "1 1 5" LINE ${K_ERROR})
bad_input(count_not_a_number farthest_pair ARGS many EXIT 1 INPUT_TEXT "1 1 5" LINE ${T_ERROR})
bad_input(count_not_a_number sampled_centers ARGS ${SC_FILES}/four_points.txt 2 many 7 EXIT 1 LINE ${SC_M_ERROR})
bad_input(element_not_a_number greedy_centers ARGS 1 EXIT 1 INPUT_TEXT "2 1 5 five" LINE ${BODY_ERROR})
bad_input(element_not_a_number farthest_pair ARGS 1 EXIT 1 INPUT_TEXT "2 1 5 five" LINE ${BODY_ERROR})
bad_input(element_not_a_number sampled_centers ARGS ${SC_FILES}/text_only.txt 2 5 7 EXIT 1
          LINE "error : no points in file ${SC_FILES}/text_only.txt")

# Counts out of range.
bad_input(count_zero greedy_centers ARGS 0 EXIT 1 INPUT_TEXT "1 1 5" LINE ${K_ERROR})
bad_input(count_zero farthest_pair ARGS 0 EXIT 1 INPUT_TEXT "1 1 5" LINE ${T_ERROR})
bad_input(count_zero sampled_centers ARGS ${SC_FILES}/four_points.txt 2 0 7 EXIT 1 LINE ${SC_M_ERROR})
bad_input(count_negative greedy_centers ARGS -2 EXIT 1 INPUT_TEXT "1 1 5" LINE ${K_ERROR})
bad_input(count_negative farthest_pair ARGS -2 EXIT 1 INPUT_TEXT "1 1 5" LINE ${T_ERROR})
bad_input(count_negative sampled_centers ARGS ${SC_FILES}/four_points.txt -2 5 7 EXIT 1 LINE ${SC_K_ERROR})
bad_input(count_too_large greedy_centers ARGS 2147483648 EXIT 1 INPUT_TEXT "1 1 5" LINE ${K_ERROR})
bad_input(count_too_large farthest_pair ARGS 4097 EXIT 1 INPUT_TEXT "1 1 5" LINE ${T_ERROR})
bad_input(count_too_large sampled_centers ARGS ${SC_FILES}/four_points.txt 2 4294967296 7 EXIT 1 LINE ${SC_M_ERROR})

# The shape line.
foreach(program greedy_centers farthest_pair)
  bad_input(shape_missing ${program} ARGS 2 EXIT 1 LINE ${SHAPE_ERROR})
  bad_input(shape_not_numbers ${program} ARGS 2 EXIT 1 INPUT_TEXT "rows cols 1 2" LINE ${SHAPE_ERROR})
  bad_input(shape_one_number ${program} ARGS 2 EXIT 1 INPUT_TEXT "3\n" LINE ${SHAPE_ERROR})
  bad_input(shape_beyond_32_bits ${program} ARGS 2 EXIT 1 INPUT_TEXT "2 4294967296 1 2" LINE ${SHAPE_ERROR})
  bad_input(shape_negative ${program} ARGS 2 EXIT 1 INPUT_TEXT "-3 2 1 2" MATCH "error : a matrix needs [^\n]*not -3 x 2\n")
  bad_input(shape_beyond_memory ${program} ARGS 2 EXIT 1 INPUT_TEXT "2147483647 2147483647 1 2"
            LINE "error : not enough memory for a 2147483647 x 2147483647 matrix")
  bad_input(shape_huge_without_body ${program} ARGS 2 EXIT 1 INPUT_TEXT "65536 32769 1 2"
            MATCH "error (reading the elements of the matrix|: not enough memory for a 65536 x 32769 matrix)\n")
  # Valid: a huge number of rows with no columns answers at once.
  bad_input(shape_no_columns_many_rows ${program} ARGS 2 EXIT 0 INPUT_TEXT "2147483647 0"
            MATCH "(\n\n|\\(2,[0-9.]+\\),)")
  bad_input(body_short ${program} ARGS 2 EXIT 1 INPUT_TEXT "3 2 1 2 3 4 5" LINE ${BODY_ERROR})
  bad_input(body_empty ${program} ARGS 2 EXIT 1 INPUT_TEXT "3 2\n" LINE ${BODY_ERROR})
endforeach()
bad_input(shape_zero_rows greedy_centers ARGS 2 EXIT 1 INPUT_TEXT "0 2"
          LINE "error : a matrix needs at least 1 row and no negative column count, not 0 x 2")
bad_input(shape_zero_rows farthest_pair ARGS 2 EXIT 0 INPUT_TEXT "0 2" MATCH "\\(2,[0-9.]+\\),")

# Files.
bad_input(file_missing sampled_centers ARGS ${SC_FILES}/missing.txt 2 5 7 EXIT 1
          LINE "error : could not open file ${SC_FILES}/missing.txt for reading")
bad_input(file_unreadable sampled_centers ARGS ${SC_FILES} 2 5 7 EXIT 1
          LINE "error : could not read file ${SC_FILES}")
bad_input(file_empty sampled_centers ARGS ${SC_FILES}/empty.txt 2 5 7 EXIT 1
          LINE "error : no points in file ${SC_FILES}/empty.txt")
bad_input(file_too_many_points sampled_centers ARGS ${SC_2001} 2 5 7 EXIT 1
          LINE "Too many points in file ${SC_2001}")

# NaN and infinity in the data: valid input with a documented answer.
bad_input(data_nan greedy_centers ARGS 3 EXIT 0 INPUT ${GC_DATA}/nan_row1.in EXPECT ${GC_DATA}/nan_row1_k3.out)
bad_input(data_infinity greedy_centers ARGS 3 EXIT 0 INPUT ${GC_DATA}/infinity.in EXPECT ${GC_DATA}/infinity_k3.out)
bad_input(data_nan_and_infinity farthest_pair ARGS 2 EXIT 0 INPUT_TEXT "3 2 0 nan inf 1 -inf 2" MATCH ${FP_ITEM})
bad_input(data_nan sampled_centers ARGS ${SC_FILES}/nan_point.txt 2 5 3 EXIT 0 MATCH ${SC_REPORT_NO_COST})
bad_input(data_overflow_and_infinity sampled_centers ARGS ${SC_FILES}/overflow_and_infinity.txt 2 5 3 EXIT 0
          MATCH ${SC_REPORT_NO_COST})
