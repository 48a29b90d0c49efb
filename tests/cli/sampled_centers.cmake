# sampled_centers end to end, started by mpirun with 1, 2 and 3 processes
# (more processes than cores, hence --oversubscribe). The exact tuples each
# seed draws are checked by the sampled_centers_runs test below.
set(SC sampled_centers)
set(SC_DATA ${CLI_DATA}/sampled_centers)
function(mpirun_with processes out)
  set(${out} ${MPIEXEC_EXECUTABLE} ${MPIEXEC_NUMPROC_FLAG} ${processes} --oversubscribe
      ${MPIEXEC_PREFLAGS} PARENT_SCOPE)
endfunction()

# Files of 2000 and 2001 points.
set(lines "")
foreach(i RANGE 1 2000)
  string(APPEND lines "${i} -${i}.5\n")
endforeach()
set(SC_2000 ${CMAKE_CURRENT_BINARY_DIR}/points_2000.txt)
set(SC_2001 ${CMAKE_CURRENT_BINARY_DIR}/points_2001.txt)
file(WRITE ${SC_2000} "${lines}")
file(WRITE ${SC_2001} "${lines}2001 0\n")

set(SC_TIME "wall time used = [0-9]+\\.[0-9][0-9][0-9][0-9] sec\n")
set(SC_NO_COST "approximate optimal cost = 1\\.79769e\\+308\n")

# Answers on 1, 2 and 3 processes.
foreach(p 1 2 3)
  mpirun_with(${p} run)
  math(EXPR m50 "50 * ${p}")
  math(EXPR m5 "5 * ${p}")
  # One centre on each side of the four points covers them at squared radius 1.
  cli_case(${SC}.four_points_np${p} PROGRAM ${SC} LAUNCHER ${run} EXIT 0
           ARGS ${SC_DATA}/four_points.txt 2 50 7
           MATCH "number of 2-tuples checked = ${m50}\n${SC_TIME}approximate optimal cost = 1\napprox optimal centers : ([01] [23]|[23] [01]) \n")
  # No centre covers nothing: the largest finite double and an empty list.
  cli_case(${SC}.k_zero_np${p} PROGRAM ${SC} LAUNCHER ${run} EXIT 0
           ARGS ${SC_DATA}/four_points.txt 0 5 7
           MATCH "number of 0-tuples checked = ${m5}\n${SC_TIME}${SC_NO_COST}approx optimal centers : \n")
endforeach()

# Bad input on 2 processes: the line once per process, status 1; mpirun adds
# its own notice on standard error. The usage line comes before MPI starts,
# and mpirun may end the job before every process has printed it. Failures
# of the reader run on 1 and 3 processes too.
#            name | file | k | m | line (@ stands for the file)
foreach(case "missing_file|missing.txt|2|5|error : could not open file @ for reading"
             "directory|.|2|5|error : could not read file @"
             "empty_file|empty.txt|2|5|error : no points in file @"
             "no_number|text_only.txt|2|5|error : no points in file @"
             "k_negative|four_points.txt|-1|5|error : k must be a whole number from 0 to 2147483647"
             "k_over_32_bits|four_points.txt|2147483648|5|error : k must be a whole number from 0 to 2147483647"
             "k_beyond_long|four_points.txt|99999999999999999999|5|error : k must be a whole number from 0 to 2147483647"
             "m_zero|four_points.txt|2|0|error : m must be a whole number from 1 to 2147483647"
             "m_negative|four_points.txt|2|-4|error : m must be a whole number from 1 to 2147483647"
             "m_not_a_number|four_points.txt|2|abc|error : m must be a whole number from 1 to 2147483647"
             "m_over_32_bits|four_points.txt|2|4294967297|error : m must be a whole number from 1 to 2147483647")
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 name)
  list(GET parts 1 file)
  list(GET parts 2 k)
  list(GET parts 3 m)
  list(GET parts 4 line)
  string(REPLACE "@" "${SC_DATA}/${file}" line "${line}")
  set(counts 2)
  if(name MATCHES "file|directory|no_number")
    set(counts 1 2 3)
  endif()
  foreach(p ${counts})
    mpirun_with(${p} run)
    cli_case(${SC}.${name}_np${p} PROGRAM ${SC} LAUNCHER ${run} EXIT 1 LAUNCHER_NOTICES
             TIMEOUT 30 ARGS ${SC_DATA}/${file} ${k} ${m} 7 LINE "${line}" REPEAT ${p})
  endforeach()
endforeach()
foreach(p 1 2 3)
  mpirun_with(${p} run)
  cli_case(${SC}.too_many_points_np${p} PROGRAM ${SC} LAUNCHER ${run} EXIT 1 LAUNCHER_NOTICES
           TIMEOUT 30 ARGS ${SC_2001} 2 5 7 LINE "Too many points in file ${SC_2001}" REPEAT ${p})
endforeach()
mpirun_with(2 run)
cli_case(${SC}.too_few_arguments PROGRAM ${SC} LAUNCHER ${run} EXIT 1 LAUNCHER_NOTICES
         ARGS ${SC_DATA}/four_points.txt 2 50
         MATCH "(Command usage : [^\n]*sampled_centers filename k m s\n)+")
# NaN, or squares that overflow: no tuple costs less than the largest double,
# and the tuple shown is one that was drawn.
foreach(file nan_point overflow_and_infinity)
  cli_case(${SC}.${file} PROGRAM ${SC} LAUNCHER ${run} EXIT 0 ARGS ${SC_DATA}/${file}.txt 2 5 3
           MATCH "number of 2-tuples checked = 10\n${SC_TIME}${SC_NO_COST}approx optimal centers : [0-9]+ [0-9]+ \n")
endforeach()

mpirun_with(2 run)
# Arguments after the seed are ignored; k is read as strtol reads it.
cli_case(${SC}.extra_arguments_ignored PROGRAM ${SC} LAUNCHER ${run} EXIT 0
         ARGS ${SC_DATA}/four_points.txt 2xyz 50 7 more words
         MATCH "number of 2-tuples checked = 100\n${SC_TIME}approximate optimal cost = 1\napprox optimal centers : ([01] [23]|[23] [01]) \n")
cli_case(${SC}.points_2000 PROGRAM ${SC} LAUNCHER ${run} EXIT 0 ARGS ${SC_2000} 3 5 7
         MATCH "number of 3-tuples checked = 10\n${SC_TIME}approximate optimal cost = [0-9.e+]+\napprox optimal centers : [0-9]+ [0-9]+ [0-9]+ \n")

# The same failures without a launcher (a one-process job of its own): the
# program itself writes nothing on standard error.
cli_case(${SC}.alone_usage PROGRAM ${SC} EXIT 1 ARGS a b c
         MATCH "Command usage : [^\n]*sampled_centers filename k m s\n")
cli_case(${SC}.alone_missing_file PROGRAM ${SC} EXIT 1 ARGS ${SC_DATA}/missing.txt 2 5 7
         LINE "error : could not open file ${SC_DATA}/missing.txt for reading")
cli_case(${SC}.alone_four_points PROGRAM ${SC} EXIT 0 ARGS ${SC_DATA}/four_points.txt 2 50 7
         MATCH "number of 2-tuples checked = 50\n${SC_TIME}approximate optimal cost = 1\napprox optimal centers : ([01] [23]|[23] [01]) \n")

# A failure on one process only (each part of the job gets its own arguments):
# the others must not be left waiting for it in the gather. Only the failing
# process has something to say; the job ends with status 1. Every part of the
# job runs the same build (@PROGRAM@: the program, or its plain twin).
set(good ${SC_DATA}/four_points.txt 2 5 7)
set(missing ${SC_DATA}/missing.txt 2 5 7)
set(MISSING_LINE "error : could not open file ${SC_DATA}/missing.txt for reading")
set(app @PROGRAM@)
set(np ${MPIEXEC_NUMPROC_FLAG})
cli_case(${SC}.only_rank1_fails PROGRAM ${SC} ARGS ${missing} EXIT 1 LAUNCHER_NOTICES TIMEOUT 30
         LAUNCHER ${MPIEXEC_EXECUTABLE} --oversubscribe ${MPIEXEC_PREFLAGS} ${np} 1 ${app} ${good} : ${np} 1
         LINE ${MISSING_LINE})
cli_case(${SC}.only_rank0_fails PROGRAM ${SC} ARGS ${good} EXIT 1 LAUNCHER_NOTICES TIMEOUT 30
         LAUNCHER ${MPIEXEC_EXECUTABLE} --oversubscribe ${MPIEXEC_PREFLAGS} ${np} 1 ${app} ${missing} : ${np} 1
         LINE ${MISSING_LINE})
cli_case(${SC}.only_rank2_fails_of_3 PROGRAM ${SC} ARGS ${SC_2001} 2 5 7 EXIT 1 LAUNCHER_NOTICES TIMEOUT 30
         LAUNCHER ${MPIEXEC_EXECUTABLE} --oversubscribe ${MPIEXEC_PREFLAGS} ${np} 2 ${app} ${good} : ${np} 1
         LINE "Too many points in file ${SC_2001}")
cli_case(${SC}.only_rank1_bad_m_of_3 PROGRAM ${SC} ARGS ${good} EXIT 1 LAUNCHER_NOTICES TIMEOUT 30
         LAUNCHER ${MPIEXEC_EXECUTABLE} --oversubscribe ${MPIEXEC_PREFLAGS}
                  ${np} 1 ${app} ${good} : ${np} 1 ${app} ${SC_DATA}/four_points.txt 2 0 7 : ${np} 1
         LINE "error : m must be a whole number from 1 to 2147483647")

# Processes given different files or counts: rank 0 says so once, every
# process ends with status 1, nothing is gathered.
cli_case(${SC}.ranks_read_different_sets PROGRAM ${SC} ARGS ${SC_2000} 1 10 1 EXIT 1 LAUNCHER_NOTICES
         LAUNCHER ${MPIEXEC_EXECUTABLE} --oversubscribe ${MPIEXEC_PREFLAGS}
                  ${np} 1 ${app} ${SC_DATA}/four_points.txt 1 10 1 : ${np} 1
         LINE "error : every process must read the same number of points, not 4 to 2000")
cli_case(${SC}.ranks_given_different_k PROGRAM ${SC} ARGS ${good} EXIT 1 LAUNCHER_NOTICES
         LAUNCHER ${MPIEXEC_EXECUTABLE} --oversubscribe ${MPIEXEC_PREFLAGS}
                  ${np} 1 ${app} ${SC_DATA}/four_points.txt 3 5 7 : ${np} 2
         LINE "error : every process must be given the same k, not 2 to 3")

# The exact report, computed from the seeds by the reference model, for 1, 2
# and 3 processes.
string(REPLACE ";" " " preflags "${MPIEXEC_PREFLAGS}")
add_executable(sampled_centers_runs sampled_centers_runs.cpp)
target_include_directories(sampled_centers_runs PRIVATE ${PROJECT_SOURCE_DIR}/tests/unit)
target_compile_definitions(sampled_centers_runs PRIVATE
  "SC_MPIEXEC=\"${MPIEXEC_EXECUTABLE}\"" "SC_NUMPROC_FLAG=\"${MPIEXEC_NUMPROC_FLAG}\""
  "SC_PREFLAGS=\"${preflags}\"" "SC_PROGRAM=\"$<TARGET_FILE:sampled_centers>\""
  "SC_PROGRAM_PLAIN=\"$<TARGET_FILE:sampled_centers_plain>\""
  # Under sanitizers each job starts several times slower: 1 and 3 processes.
  "SC_PROCESS_STEP=$<IF:$<BOOL:${ENABLE_SANITIZERS}>,2,1>")
target_link_libraries(sampled_centers_runs PRIVATE test_support GTest::gtest_main test_flags)
add_dependencies(sampled_centers_runs sampled_centers sampled_centers_plain)
math(EXPR runs_timeout "120 * ${CLI_SLOWDOWN}")
gtest_discover_tests(sampled_centers_runs DISCOVERY_TIMEOUT 60
                     PROPERTIES LABELS cli TIMEOUT ${runs_timeout} RESOURCE_LOCK mpi PROCESSORS 2)

# Storage refused. Under a 2 GiB address space no process gets two lists of
# 2^31 - 1 indices; under about 5.7 GiB every process gets its two lists of
# 5 * 10^8 (4 GB), but rank 0 cannot add the 3 x 5 * 10^8 it gathers.
# (Sanitizers reserve more address space than these limits allow.)
if(NOT ENABLE_SANITIZERS)
  set(limited sh ${CMAKE_CURRENT_LIST_DIR}/with_memory_limit.sh)
  mpirun_with(2 run2)
  mpirun_with(3 run3)
  cli_case(${SC}.no_memory_for_tuples PROGRAM ${SC} EXIT 1 LAUNCHER_NOTICES TIMEOUT 30
           LAUNCHER ${limited} 2000000 ${run2} ARGS ${SC_DATA}/four_points.txt 2147483647 5 7
           LINE "error : not enough memory for 2147483647-tuples" REPEAT 2)
  cli_case(${SC}.no_memory_to_gather PROGRAM ${SC} EXIT 1 LAUNCHER_NOTICES TIMEOUT 30
           LAUNCHER ${limited} 6000000 ${run3} ARGS ${SC_DATA}/four_points.txt 500000000 5 7
           LINE "error : not enough memory to gather 3 tuples of 500000000 indices")
endif()

# -h or --help as the first argument: usage and description, status 0, before
# MPI starts, so also without a launcher.
cli_case(${SC}.help PROGRAM ${SC} ARGS --help EXIT 0
         MATCH "usage : mpirun -np P sampled_centers filename k m s\n\n[^\n]+\n(.|\n)*exits with 1.\n")
cli_case(${SC}.help_to_a_full_disk PROGRAM ${SC} ARGS -h EXIT 1 FULL_OUTPUT)
