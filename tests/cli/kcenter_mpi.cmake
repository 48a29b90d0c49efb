# kcenter order under mpirun: on 1, 2, 3 and 4 processes (more than the
# cores, hence --oversubscribe) every input prints exactly the bytes one
# process prints, and ends with the same status. Each case runs its jobs in
# turn (failures on fewer counts); they hold the "mpi" lock, so no two jobs
# share the machine.
set(KC_LAUNCH ${MPIEXEC_EXECUTABLE} ${MPIEXEC_NUMPROC_FLAG} @P@ --oversubscribe ${MPIEXEC_PREFLAGS})
string(REPLACE ";" "|" KC_LAUNCH_LINE "${KC_LAUNCH}")
set(KC_MPI_OUT ${CMAKE_CURRENT_BINARY_DIR}/kcenter_mpi_out)
file(MAKE_DIRECTORY ${KC_MPI_OUT})
# Text files of the shared reading, made here: a body that ends short, one
# with a number that does not convert, and a shape no process can hold.
file(WRITE ${KC_MPI_OUT}/short_body.txt "3 2\n1 2\n3 4\n5\n")
file(WRITE ${KC_MPI_OUT}/bad_number.txt "3 2\n1 2\n3 x\n5 6\n")
file(WRITE ${KC_MPI_OUT}/beyond_memory.txt "2147483647 2147483647 1")

# same_on_processes(name STATUS s ARGS ... [FILES f ...] [INPUT file] [OUT file] [PROCS p ...])
function(same_on_processes name)
  cmake_parse_arguments(C "" "STATUS;INPUT;OUT" "ARGS;PROCS;FILES" ${ARGN})
  string(REPLACE ";" "|" args "${C_ARGS}")
  string(REPLACE ";" "|" files "${C_FILES}")
  if(NOT C_PROCS AND ENABLE_SANITIZERS)
    # Each job starts several times slower there: three processes, which
    # share rows unevenly; the Release build runs every count.
    set(C_PROCS 3)
  elseif(NOT C_PROCS)
    set(C_PROCS 1 2 3 4)
  endif()
  string(REPLACE ";" "|" procs "${C_PROCS}")
  set(test kcenter.processes.${name})
  add_test(NAME ${test}
           COMMAND ${CMAKE_COMMAND} -DKCENTER=$<TARGET_FILE:kcenter> "-DLAUNCHER=${KC_LAUNCH_LINE}"
                   "-DPROCS=${procs}" "-DARGS=${args}" "-DFILES=${files}" "-DINPUT=${C_INPUT}" "-DOUT=${C_OUT}"
                   -DSTATUS=${C_STATUS} -P ${CMAKE_CURRENT_LIST_DIR}/same_on_processes.cmake)
  math(EXPR timeout "120 * ${CLI_SLOWDOWN}")
  set_tests_properties(${test} PROPERTIES TIMEOUT ${timeout} LABELS cli RESOURCE_LOCK mpi PROCESSORS 2
                       ENVIRONMENT OMP_WAIT_POLICY=passive)
endfunction()

set(GC ${CLI_DATA}/greedy_centers)
# The test matrices, as files (each process reads its byte range) ...
same_on_processes(points_2000_k150 STATUS 0 ARGS order -k 150 ${GC}/points_2000x2.in)
same_on_processes(number_forms_and_trailing_text STATUS 0 ARGS order ${GC}/number_forms.in)
same_on_processes(ragged_text STATUS 0 ARGS order -t 2 ${KD}/ragged.txt)
# The small matrices of greedy_centers' cases: most processes hold one row
# or none, and equal distances lie on several.
set(small "")
set(small_names corner_3x2 tie_3x1 two_distinct all_equal one_row nan_row0 sum_order unfused trailing_text)
if(ENABLE_SANITIZERS)
  # Each job starts slowly there: three of them, the Release build runs all.
  set(small_names tie_3x1 one_row nan_row0)
endif()
foreach(m ${small_names})
  list(APPEND small ${GC}/${m}.in)
endforeach()
same_on_processes(small_matrices STATUS 0 ARGS order -k 4 FILES ${small})
# ... as .npy files (each process maps its rows) ...
same_on_processes(four_f4_fortran_s2 STATUS 0 ARGS order -s 2 ${KD}/four_f4.npy)
# ... and through standard input (rank 0 reads, the rows are scattered).
same_on_processes(grid27_stdin_k40 STATUS 0 ARGS order -k 40 INPUT ${GC}/grid27_1500x3.in)
# Ties between rows of different processes, the start on any process's row,
# the radius, rows of NaN and infinity repeated up to k, no columns.
same_on_processes(ties STATUS 0 ARGS order ${KD}/ties.txt)
same_on_processes(ties_start_on_last_rank STATUS 0 ARGS order -s 23 ${KD}/ties.txt)
same_on_processes(ties_start_mid STATUS 0 ARGS order -s 13 -k 3 ${KD}/ties.txt)
same_on_processes(ties_start_rows STATUS 0 ARGS order -s 23,0,13 -k 9 ${KD}/ties.txt)
same_on_processes(points_2000_radius STATUS 0 ARGS order -r 30.5 ${GC}/points_2000x2.in)
same_on_processes(nan_and_inf_rows_k6 STATUS 0 ARGS order -k 6 ${KD}/nan_inf.txt)
same_on_processes(no_columns STATUS 0 ARGS order -k 3 ${GC}/no_columns.in)
# Output files are written by rank 0 alone.
same_on_processes(to_npy_file STATUS 0 ARGS order -o ${KC_MPI_OUT}/order.npy ${KD}/ties.txt
                  OUT ${KC_MPI_OUT}/order.npy)
# Failures: one line, once, status 1 on every process.
same_on_processes(short_body STATUS 1 ARGS order ${KC_MPI_OUT}/short_body.txt PROCS 2 3)
same_on_processes(bad_number STATUS 1 ARGS order ${KC_MPI_OUT}/bad_number.txt PROCS 3)
same_on_processes(beyond_memory STATUS 1 ARGS order ${KC_MPI_OUT}/beyond_memory.txt PROCS 2)
same_on_processes(npy_short STATUS 1 ARGS order ${KD}/short.npy PROCS 2)
same_on_processes(start_beyond_rows STATUS 1 ARGS order -s 24 ${KD}/ties.txt PROCS 3)
same_on_processes(output_not_creatable STATUS 1 ARGS order -o ${KD}/missing/out.csv ${KD}/four.txt PROCS 2)

# One process alone fails to read (each part of the job is given its own
# input): it says why, once, and no process is left waiting.
set(np ${MPIEXEC_NUMPROC_FLAG})
set(launch ${MPIEXEC_EXECUTABLE} --oversubscribe ${MPIEXEC_PREFLAGS})
set(kc @PROGRAM@)
cli_case(kcenter.processes.rank1_cannot_open PROGRAM kcenter ARGS order ${KD}/missing.txt EXIT 1
         LAUNCHER_NOTICES LAUNCHER ${launch} ${np} 1 ${kc} order ${KD}/four.txt : ${np} 1
         LINE "error : could not open file ${KD}/missing.txt for reading")
cli_case(kcenter.processes.rank2_of_3_cannot_read PROGRAM kcenter ARGS order ${KD} EXIT 1
         LAUNCHER_NOTICES LAUNCHER ${launch} ${np} 2 ${kc} order ${KD}/four.txt : ${np} 1
         LINE "error : could not read file ${KD}")
cli_case(kcenter.processes.different_shapes PROGRAM kcenter ARGS order ${KD}/ties.txt EXIT 1
         LAUNCHER_NOTICES LAUNCHER ${launch} ${np} 1 ${kc} order ${KD}/four.txt : ${np} 1
         LINE "error : every process must read a matrix of the same shape")
# Files of one shape but other data (other numbers, or the same numbers as
# float32 in Fortran order), or another -o, are refused; a copy of the file
# is the same data.
file(COPY ${KD}/four_c8.npy DESTINATION ${KC_MPI_OUT}/copy)
cli_case(kcenter.processes.same_shape_other_numbers PROGRAM kcenter ARGS order -k 5 ${KD}/four_other.npy EXIT 1
         LAUNCHER_NOTICES LAUNCHER ${launch} ${np} 1 ${kc} order -k 5 ${KD}/four_c8.npy : ${np} 1
         LINE "error : every process must read the same data, not files that differ (in dtype, order, size or bytes)")
cli_case(kcenter.processes.same_numbers_other_dtype PROGRAM kcenter ARGS order ${KD}/four_f4.npy EXIT 1
         LAUNCHER_NOTICES LAUNCHER ${launch} ${np} 1 ${kc} order ${KD}/four_c8.npy : ${np} 1
         LINE "error : every process must read the same data, not files that differ (in dtype, order, size or bytes)")
cli_case(kcenter.processes.text_same_shape_other_numbers PROGRAM kcenter ARGS order ${KD}/four_other.txt EXIT 1
         LAUNCHER_NOTICES LAUNCHER ${launch} ${np} 1 ${kc} order ${KD}/four.txt : ${np} 1
         LINE "error : every process must read the same data, not files that differ (in dtype, order, size or bytes)")
cli_case(kcenter.processes.copies_of_one_file PROGRAM kcenter ARGS order ${KC_MPI_OUT}/copy/four_c8.npy EXIT 0
         LAUNCHER ${launch} ${np} 1 ${kc} order ${KD}/four_c8.npy : ${np} 1 MATCH ${FOUR_ORDER})
cli_case(kcenter.processes.different_outputs PROGRAM kcenter ARGS order -o ${KC_MPI_OUT}/b.csv ${KD}/four.txt EXIT 1
         LAUNCHER_NOTICES LAUNCHER ${launch} ${np} 1 ${kc} order -o ${KC_MPI_OUT}/a.csv ${KD}/four.txt : ${np} 1
         LINE "error : every process must be given the same -o")
cli_case(kcenter.processes.different_k PROGRAM kcenter ARGS order -k 2 ${KD}/four.txt EXIT 1
         LAUNCHER_NOTICES LAUNCHER ${launch} ${np} 1 ${kc} order ${KD}/four.txt : ${np} 1
         LINE "error : every process must be given the same -k, -r and -s")
# The pair is rank 0's alone; arguments are refused once.
cli_case(kcenter.processes.pair PROGRAM kcenter ARGS pair ${KD}/four_f4.npy EXIT 0
         LAUNCHER ${MPIEXEC_EXECUTABLE} ${np} 3 --oversubscribe ${MPIEXEC_PREFLAGS} MATCH "i,j,dist_sq\n1,3,34\n")
cli_case(kcenter.processes.bad_k PROGRAM kcenter ARGS order -k 0 EXIT 1 LAUNCHER_NOTICES
         LAUNCHER ${MPIEXEC_EXECUTABLE} ${np} 3 --oversubscribe ${MPIEXEC_PREFLAGS}
         LINE "error : k must be a whole number from 1 to 2147483647")
# A process the others cannot see refusing its arguments, or another command.
cli_case(kcenter.processes.bad_k_on_rank1 PROGRAM kcenter ARGS order -k 0 ${KD}/four.txt EXIT 1
         LAUNCHER_NOTICES LAUNCHER ${launch} ${np} 1 ${kc} order ${KD}/four.txt : ${np} 1
         LINE "error : k must be a whole number from 1 to 2147483647")
cli_case(kcenter.processes.other_command PROGRAM kcenter ARGS pair ${KD}/four.txt EXIT 1
         LAUNCHER_NOTICES LAUNCHER ${launch} ${np} 1 ${kc} order ${KD}/four.txt : ${np} 1
         LINE "error : every process must be given the same command")
# Other formats are read by rank 0 and scattered; --points runs on rank 0
# alone; numbers after the shape are refused however the text is cut.
file(WRITE ${KC_MPI_OUT}/no_shape_line.txt "0 0 0\n1 1 1\n3 4 5\n")
file(WRITE ${KC_MPI_OUT}/one_row_more.txt "2 2\n1 2\n3 4\n5 6\n")
same_on_processes(other_formats STATUS 0 ARGS order -k 3 FILES ${KD}/four.csv ${KD}/four_be.ply ${KD}/four_deflated.npz)
same_on_processes(points STATUS 0 ARGS order --points ${KD}/four_ascii.ply PROCS 2)
same_on_processes(numbers_after_shape STATUS 1 ARGS order FILES ${KC_MPI_OUT}/no_shape_line.txt
                  ${KC_MPI_OUT}/one_row_more.txt PROCS 2 3)
