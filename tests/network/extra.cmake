target_link_libraries(test_network PRIVATE PkgConfig::SQLITE3)
