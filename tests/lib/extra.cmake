# Plug-in libraries the loader tests dlopen: one that fills the hooks, one
# without the entry symbol. They are not part of the test program itself.
list(FILTER srcs EXCLUDE REGEX "/plugins/")
set_property(TARGET test_${name} PROPERTY SOURCES ${srcs})
add_library(test_good_plugin MODULE ${dir}/plugins/good_plugin.cpp)
target_link_libraries(test_good_plugin PRIVATE tarnctl_internal)
add_library(test_nosym_plugin MODULE ${dir}/plugins/nosym_plugin.cpp)
add_dependencies(test_${name} test_good_plugin test_nosym_plugin)
target_compile_definitions(test_${name} PRIVATE
  TEST_GOOD_PLUGIN="$<TARGET_FILE:test_good_plugin>"
  TEST_NOSYM_PLUGIN="$<TARGET_FILE:test_nosym_plugin>")
