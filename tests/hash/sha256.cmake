find_package(OpenSSL REQUIRED)
kaldro_add_test_suite(test_sha256 SOURCES sha256_test.cpp LIBS OpenSSL::Crypto)
