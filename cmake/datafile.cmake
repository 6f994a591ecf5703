# Helpers of the build-time generators (run in script mode): data files that
# keep one JSON object a line, and generated sources written only on change.

# Sets `out` to the lines of `file`. Brackets and semicolons would confuse
# CMake's list splitting: they stay hidden until tarn_data_line restores them.
function(tarn_read_data_lines file out)
  file(READ "${file}" content)
  string(REPLACE ";" "@SC@" content "${content}")
  string(REPLACE "[" "@LB@" content "${content}")
  string(REPLACE "]" "@RB@" content "${content}")
  string(REPLACE "\n" ";" lines "${content}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# One line of tarn_read_data_lines as its text, without surrounding blanks or
# the comma that separates it from the next.
function(tarn_data_line line out)
  string(REPLACE "@SC@" ";" line "${line}")
  string(REPLACE "@LB@" "[" line "${line}")
  string(REPLACE "@RB@" "]" line "${line}")
  string(STRIP "${line}" line)
  string(REGEX REPLACE ",$" "" line "${line}")
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

# Writes `text` to `path` only when it differs, so that an unrelated edit
# rebuilds nothing.
function(tarn_write_if_changed path text)
  file(WRITE "${path}.tmp" "${text}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${path}.tmp" "${path}")
  file(REMOVE "${path}.tmp")
endfunction()
