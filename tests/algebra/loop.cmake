kaldro_add_test_suite(test_loop SOURCES loop_test.cpp)
