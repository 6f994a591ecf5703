# libuuid is the independent oracle of the canonical UUID text.
find_library(TARN_LIBUUID uuid REQUIRED)
target_link_libraries(test_system PRIVATE ${TARN_LIBUUID})
