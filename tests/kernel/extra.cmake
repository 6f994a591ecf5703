# The layering checks compile stand-alone files with the library's include
# paths; they are not part of the test program.
list(FILTER srcs EXCLUDE REGEX "/layering/")
set_property(TARGET test_${name} PROPERTY SOURCES ${srcs})
foreach(layering_case library_includes_sim:fail library_includes_platform:pass)
  string(REPLACE ":" ";" layering_case ${layering_case})
  list(GET layering_case 0 layering_file)
  list(GET layering_case 1 layering_expect)
  add_test(NAME Layering.${layering_file}
    COMMAND ${CMAKE_COMMAND} -DCXX=${CMAKE_CXX_COMPILER}
      "-DINCLUDES=$<JOIN:$<TARGET_PROPERTY:tarnctl,INCLUDE_DIRECTORIES>,|>"
      -DSOURCE=${dir}/layering/${layering_file}.cpp -DEXPECT=${layering_expect}
      -P ${dir}/layering/check.cmake)
endforeach()
