# The programs under valgrind's memcheck on small inputs: any invalid access,
# use of uninitialised memory or definite leak makes valgrind print and exit
# with 99, which fails the case (it expects the program's own status and an
# empty standard error). Not in sanitizer builds, which check the same things.
find_program(VALGRIND valgrind)
if(NOT VALGRIND OR ENABLE_SANITIZERS)
  return()
endif()
set(MEMCHECK ${VALGRIND} -q --error-exitcode=99 --leak-check=full
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect)

function(memcheck_case name)
  cli_case(memcheck.${name} LAUNCHER ${MEMCHECK} ${ARGN})
  set_tests_properties(memcheck.${name} PROPERTIES LABELS memcheck)
endfunction()

memcheck_case(greedy_centers.answer PROGRAM greedy_centers ARGS 3 EXIT 0
              INPUT greedy_centers/nan_row1.in EXPECT greedy_centers/nan_row1_k3.out)
memcheck_case(greedy_centers.k_beyond_distinct_rows PROGRAM greedy_centers ARGS 4 EXIT 0
              INPUT greedy_centers/two_distinct.in EXPECT greedy_centers/two_distinct_k4.out)
memcheck_case(greedy_centers.short_body PROGRAM greedy_centers ARGS 2 EXIT 1 INPUT_TEXT "2 2 1 2 3"
              LINE "error reading the elements of the matrix")
memcheck_case(greedy_centers.bad_shape PROGRAM greedy_centers ARGS 2 EXIT 1 INPUT_TEXT "-1 2"
              MATCH "error : [^\n]*\n")

# OpenMP's runtime keeps its thread pool until the process ends; that memory is
# still reachable, not leaked, and only definite and indirect leaks count.
memcheck_case(farthest_pair.two_threads PROGRAM farthest_pair ARGS 2 EXIT 0
              INPUT farthest_pair/points_6x3.in MATCH "\\(2,[0-9]+\\.[0-9][0-9][0-9][0-9]\\),")
memcheck_case(farthest_pair.short_body PROGRAM farthest_pair EXIT 1 INPUT_TEXT "2 2 1 2 3"
              LINE "error reading the elements of the matrix")
