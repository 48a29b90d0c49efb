# The text reader under the programs that read standard input.
# A number too long for the memory left is "not enough memory", not bad text:
# under a 32 MiB address space the buffer cannot grow to hold 5e7 digits,
# while a number of 1e6 digits still reads. (Sanitizers reserve more address
# space than this limit allows.)
if(NOT ENABLE_SANITIZERS)
  set(limited sh ${CMAKE_CURRENT_LIST_DIR}/with_memory_limit.sh 32768
      sh ${CMAKE_CURRENT_LIST_DIR}/long_number.sh)
  set(NO_MEMORY_LINE "error : not enough memory to read the input")
  foreach(program greedy_centers farthest_pair)
    foreach(where shape body)
      cli_case(${program}.no_memory_for_a_long_number_in_${where} PROGRAM ${program} ARGS 1 EXIT 1
               LAUNCHER ${limited} ${where} 50000000 TIMEOUT 30 LINE ${NO_MEMORY_LINE})
    endforeach()
  endforeach()
  cli_case(greedy_centers.long_number_within_memory PROGRAM greedy_centers ARGS 1 EXIT 0
           LAUNCHER ${limited} body 1000000 TIMEOUT 30 MATCH "1[.]000000 \n")
endif()
