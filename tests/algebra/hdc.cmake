kaldro_add_test_suite(test_hdc SOURCES hdc_test.cpp)
