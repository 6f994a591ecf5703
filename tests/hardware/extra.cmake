# The tool tests run the hostctl program built alongside.
add_dependencies(test_${name} hostctl)
target_compile_definitions(test_${name} PRIVATE TEST_HOSTCTL="$<TARGET_FILE:hostctl>")
