# The output helpers are compiled into the test; the tool itself is run as a
# program, the way scripts use it.
target_sources(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tools/hostctl/output.cpp)
target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tools/hostctl)
add_dependencies(test_${name} hostctl)
target_compile_definitions(test_${name} PRIVATE HOSTCTL_PROGRAM="$<TARGET_FILE:hostctl>")
