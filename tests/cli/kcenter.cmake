# kcenter end to end: exact standard output, exit status, empty standard error.
# The files in data/kcenter come from its make_files.py; four.txt and the
# four_*.npy files hold the same 4 x 2 matrix, in text and as NumPy arrays.
set(KD ${CLI_DATA}/kcenter)
set(FOUR_ORDER "step,row,dist_sq\n0,0,inf\n1,1,25\n2,3,5\n3,2,2\n")
set(KC_OUT ${CMAKE_CURRENT_BINARY_DIR}/kcenter_out)
file(MAKE_DIRECTORY ${KC_OUT}/taken.csv)  # a directory: never replaced
set(PIPE sh ${CMAKE_CURRENT_LIST_DIR}/through_pipe.sh)

function(kc name)
  cli_case(kcenter.${name} PROGRAM kcenter ${ARGN})
endfunction()

# The same order from text or NumPy, file or standard input, file or pipe.
kc(order_text_stdin ARGS order EXIT 0 INPUT kcenter/four.txt MATCH ${FOUR_ORDER})
kc(order_text_pipe ARGS order - EXIT 0 LAUNCHER ${PIPE} INPUT kcenter/four.txt MATCH ${FOUR_ORDER})
foreach(file four.txt four_c8.npy four_f4.npy four_v2.npy)
  kc(order_${file} ARGS order -t 2 ${KD}/${file} EXIT 0 MATCH ${FOUR_ORDER})
endforeach()
kc(order_npy_stdin ARGS order EXIT 0 INPUT kcenter/four_c8.npy MATCH ${FOUR_ORDER})
kc(order_npy_pipe ARGS order EXIT 0 LAUNCHER ${PIPE} INPUT kcenter/four_f4.npy MATCH ${FOUR_ORDER})
# Data after the array in a pipe is left unread, as NumPy reads a stream.
kc(order_npy_pipe_then_more ARGS order EXIT 0 LAUNCHER ${PIPE} INPUT kcenter/long.npy MATCH ${FOUR_ORDER})

# The limits: -k, -r (5 lies within 2.3, not within 2.2), -s.
kc(order_k2 ARGS order -k 2 ${KD}/four.txt EXIT 0 MATCH "step,row,dist_sq\n0,0,inf\n1,1,25\n")
kc(order_r2.3 ARGS order -r 2.3 ${KD}/four.txt EXIT 0 MATCH "step,row,dist_sq\n0,0,inf\n1,1,25\n")
kc(order_r2.2 ARGS order -r2.2 ${KD}/four.txt EXIT 0 MATCH "step,row,dist_sq\n0,0,inf\n1,1,25\n2,3,5\n")
kc(order_r0 ARGS order -r 0 ${KD}/four.txt EXIT 0 MATCH ${FOUR_ORDER})
kc(order_s2 ARGS order -s 2 ${KD}/four.txt EXIT 0 MATCH "step,row,dist_sq\n0,2,inf\n1,1,13\n2,3,9\n3,0,2\n")
# Start rows: given first, in order, each at its distance to those before; k counts them.
kc(order_start_rows ARGS order -s 3,0 ${KD}/four.txt EXIT 0 MATCH "step,row,dist_sq\n0,3,inf\n1,0,5\n2,1,25\n3,2,2\n")
kc(order_start_file ARGS order -S ${KD}/start_3_0.txt ${KD}/four.txt EXIT 0 MATCH "step,row,dist_sq\n0,3,inf\n1,0,5\n2,1,25\n3,2,2\n")
kc(order_start_npy ARGS order -S ${KD}/start_3_0_2.npy ${KD}/four_c8.npy EXIT 0 MATCH "step,row,dist_sq\n0,3,inf\n1,0,5\n2,2,2\n3,1,13\n")
kc(start_file_not_whole ARGS order -S ${KD}/four.txt ${KD}/four.txt EXIT 1
   LINE "error : ${KD}/four.txt line 1: '4 2' is not a whole number from 0 to 2147483647")
kc(start_file_dtype ARGS order -S ${KD}/start_f8.npy ${KD}/four.txt EXIT 1
   LINE "error : ${KD}/start_f8.npy holds dtype '<f8', not little-endian integers")
kc(start_both ARGS order -s 1 -S ${KD}/start_3_0.txt ${KD}/four.txt EXIT 1 LINE "error : the start rows come from -s or -S, not both")
kc(order_start_rows_k1 ARGS order -k 1 -s 3,0 ${KD}/four.txt EXIT 0 MATCH "step,row,dist_sq\n0,3,inf\n")
# A NaN row comes next, once, and the order goes on over the other rows.
foreach(k "" "-k4")
  kc(order_nan${k} ARGS order ${k} EXIT 0 INPUT greedy_centers/nan_row1.in
     MATCH "step,row,dist_sq\n0,0,inf\n1,1,1[.]7976931348623157e[+]308\n2,2,25\n")
endforeach()
kc(order_no_rows ARGS order ${KD}/zero_rows.npy EXIT 0 MATCH "step,row,dist_sq\n")
kc(order_no_columns ARGS order -k 3 EXIT 0 INPUT_TEXT "3 0" MATCH "step,row,dist_sq\n0,0,inf\n")
kc(order_to_files ARGS order -o ${KC_OUT}/order.csv ${KD}/four.txt EXIT 0 MATCH "")

# The pair; when none lies apart, the first pair at distance 0; else no pair.
kc(pair ARGS pair -t 3 ${KD}/four_f4.npy EXIT 0 MATCH "i,j,dist_sq\n1,3,34\n")
kc(pair_all_equal ARGS pair EXIT 0 INPUT_TEXT "3 2 nan 1 5 5 5 5" MATCH "i,j,dist_sq\n1,2,0\n")
kc(pair_one_row ARGS pair EXIT 0 INPUT_TEXT "1 2 5 5" LINE "no pair : fewer than two rows")
kc(pair_no_rows ARGS pair ${KD}/zero_rows.npy EXIT 0 LINE "no pair : fewer than two rows")
kc(pair_all_nan ARGS pair EXIT 0 INPUT_TEXT "2 2 nan 1 2 nan"
   LINE "no pair : no distance between two rows is a number")
kc(pair_no_pair_to_file ARGS pair -o ${KC_OUT}/pair.npy EXIT 0 INPUT_TEXT "1 1 5"
   LINE "no pair : fewer than two rows")

# A batch (a 3-D .npy file): each item ordered as if alone; --lengths cuts items short.
set(BATCH_ORDER "item,step,row,dist_sq\n0,0,0,inf\n0,1,1,25\n0,2,3,5\n0,3,2,2\n1,0,0,inf\n1,1,2,34\n1,2,1,9\n1,3,3,2\n")
kc(batch ARGS order -t 2 ${KD}/batch_2x4x2.npy EXIT 0 MATCH ${BATCH_ORDER})
kc(batch_lengths ARGS order -k 3 --lengths ${KD}/lengths_4_2.txt ${KD}/batch_2x4x2.npy EXIT 0
   MATCH "item,step,row,dist_sq\n0,0,0,inf\n0,1,1,25\n0,2,3,5\n1,0,0,inf\n1,1,1,9\n")
kc(batch_lengths_count ARGS order --lengths ${KD}/lengths_9.txt ${KD}/batch_2x4x2.npy EXIT 1
   LINE "error : --lengths gives 1 lengths for a batch of 2 items")
kc(batch_lengths_without_batch ARGS order --lengths ${KD}/lengths_4_2.txt ${KD}/four.txt EXIT 1
   LINE "error : --lengths applies to a batch (a 3-dimensional .npy file) only")
kc(batch_through_pipe ARGS order EXIT 1 INPUT kcenter/batch_2x4x2.npy
   LINE "error : standard input holds a batch (a 3-dimensional array): batches are read from files, not pipes")

# assign: each row's nearest step of the order with the same options, the
# earliest among equals; a NaN row has none.
kc(assign_k2 ARGS assign -k 2 ${KD}/four.txt EXIT 0 MATCH "row,centre,dist_sq\n0,0,0\n1,1,0\n2,0,2\n3,0,5\n")
kc(assign_start_rows ARGS assign -s 3,1 -k 2 ${KD}/four.txt EXIT 0 MATCH "row,centre,dist_sq\n0,3,5\n1,1,0\n2,3,9\n3,3,0\n")
kc(assign_nan_row ARGS assign -k 2 EXIT 0 INPUT greedy_centers/nan_row1.in MATCH "row,centre,dist_sq\n0,0,0\n1,-1,nan\n2,0,25\n")
kc(help_assign ARGS assign -h EXIT 0 MATCH "usage : kcenter assign [^\n]+\n\n(.|\n)+")

# Each command's help opens with its own usage line; none reaches a full disk.
kc(help_overview ARGS --help EXIT 0 MATCH "usage : kcenter order [^\n]+\n        kcenter pair [^\n]+\n(.|\n)*exits with 1.\n")
kc(help_order ARGS order --help EXIT 0 MATCH "usage : kcenter order [^\n]+\n\n(.|\n)+")
kc(help_pair ARGS pair -h EXIT 0 MATCH "usage : kcenter pair [^\n]+\n\n(.|\n)+")
kc(help_to_a_full_disk ARGS order --help EXIT 1 FULL_OUTPUT)

# Every error line, once.
kc(no_command EXIT 1 MATCH "Command usage : [^\n]*kcenter order[|]pair[|]assign [[]options[]] [[]INPUT[]]\n")
kc(unknown_command ARGS sort EXIT 1 LINE "error : unknown command sort (the commands are order, pair and assign)")
kc(unknown_option ARGS pair -r 2 EXIT 1 LINE "error : unknown option -r for kcenter pair")
kc(missing_value ARGS order -s EXIT 1 LINE "error : option -s needs a value")
kc(bad_k ARGS order -k 0 EXIT 1 LINE "error : k must be a whole number from 1 to 2147483647")
kc(bad_radius ARGS order -r -1 EXIT 1 LINE "error : the radius must be a number from 0 up (inf allowed)")
kc(bad_start ARGS order -s x EXIT 1 LINE "error : the start row must be a whole number from 0 to 2147483647")
kc(bad_threads ARGS pair -t 4097 EXIT 1 LINE "error : the thread count must be a whole number from 1 to 4096")
kc(bad_output_name ARGS pair -o out.txt EXIT 1 LINE "error : the output file must end in .csv or .npy, not out.txt")
kc(two_inputs ARGS pair a b EXIT 1 LINE "error : one input at most, not also b")
kc(start_beyond_rows ARGS order -s 1,4 ${KD}/four.txt EXIT 1
   LINE "error : the start row 4 is not a row of a matrix of 4 rows")
kc(start_repeated ARGS order -s 1,0,1 ${KD}/four.txt EXIT 1 LINE "error : the start row 1 is given twice")
kc(missing_file ARGS order ${KD}/missing.npy EXIT 1 LINE "error : could not open file ${KD}/missing.npy for reading")
kc(unreadable_file ARGS order ${KD} EXIT 1 LINE "error : could not read file ${KD}")
kc(output_not_creatable ARGS order -o ${KD}/missing/out.csv ${KD}/four.txt EXIT 1
   LINE "error : could not open file ${KD}/missing/out.csv for writing")
kc(output_not_regular ARGS order -o ${KC_OUT}/taken.csv ${KD}/four.txt EXIT 1
   LINE "error : the output ${KC_OUT}/taken.csv exists and is not a regular file")
kc(output_not_written ARGS order -o ${KC_OUT}/no_room.csv ${KD}/four.txt EXIT 1
   LAUNCHER sh ${CMAKE_CURRENT_LIST_DIR}/with_no_file_room.sh LINE "error : could not write file ${KC_OUT}/no_room.csv")
kc(text_shape ARGS order EXIT 1 INPUT_TEXT "4 x" LINE "error reading the shape of the matrix")
kc(text_negative_shape ARGS order EXIT 1 INPUT_TEXT "-4 2"
   LINE "error : a matrix needs no negative row or column count, not -4 x 2")
kc(text_body ARGS order EXIT 1 INPUT_TEXT "2 2 1 2 x 4" LINE "error reading the elements of the matrix")
kc(text_beyond_memory ARGS order EXIT 1 INPUT_TEXT "2147483647 2147483647 1"
   LINE "error : not enough memory for a 2147483647 x 2147483647 matrix")
kc(text_huge_without_body ARGS order EXIT 1 INPUT_TEXT "65536 32769 1 2" TIMEOUT 10
   MATCH "error (reading the elements of the matrix|: not enough memory for a 65536 x 32769 matrix)\n")
kc(text_empty ARGS pair EXIT 1 LINE "error reading the shape of the matrix")
kc(text_many_rows_no_columns ARGS pair EXIT 0 INPUT_TEXT "2147483647 0" TIMEOUT 10 MATCH "i,j,dist_sq\n0,1,0\n")

set(DTYPE_LINE ", not little-endian float64 ('<f8') or float32 ('<f4')")
set(NPY_CASES
    "version_4|is a NumPy file of format version 4.0, not 1.0, 2.0 or 3.0"
    "header_cut|ends inside its NumPy header"
    "bad_header|@ is not a valid dict literal"
    "missing_key|@ must have exactly the keys 'descr', 'fortran_order' and 'shape'"
    "bad_order|@ has a fortran_order other than True or False"
    "big_endian|holds dtype '>f8'${DTYPE_LINE}"
    "int64|holds dtype '<i8'${DTYPE_LINE}"
    "complex|holds dtype '<c16'${DTYPE_LINE}"
    "object|holds dtype '|O'${DTYPE_LINE}"
    "bad_shape|@ has a shape that is not a tuple of whole numbers"
    "one_d|holds a 1-dimensional array, not a matrix (2-dimensional)"
    "too_large|holds more than 2147483647 rows or columns"
    "huge_shape|has shape 2000000000 x 2000000000, whose data would take 32000000000000000000 bytes, more than a file can hold"
    "short|holds 61 bytes of data where its shape needs 64"
    "long|holds 65 bytes of data where its shape needs 64"
    "lying|holds 64 bytes of data where its shape needs 1600000000")
foreach(case ${NPY_CASES})
  string(FIND "${case}" "|" bar)
  string(SUBSTRING "${case}" 0 ${bar} file)
  math(EXPR bar "${bar} + 1")
  string(SUBSTRING "${case}" ${bar} -1 tail)
  set(path ${KD}/${file}.npy)
  if(tail MATCHES "^@")
    string(REPLACE "@" "error : the NumPy header of ${path}" line "${tail}")
  else()
    set(line "error : ${path} ${tail}")
  endif()
  kc(npy_${file} ARGS order ${path} EXIT 1 LINE "${line}")
endforeach()
# Bytes of a header that would break the line or drive a terminal print escaped.
kc(npy_descr_newline ARGS order ${KD}/descr_newline.npy EXIT 1
   LINE "error : ${KD}/descr_newline.npy holds dtype '<f\\\\n8'${DTYPE_LINE}")
kc(npy_descr_escape ARGS order ${KD}/descr_escape.npy EXIT 1
   LINE "error : ${KD}/descr_escape.npy holds dtype '\\x1b[2J<f8'${DTYPE_LINE}")
kc(npy_header_too_long ARGS order ${KD}/header_too_long.npy EXIT 1
   LINE "error : ${KD}/header_too_long.npy has a NumPy header of 16777216 bytes, more than 1048576")
# Through a pipe: a header length is refused before it is read, and a shape
# that promises 1.6 GB over 64 bytes costs no memory it does not need.
kc(npy_pipe_header_too_long ARGS order EXIT 1 LAUNCHER ${PIPE} INPUT kcenter/header_too_long.npy
   LINE "error : standard input has a NumPy header of 16777216 bytes, more than 1048576")
if(NOT ENABLE_SANITIZERS)
  kc(npy_pipe_lying_within_memory ARGS order EXIT 1 TIMEOUT 30
     LAUNCHER sh ${CMAKE_CURRENT_LIST_DIR}/with_memory_limit.sh 65536 ${PIPE} INPUT kcenter/lying.npy
     LINE "error : standard input holds 64 bytes of data where its shape needs 1600000000")
  # Room for the matrix (2.4 GB) in 3 GiB, but not for mapping the file too.
  kc(npy_no_memory_to_map ARGS order ${KC_OUT}/sparse.npy EXIT 1 TIMEOUT 30
     LAUNCHER sh ${CMAKE_CURRENT_LIST_DIR}/sparse_copy.sh ${KD}/sparse_header.npy ${KC_OUT}/sparse.npy 2400000128
              sh ${CMAKE_CURRENT_LIST_DIR}/with_memory_limit.sh 3145728
     LINE "error : not enough memory for a 100000000 x 3 matrix")
  kc(text_no_memory_to_read ARGS order EXIT 1 TIMEOUT 30
     LAUNCHER sh ${CMAKE_CURRENT_LIST_DIR}/with_memory_limit.sh 32768
              sh ${CMAKE_CURRENT_LIST_DIR}/long_number.sh shape 50000000
     LINE "error : not enough memory to read the input")
endif()

# The order agrees with greedy_centers on every matrix its own cases hold.
add_executable(print_rows print_rows.cpp)
target_link_libraries(print_rows PRIVATE matvec build_flags)
target_compile_options(print_rows PRIVATE -Wpedantic -Wshadow -Wconversion -Wsign-conversion)
foreach(case ${GC_OK})
  string(REPLACE ":" ";" parts ${case})
  list(GET parts 0 input)
  list(GET parts 1 k)
  add_test(NAME kcenter.same_as_greedy_centers.${input}_k${k}
           COMMAND ${CMAKE_COMMAND} -DKCENTER=$<TARGET_FILE:kcenter> -DPRINT_ROWS=$<TARGET_FILE:print_rows>
                   -DMATRIX=${CLI_DATA}/greedy_centers/${input}.in -DK=${k}
                   -DEXPECT=${CLI_DATA}/greedy_centers/${input}_k${k}.out
                   -P ${CMAKE_CURRENT_LIST_DIR}/kcenter_greedy.cmake)
  set_tests_properties(kcenter.same_as_greedy_centers.${input}_k${k} PROPERTIES TIMEOUT 60 LABELS cli)
endforeach()

# Under valgrind: the mapped file, the converted one, a pipe, and a refusal.
if(COMMAND memcheck_case)
  memcheck_case(kcenter.order_mapped PROGRAM kcenter ARGS order ${KD}/four_c8.npy EXIT 0 MATCH ${FOUR_ORDER})
  memcheck_case(kcenter.pair_converted PROGRAM kcenter ARGS pair -o ${KC_OUT}/memcheck.npy ${KD}/four_f4.npy
                EXIT 0 MATCH "")
  memcheck_case(kcenter.order_text_stdin PROGRAM kcenter ARGS order -k 2 -r 1 EXIT 0 INPUT kcenter/four.txt
                MATCH "step,row,dist_sq\n0,0,inf\n1,1,25\n")
  memcheck_case(kcenter.refused PROGRAM kcenter ARGS order ${KD}/short.npy EXIT 1
                LINE "error : ${KD}/short.npy holds 61 bytes of data where its shape needs 64")
endif()
