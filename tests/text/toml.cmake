kaldro_add_test_suite(test_toml SOURCES toml_test.cpp)
