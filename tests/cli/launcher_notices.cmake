# Sets ${result} FALSE when standard error (err) repeats a line the program
# printed on standard output (out): a launcher's notice may stand there, the
# program's own line may not.
function(no_line_repeated out err result)
  string(REPLACE "\n" ";" printed "${out}")
  foreach(line IN LISTS printed)
    string(FIND "${err}" "${line}" at)
    if(NOT line STREQUAL "" AND at GREATER -1)
      set(${result} FALSE PARENT_SCOPE)
    endif()
  endforeach()
endfunction()
