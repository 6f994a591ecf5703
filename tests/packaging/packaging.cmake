# The installed package as a user meets it (see check.cmake).
if(TARNCTL_SANITIZE)
  set(TARN_CONSUMER_FLAGS "-fsanitize=address,undefined")
else()
  set(TARN_CONSUMER_FLAGS "")
endif()
add_test(NAME packaging.install_and_consume
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${PROJECT_BINARY_DIR} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
    -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/packaging-check
    -DCXX=${CMAKE_CXX_COMPILER} "-DCXX_FLAGS=${TARN_CONSUMER_FLAGS}"
    -P ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check.cmake)
set_tests_properties(packaging.install_and_consume PROPERTIES TIMEOUT 300
  ENVIRONMENT "TARNCTL_LOG_LEVEL=none;ASAN_OPTIONS=detect_leaks=0")
