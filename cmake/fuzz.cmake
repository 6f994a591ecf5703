# Builds the libFuzzer targets with clang and runs each for a short, bounded
# time as part of the test suite. Skipped when clang++ is not installed.
find_program(TARN_CLANGXX clang++)
file(GLOB TARN_FUZZ_SNIPPETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*.cmake)
if(TARN_CLANGXX AND TARN_FUZZ_SNIPPETS AND TARNCTL_TESTS)
  include(ExternalProject)
  ExternalProject_Add(tarn_fuzzers
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/fuzz
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
    CMAKE_ARGS -G Ninja -DCMAKE_CXX_COMPILER=${TARN_CLANGXX} -DCMAKE_BUILD_TYPE=Debug
               -DCMAKE_CXX_COMPILER_LAUNCHER=${CCACHE_PROGRAM}
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  set(TARN_FUZZ_SECONDS 20 CACHE STRING "How long each fuzzer runs in the suite")
  foreach(f ${TARN_FUZZ_SNIPPETS})
    file(STRINGS ${f} lines REGEX "^tarn_fuzzer\\(")
    foreach(line ${lines})
      string(REGEX REPLACE "^tarn_fuzzer\\(([A-Za-z0-9_]+).*" "\\1" fname "${line}")
      file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz-corpus/${fname})
      add_test(NAME fuzz.${fname}
        COMMAND ${CMAKE_BINARY_DIR}/fuzz/${fname} -max_total_time=${TARN_FUZZ_SECONDS}
                -timeout=5 -rss_limit_mb=2048 -print_final_stats=0 ${CMAKE_BINARY_DIR}/fuzz-corpus/${fname})
      set_tests_properties(fuzz.${fname} PROPERTIES TIMEOUT 120
        ENVIRONMENT "TARNCTL_ROOT=${CMAKE_BINARY_DIR}/fuzz-root;TARNCTL_LOG_LEVEL=none")
    endforeach()
  endforeach()
endif()
