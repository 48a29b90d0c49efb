# suite_program(<name> SOURCES a.cpp ... LIBRARIES lib ... [PLAIN_TWIN])
# A program of the suite: its sources (main and the functions named for it),
# the libraries it links, the command line's helpers among them. With
# PLAIN_TWIN, also <name>_plain: the same program on its plain path whatever
# FORCE_PLAIN_PATH says; the tests run the cases that print an answer on
# both, and the benchmarks time one against the other.
function(suite_program name)
  cmake_parse_arguments(P "PLAIN_TWIN" "" "SOURCES;LIBRARIES" ${ARGN})
  set(targets ${name})
  if(P_PLAIN_TWIN)
    list(APPEND targets ${name}_plain)
  endif()
  foreach(target ${targets})
    add_executable(${target} ${P_SOURCES})
    target_link_libraries(${target} PRIVATE ${P_LIBRARIES} cli build_flags)
  endforeach()
  if(FORCE_PLAIN_PATH)
    target_compile_definitions(${name} PRIVATE FORCE_PLAIN_PATH)
  endif()
  if(P_PLAIN_TWIN)
    target_compile_definitions(${name}_plain PRIVATE FORCE_PLAIN_PATH)
  endif()
endfunction()
