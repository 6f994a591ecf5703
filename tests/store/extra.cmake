target_link_libraries(test_store PRIVATE PkgConfig::SQLITE3)
