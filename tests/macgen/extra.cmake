target_link_libraries(test_macgen PRIVATE OpenSSL::Crypto)
